#include "launcher/app_win.h"

#include <commctrl.h>

#include <atomic>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>

#include "launcher/base/app_state.h"
#include "launcher/base/errors.h"
#include "launcher/base/events.h"
#include "launcher/platform/wide_win.h"
#include "launcher/ui/window_win.h"

namespace orv {

std::vector<std::string> CommandLineArguments;
StartMode StartModeValue = StartMode::Normal;

namespace {

constexpr wchar_t kQueueClassName[] = L"Orvanta.GuiQueue";
constexpr UINT kRunQueuedWork = WM_APP + 1;

HINSTANCE g_instance = nullptr;
DWORD g_guiThread = 0;
// Read by the loops after every message; set on the GUI thread (TerminateApplication, WM_QUIT).
bool g_terminated = false;

// Work handed to the GUI thread. The message-only window lives until the process ends; a worker
// that posts during shutdown finds it gone and its work is dropped.
struct WorkQueue {
    std::mutex lock;
    std::deque<std::function<void()>> items;
    ScopedWindow window;
    std::atomic<HWND> target{nullptr};
};
WorkQueue& Queue() {
    static WorkQueue queue;
    return queue;
}

void RunQueuedWork() {
    WorkQueue& queue = Queue();
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard<std::mutex> guard(queue.lock);
            if (queue.items.empty()) return;
            work = std::move(queue.items.front());
            queue.items.pop_front();
        }
        RunGuarded(work);
    }
}

LRESULT CALLBACK QueueProcedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kRunQueuedWork) {
        // Errors are caught per item inside; nothing can escape into the dispatcher.
        RunQueuedWork();
        return 0;
    }
    if (msg == WM_NCDESTROY) Queue().target.store(nullptr);
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

void CreateQueueWindow() {
    WorkQueue& queue = Queue();
    if (queue.window) return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = QueueProcedure;
    wc.hInstance = g_instance;
    wc.lpszClassName = kQueueClassName;
    if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) RaiseLastPlatformError();
    HWND hwnd = ::CreateWindowExW(0, kQueueClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, g_instance, nullptr);
    if (!hwnd) RaiseLastPlatformError();
    queue.window.Reset(hwnd);
    queue.target.store(hwnd);
}

}  // namespace

std::string ExecutablePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) RaiseLastPlatformError();
        // A full buffer means the path was cut; paths are at most 32767 characters.
        if (n < buffer.size()) {
            buffer.resize(n);
            return Narrow(buffer);
        }
        if (buffer.size() >= 32768) throw EOSError(ERROR_INSUFFICIENT_BUFFER, PlatformErrorMessage(ERROR_INSUFFICIENT_BUFFER));
        buffer.resize(buffer.size() * 2);
    }
}

std::string ExecutableFolder() {
    const std::string path = ExecutablePath();
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

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
    CreateQueueWindow();
}

HINSTANCE ApplicationInstance() noexcept { return g_instance ? g_instance : ::GetModuleHandleW(nullptr); }

void SetApplicationTitle(const std::string& title) { ApplicationTitle = title; }

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

void PostToGuiThread(std::function<void()> work) {
    WorkQueue& queue = Queue();
    const HWND target = queue.target.load();
    if (!target || !work) return;
    {
        std::lock_guard<std::mutex> guard(queue.lock);
        queue.items.push_back(std::move(work));
    }
    // A failed post (full message queue) leaves the work queued: the next post that succeeds
    // runs everything in order.
    ::PostMessageW(target, kRunQueuedWork, 0, 0);
}

bool OnGuiThread() noexcept { return g_guiThread != 0 && ::GetCurrentThreadId() == g_guiThread; }

bool RunOnGuiThreadAndWait(std::function<void()> work) {
    if (!work) return true;
    if (OnGuiThread()) {
        RunGuarded(work);
        return true;
    }
    if (!Queue().target.load()) return false;
    // Shared with the queued call, which may still hold it if this thread ever stopped waiting.
    auto done = std::make_shared<ScopedHandle>(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!*done) RaiseLastPlatformError();
    PostToGuiThread([done, work = std::move(work)] {
        RunGuarded(work);
        ::SetEvent(done->Get());
    });
    if (::WaitForSingleObject(done->Get(), INFINITE) != WAIT_OBJECT_0) RaiseLastPlatformError();
    return true;
}

MsgResult Win32MessageBox(const MessageRequest& request) {
    HWND owner = static_cast<HWND>(request.owner);
    // A box owned by a window that is gone would not be shown at all.
    if (owner && !::IsWindow(owner)) owner = nullptr;
    const int answer =
        ::MessageBoxW(owner, Wide(request.text).c_str(), Wide(request.caption).c_str(), request.flags);
    if (answer < static_cast<int>(MsgResult::Ok) || answer > static_cast<int>(MsgResult::No)) return MsgResult::None;
    return static_cast<MsgResult>(answer);
}

void ShowCurrentException() noexcept {
    try {
        ShowErrorBox(DescribeException(std::current_exception()).Message);
    } catch (...) {
        // Out of memory or a failing box: nothing is left to report it with.
    }
}

}  // namespace orv
