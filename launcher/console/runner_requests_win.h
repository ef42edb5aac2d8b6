// The console runner's calls to the GUI thread, in one queue of the component's own: what the
// worker posts (lines, list updates, the process information) and what it waits for (the kill
// question, the end report). The GUI thread's message loop runs them; TDosCommand::Stop runs them
// alone while it waits for the worker, so that nothing else (a click, a window's close, another
// worker's posts) can run inside that wait.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "launcher/platform/scoped_win.h"

namespace orv {

class RunnerRequests : public std::enable_shared_from_this<RunnerRequests> {
public:
    // Made shared only: a call already handed to the message loop finds the queue gone and does
    // nothing. Raises EOSError when the event cannot be made.
    static std::shared_ptr<RunnerRequests> Create();
    RunnerRequests(const RunnerRequests&) = delete;
    RunnerRequests& operator=(const RunnerRequests&) = delete;

    // Any thread: queues `work`, signals Event() and asks the GUI thread's message loop to run the
    // queue. Calls run in the order they were queued.
    void Post(std::function<void()> work);
    // Worker thread: queues `work` and returns once the GUI thread has run it (an error it raises
    // goes to the application's error box). Raises EOSError when the wait fails.
    void PostAndWait(std::function<void()> work);
    // GUI thread: runs the queued calls in order, also those queued meanwhile. A call may pump or
    // stop the runner and so run later calls inside itself; the order stays that of queueing.
    void RunPending();
    // Auto-reset; signalled by every Post.
    HANDLE Event() const noexcept { return event_.Get(); }

private:
    RunnerRequests();

    std::mutex lock_;
    std::deque<std::function<void()>> items_;
    ScopedHandle event_;
};

}  // namespace orv
