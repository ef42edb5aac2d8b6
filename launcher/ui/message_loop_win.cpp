#include "launcher/ui/message_loop_win.h"

#include <commctrl.h>

#include <exception>

#include "launcher/base/errors.h"
#include "launcher/base/events.h"
#include "launcher/base/message_box.h"
#include "launcher/ui/gui_thread_win.h"
#include "launcher/ui/message_box_win.h"
#include "launcher/ui/window_win.h"

namespace orv {

namespace {

HINSTANCE g_instance = nullptr;
DWORD g_guiThread = 0;
// Read by the loops after every message; set on the GUI thread (TerminateApplication, WM_QUIT).
bool g_terminated = false;

}  // namespace

void InitializeApplication(HINSTANCE instance) {
    g_instance = instance;
    g_guiThread = ::GetCurrentThreadId();
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS;
    ::InitCommonControlsEx(&controls);
    SetEventPump(&ProcessMessages);
    SetWaitPump(&ProcessMessages);
    SetMessageHandler(&Win32MessageBox);
    CreateGuiWorkQueue(g_instance);
}

HINSTANCE ApplicationInstance() noexcept { return g_instance ? g_instance : ::GetModuleHandleW(nullptr); }

void RunApplication(Window& mainWindow) {
    if (!g_terminated) mainWindow.Show();
    MSG msg;
    while (!g_terminated) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) break;  // WM_QUIT, or a queue that can no longer be read
        DispatchGuiMessage(msg);
    }
}

void TerminateApplication() noexcept {
    g_terminated = true;
    // Wakes a loop that is waiting in GetMessage; the message itself does nothing.
    if (g_guiThread) ::PostThreadMessageW(g_guiThread, WM_NULL, 0, 0);
}

bool ApplicationTerminated() noexcept { return g_terminated; }

void ResetApplicationTermination() noexcept { g_terminated = false; }

// At least twenty repaints a second while work pumps, with room for pumps that come a few
// milliseconds apart.
constexpr DWORD kPaintIntervalMs = 40;

void ProcessMessages() {
    // Another thread has no GUI messages of ours; pumping there would only steal its own.
    if (g_guiThread && ::GetCurrentThreadId() != g_guiThread) return;
    // Work that pumps between its steps (a check run does several times per file) would otherwise
    // spend most of its time repainting what changes faster than anyone can read: input, sent and
    // posted messages are handled at every pump, paints and timers at most every interval.
    static DWORD lastFullPump = 0;
    const DWORD now = ::GetTickCount();
    UINT flags = PM_REMOVE;
    if (now - lastFullPump >= kPaintIntervalMs)
        lastFullPump = now;
    else
        flags |= PM_QS_INPUT | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE;
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, flags)) {
        if (msg.message == WM_QUIT) {
            g_terminated = true;
            continue;
        }
        DispatchGuiMessage(msg);
    }
}

void DispatchGuiMessage(MSG& msg) {
    if (msg.hwnd) {
        if (Window* window = Window::FromHandle(::GetAncestor(msg.hwnd, GA_ROOT))) {
            bool handled = false;
            RunGuarded([&] { handled = window->PreTranslateMessage(msg); });
            if (handled) return;
        }
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
}

bool OnGuiThread() noexcept { return g_guiThread != 0 && ::GetCurrentThreadId() == g_guiThread; }

void ShowCurrentException() noexcept {
    try {
        ShowErrorBox(DescribeException(std::current_exception()).Message);
    } catch (...) {
        // Out of memory or a failing box: nothing is left to report it with.
    }
}

}  // namespace orv
