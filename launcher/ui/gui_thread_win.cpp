#include "launcher/ui/gui_thread_win.h"

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>

#include "launcher/base/errors.h"
#include "launcher/platform/scoped_win.h"
#include "launcher/ui/message_loop_win.h"
#include "launcher/ui/window_win.h"

namespace orv {
namespace {

constexpr wchar_t kQueueClassName[] = L"Orvanta.GuiQueue";
constexpr UINT kRunQueuedWork = WM_APP + 1;

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

}  // namespace

void CreateGuiWorkQueue(HINSTANCE instance) {
    WorkQueue& queue = Queue();
    if (queue.window) return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = QueueProcedure;
    wc.hInstance = instance;
    wc.lpszClassName = kQueueClassName;
    if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) RaiseLastPlatformError();
    HWND hwnd = ::CreateWindowExW(0, kQueueClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    if (!hwnd) RaiseLastPlatformError();
    queue.window.Reset(hwnd);
    queue.target.store(hwnd);
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

}  // namespace orv
