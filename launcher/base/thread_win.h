// A small worker-thread base: the platform thread is created suspended, started by its owner,
// asked to stop through a flag, waited for and freed by its owner. An error that ends Execute is
// kept as the thread's fatal error instead of leaving the thread entry.
#pragma once

#include <windows.h>

#include <atomic>
#include <exception>
#include <string>

#include "launcher/platform/scoped_win.h"

namespace orv {

// The error that ended Execute; empty after a normal end.
struct ThreadFatalError {
    std::exception_ptr Exception;
    std::string ClassName;  // "EOSError", "Exception", ...
    std::string Message;

    explicit operator bool() const noexcept { return static_cast<bool>(Exception); }
};

class TThread {
public:
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
    TThread();

    // Runs on the thread. Whatever it raises becomes the fatal error.
    virtual void Execute() = 0;

    // Every derived class calls this first in its destructor: members of a derived class are gone
    // before ~TThread runs, so waiting there alone would leave Execute running on a half-destroyed
    // object. Safe to call more than once and from the thread itself (free-on-terminate).
    void EndBeforeDestroy() noexcept;

private:
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

}  // namespace orv
