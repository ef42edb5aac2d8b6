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

void TrayIcon::Add(HWND window) {
    if (window_) return;
    // A desktop without a notification area refuses the icon; the window is hidden all the same,
    // as minimising always does here.
    if (Notify(NIM_ADD, Record(window))) window_ = window;
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
    tray_.Add(Handle());
    ::ShowWindow(Handle(), SW_HIDE);
    return true;
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
