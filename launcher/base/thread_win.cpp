#include "launcher/base/thread_win.h"

#include <process.h>

#include "launcher/base/errors.h"

namespace orv {

TThread::TThread(CreationKey) {
    unsigned id = 0;
    // _beginthreadex rather than CreateThread so the C runtime sets up its per-thread state.
    const uintptr_t h = ::_beginthreadex(nullptr, 0, &TThread::ThreadEntry, this, CREATE_SUSPENDED, &id);
    if (h == 0) {
        DWORD code = ::GetLastError();
        if (code == ERROR_SUCCESS) code = ERROR_NOT_ENOUGH_MEMORY;
        throw EOSError(code, PlatformErrorMessage(code));
    }
    handle_.Reset(reinterpret_cast<HANDLE>(h));
    threadId_ = id;
}

// ThreadObject has ended the thread already; this is for a worker whose own constructor failed
// after the thread was created, which must not leave a suspended thread pointing at freed memory.
TThread::~TThread() { EndBeforeDestroy(); }

void TThread::Start() {
    if (started_.exchange(true)) throw Error("Cannot call Start on a running or terminated thread");
    if (::ResumeThread(handle_.Get()) == static_cast<DWORD>(-1)) {
        const DWORD code = ::GetLastError();
        started_.store(false);
        throw EOSError(code, PlatformErrorMessage(code));
    }
}

void TThread::WaitFor() {
    if (::GetCurrentThreadId() == threadId_) throw Error("Cannot call WaitFor on the current thread");
    // A thread that never started has run nothing and will not end by itself: waiting for it
    // would hang the caller's clean-up after a failed Start.
    if (!started_.load() || !handle_) return;
    if (::WaitForSingleObject(handle_.Get(), INFINITE) == WAIT_FAILED) RaiseLastPlatformError();
}

const ThreadFatalError& TThread::FatalError() const noexcept {
    static const ThreadFatalError none;
    return Finished() ? fatalError_ : none;
}

void TThread::EndBeforeDestroy() noexcept {
    // Freeing itself after Execute (free-on-terminate): there is nothing left to wait for.
    if (!handle_ || ::GetCurrentThreadId() == threadId_) return;
    destroying_.store(true);
    Terminate();
    if (!started_.exchange(true)) {
        // Never started: let it run to its end, which skips Execute because Terminated is set.
        if (::ResumeThread(handle_.Get()) == static_cast<DWORD>(-1)) {
            // It has run none of our code and holds nothing; ending it is the only way to be sure
            // it never calls into a freed object.
            ::TerminateThread(handle_.Get(), 0);
        }
    }
    ::WaitForSingleObject(handle_.Get(), INFINITE);
}

unsigned __stdcall TThread::ThreadEntry(void* param) noexcept {
    auto* self = static_cast<TThread*>(param);
    if (!self->Terminated()) {
        try {
            self->Execute();
        } catch (...) {
            self->RecordFatalError(std::current_exception());
        }
    }
    // An owner that is already destroying the object frees it itself once this thread has ended.
    const bool freeSelf = self->FreeOnTerminate() && !self->destroying_.load();
    self->finished_.store(true, std::memory_order_release);
    if (freeSelf) delete self;
    return 0;
}

void TThread::RecordFatalError(std::exception_ptr error) noexcept {
    fatalError_.Exception = error;
    try {
        ErrorDescription description = DescribeException(error);
        fatalError_.ClassName = std::move(description.ClassName);
        fatalError_.Message = std::move(description.Message);
    } catch (...) {
        // Out of memory while copying the texts: the exception itself is still kept.
    }
}

}  // namespace orv
