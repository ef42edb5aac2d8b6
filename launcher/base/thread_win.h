// A small worker-thread base: the platform thread is created suspended, started by its owner,
// asked to stop through a flag, waited for and freed by its owner. An error that ends Execute is
// kept as the thread's fatal error instead of leaving the thread entry. Workers are made with
// MakeThread only, so that the thread has always ended before a worker's own members go.
#pragma once

#include <windows.h>

#include <atomic>
#include <exception>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "launcher/platform/scoped_win.h"

namespace orv {

template <class Worker>
class ThreadObject;

// The error that ended Execute; empty after a normal end.
struct ThreadFatalError {
    std::exception_ptr Exception;
    std::string ClassName;  // "EOSError", "Exception", ...
    std::string Message;

    explicit operator bool() const noexcept { return static_cast<bool>(Exception); }
};

class TThread {
public:
    // Every worker's constructor takes one and hands it on to TThread. Only ThreadObject can make
    // one, so a worker cannot be made without the destructor that ends its thread in time.
    class CreationKey {
        CreationKey() = default;
        template <class Worker>
        friend class ThreadObject;
    };

    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;
    // A thread that is still running is asked to terminate and waited for first; a thread that was
    // never started ends without running Execute.
    virtual ~TThread();

    // Lets the suspended thread run Execute. A thread runs once: a second Start raises Error.
    void Start();
    // Sets the flag that Execute may read; it does not interrupt anything.
    void Terminate() noexcept { terminated_.store(true, std::memory_order_release); }
    bool Terminated() const noexcept { return terminated_.load(std::memory_order_acquire); }
    // Blocks until the thread has ended; returns at once for a thread that never started or has
    // already ended. Raises Error when called from the thread itself, EOSError when the wait fails.
    void WaitFor();
    // The platform thread handle, for WaitForSingleObject; signalled once the thread has ended.
    HANDLE Handle() const noexcept { return handle_.Get(); }
    // What a stop waits for: the thread's end, or the end of the work in hand for a worker that is
    // kept for more than one piece of work (signalled while it has none).
    virtual HANDLE WorkEndedHandle() const noexcept { return Handle(); }
    DWORD ThreadID() const noexcept { return threadId_; }

    // With true the object deletes itself once Execute has ended; its owner must then not touch it
    // after Start. The launcher's callers keep it false and free their workers themselves.
    bool FreeOnTerminate() const noexcept { return freeOnTerminate_.load(std::memory_order_acquire); }
    void SetFreeOnTerminate(bool value) noexcept { freeOnTerminate_.store(value, std::memory_order_release); }

    // True once Execute has ended (normally or by an error); the fatal error is then final.
    bool Finished() const noexcept { return finished_.load(std::memory_order_acquire); }
    // The error that ended Execute. Empty while the thread runs and after a normal end.
    const ThreadFatalError& FatalError() const noexcept;

protected:
    // Creates the platform thread suspended. Raises EOSError when the platform refuses.
    explicit TThread(CreationKey);

    // Runs on the thread. Whatever it raises becomes the fatal error.
    virtual void Execute() = 0;

private:
    template <class Worker>
    friend class ThreadObject;

    // Members of a worker are gone before ~TThread runs, so waiting there alone would leave Execute
    // running on a half-destroyed object: ThreadObject calls this before any of them goes. Safe to
    // call more than once and from the thread itself (free-on-terminate).
    void EndBeforeDestroy() noexcept;

    static unsigned __stdcall ThreadEntry(void* self) noexcept;
    void RecordFatalError(std::exception_ptr error) noexcept;

    ScopedHandle handle_;
    DWORD threadId_ = 0;
    std::atomic<bool> started_{false};
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> freeOnTerminate_{false};
    std::atomic<bool> destroying_{false};
    ThreadFatalError fatalError_;
};

// The most-derived class of every worker: its destructor runs before the worker's own and ends
// the thread first. Final, so nothing can come after it and be destroyed while Execute runs.
template <class Worker>
class ThreadObject final : public Worker {
public:
    template <class... Args>
    explicit ThreadObject(Args&&... args) : Worker(TThread::CreationKey(), std::forward<Args>(args)...) {}
    ~ThreadObject() override { this->TThread::EndBeforeDestroy(); }
};

// Creates a worker with its platform thread suspended; `args` follow the CreationKey of the
// worker's constructor. Raises EOSError when the platform refuses the thread.
template <class Worker, class... Args>
std::unique_ptr<Worker> MakeThread(Args&&... args) {
    static_assert(std::is_base_of_v<TThread, Worker>, "a worker derives from TThread");
    return std::make_unique<ThreadObject<Worker>>(std::forward<Args>(args)...);
}

}  // namespace orv
