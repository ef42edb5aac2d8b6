#include "launcher/console/runner_requests_win.h"

#include <utility>

#include "launcher/base/errors.h"
#include "launcher/ui/gui_thread_win.h"
#include "launcher/ui/message_loop_win.h"

namespace orv {

RunnerRequests::RunnerRequests() : event_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    if (!event_) RaiseLastPlatformError();
}

std::shared_ptr<RunnerRequests> RunnerRequests::Create() {
    return std::shared_ptr<RunnerRequests>(new RunnerRequests());
}

void RunnerRequests::Post(std::function<void()> work) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        items_.push_back(std::move(work));
    }
    ::SetEvent(event_.Get());
    PostToGuiThread([queue = weak_from_this()] {
        if (const auto self = queue.lock()) self->RunPending();
    });
}

void RunnerRequests::PostAndWait(std::function<void()> work) {
    // Shared with the queued call, which still holds it when it sets it.
    auto done = std::make_shared<ScopedHandle>(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!*done) RaiseLastPlatformError();
    Post([done, work = std::move(work)] {
        RunGuarded(work);
        ::SetEvent(done->Get());
    });
    if (::WaitForSingleObject(done->Get(), INFINITE) != WAIT_OBJECT_0) RaiseLastPlatformError();
}

void RunnerRequests::RunPending() {
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (items_.empty()) return;
            work = std::move(items_.front());
            items_.pop_front();
        }
        RunGuarded(work);
    }
}

}  // namespace orv
