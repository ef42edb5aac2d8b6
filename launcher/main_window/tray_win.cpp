// The main window's tray and about handlers: minimising to the notification area, the icon's
// mouse messages, the tray menu's "Выход" and the about box.
#include "launcher/main_window/tray_win.h"

#include <cwchar>

#include "launcher/about_text.h"
#include "launcher/base/app_state.h"
#include "launcher/base/message_box.h"
#include "launcher/main_window/main_window_win.h"

namespace orv {
namespace {

TrayNotifier& NotifierOverride() {
    static TrayNotifier notifier;
    return notifier;
}

bool Notify(DWORD message, const NOTIFYICONDATAW& record) {
    if (NotifierOverride()) return NotifierOverride()(message, record);
    NOTIFYICONDATAW copy = record;
    return ::Shell_NotifyIconW(message, &copy) != FALSE;
}

}  // namespace

void SetTrayNotifier(TrayNotifier notifier) { NotifierOverride() = std::move(notifier); }

UINT TaskbarCreatedMessage() {
    static const UINT message = ::RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}

void TrayIcon::ListenForTaskbar(HWND window) {
    const UINT message = TaskbarCreatedMessage();
    if (!message) return;
    // Explorer sends TaskbarCreated at medium integrity; User Interface Privilege Isolation keeps
    // registered messages from lower-integrity senders away from an elevated window unless the
    // window lets them through ("Taskbar Creation Notification" in the Windows Shell's taskbar
    // documentation, and ChangeWindowMessageFilterEx). Wine has no integrity levels to show it. The
    // calls fail only for processes at low integrity or below, which an elevated launcher is not.
    // The per-window filter comes with Windows 7; looked up at run time, so that the launcher still
    // loads on Vista, which has only the process-wide one (ChangeWindowMessageFilter).
    using FilterFn = BOOL(WINAPI*)(HWND, UINT, DWORD, PCHANGEFILTERSTRUCT);
    const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    const auto filter = reinterpret_cast<FilterFn>(
        reinterpret_cast<void*>(user32 ? ::GetProcAddress(user32, "ChangeWindowMessageFilterEx") : nullptr));
    if (filter)
        filter(window, message, MSGFLT_ALLOW, nullptr);
    else
        ::ChangeWindowMessageFilter(message, MSGFLT_ADD);
}

NOTIFYICONDATAW TrayIcon::Record(HWND window) {
    NOTIFYICONDATAW record{};
    record.cbSize = sizeof(record);
    record.hWnd = window;
    record.uID = 1;
    record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record.uCallbackMessage = TrayCallbackMessage;
    record.hIcon = reinterpret_cast<HICON>(::GetClassLongPtrW(window, GCLP_HICONSM));
    if (!record.hIcon) record.hIcon = reinterpret_cast<HICON>(::GetClassLongPtrW(window, GCLP_HICON));
    std::wcsncpy(record.szTip, L"Orvanta", sizeof(record.szTip) / sizeof(record.szTip[0]) - 1);
    return record;
}

bool TrayIcon::Add(HWND window) {
    if (window_) return true;
    if (!Notify(NIM_ADD, Record(window))) return false;
    window_ = window;
    return true;
}

bool TrayIcon::Readd() {
    if (!window_) return true;
    const HWND window = window_;
    window_ = nullptr;
    // The message does not say whether this icon went with the old taskbar: one still there goes
    // first, so that adding it cannot fail for being there already.
    Notify(NIM_DELETE, Record(window));
    return Add(window);
}

void TrayIcon::Delete() noexcept {
    if (!window_) return;
    const HWND window = window_;
    window_ = nullptr;
    try {
        Notify(NIM_DELETE, Record(window));
    } catch (...) {
        // A recording notifier that fails must not keep the program from ending.
    }
}

bool TForm1::MinimizeToTray(WPARAM command) {
    // The whole value: the low four bits of a system command are the system's own, and a command
    // that carries them is no plain minimise.
    if (command != SC_MINIMIZE) return false;
    // Without an icon a hidden window could not be brought back, and a second start is refused as
    // "already running": a shell that refuses the icon gets a window minimised as usual.
    if (!tray_.Add(Handle())) return false;
    ::ShowWindow(Handle(), SW_HIDE);
    return true;
}

void TForm1::TaskbarCreated() {
    if (!tray_.Exists() || tray_.Readd()) return;
    // The icon could not come back: the hidden window goes to the taskbar instead.
    ::ShowWindow(Handle(), SW_SHOWMINNOACTIVE);
}

void TForm1::TrayIconMessage(LPARAM mouseMessage) {
    POINT cursor{};
    ::GetCursorPos(&cursor);
    switch (mouseMessage) {
        case WM_LBUTTONUP:
        case WM_LBUTTONDBLCLK:
            tray_.Delete();
            ::ShowWindow(Handle(), SW_SHOW);
            break;
        case WM_RBUTTONUP:
            ::SetForegroundWindow(Handle());
            ::TrackPopupMenu(pm1(), TPM_LEFTALIGN | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, Handle(), nullptr);
            // Without it the menu would not close when the player clicks elsewhere next time.
            ::PostMessageW(Handle(), WM_NULL, 0, 0);
            break;
        default:
            break;
    }
}

void TForm1::N1Click() {
    Close();
    tray_.Delete();
}

void TForm1::AboutProgramClick() { ShowMessage(AboutText(UiLanguage)); }

}  // namespace orv
