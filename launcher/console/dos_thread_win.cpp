#include "launcher/console/dos_thread_win.h"

#include <utility>

#include "launcher/base/errors.h"
#include "launcher/console/dos_command_win.h"
#include "launcher/console/process_timer_win.h"
#include "launcher/console/runner_requests_win.h"
#include "launcher/platform/wide_win.h"

namespace orv {

namespace {

[[noreturn]] void RaisePipeError() { throw ECreatePipeError(CreatePipeErrorMessage(PlatformErrorMessage(::GetLastError()))); }

ScopedHandle Duplicate(HANDLE source, bool inheritable) {
    HANDLE copy = nullptr;
    const HANDLE self = ::GetCurrentProcess();
    if (!::DuplicateHandle(self, source, self, &copy, 0, inheritable ? TRUE : FALSE, DUPLICATE_SAME_ACCESS))
        RaisePipeError();
    return ScopedHandle(copy);
}

// Closes now, with the failure reported; the owner is empty afterwards either way.
void CloseChecked(ScopedHandle& handle) {
    const HANDLE h = handle.Release();
    if (h && !::CloseHandle(h)) RaisePipeError();
}

// The launcher's own environment followed by `extra`, each entry closed by a NUL, then one more.
std::wstring EnvironmentBlock(const std::vector<std::string>& extra) {
    std::wstring block;
    if (const LPWCH own = ::GetEnvironmentStringsW()) {
        for (const wchar_t* p = own; *p; p += wcslen(p) + 1) {
            block += p;
            block += L'\0';
        }
        ::FreeEnvironmentStringsW(own);
    }
    for (const std::string& entry : extra) {
        block += Wide(entry);
        block += L'\0';
    }
    block += L'\0';
    return block;
}

}  // namespace

// ---- TSyncString

void TSyncString::Add(const std::u16string& text) {
    std::lock_guard<std::mutex> guard(lock_);
    value_ += text;
}

void TSyncString::Delete(std::size_t start, std::size_t count) {
    std::lock_guard<std::mutex> guard(lock_);
    if (start < value_.size()) value_.erase(start, count);
}

std::size_t TSyncString::Length() const {
    std::lock_guard<std::mutex> guard(lock_);
    return value_.size();
}

std::u16string TSyncString::Value() const {
    std::lock_guard<std::mutex> guard(lock_);
    return value_;
}

void TSyncString::SetValue(const std::u16string& value) {
    std::lock_guard<std::mutex> guard(lock_);
    value_ = value;
}

// ---- TReadPipe

TReadPipe::TReadPipe(CreationKey key, ScopedHandle readHandle, OutputDecoder decoder)
    : TThread(key),
      event_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      drainMarkWritten_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      decoder_(std::move(decoder)),
      read_(std::move(readHandle)) {
    if (!event_ || !drainMarkWritten_) RaiseLastPlatformError();
}

void TReadPipe::Execute() {
    std::string buffer(kBlockSize, '\0');
    while (!Terminated()) {
        std::fill(buffer.begin(), buffer.end(), '\0');
        DWORD got = 0;
        const bool read = ::ReadFile(read_.Get(), buffer.data(), kBlockSize, &got, nullptr) != FALSE;
        // A failed read ends the output: the worker cancelled it, or every write end has gone
        // (ERROR_BROKEN_PIPE), after which no read would ever wait again.
        if (Terminated() || !read) break;
        if (got == 0) continue;  // a write of nothing
        const bool drained = drainRequested_.load() && buffer[got - 1] == '\0' && ReadTheDrainMark();
        if (drained) --got;
        if (got != 0) {
            syncString_.Add(decoder_(buffer.substr(0, got)));
            ::SetEvent(event_.Get());
        }
        if (drained) break;
    }
    // Closed here, by its one thread: a NUL the worker still writes then fails at once instead
    // of waiting for room in a pipe nobody reads.
    read_.Reset();
}

bool TReadPipe::ReadTheDrainMark() {
    // The worker's NUL is the last byte written (the child has ended; only a grandchild that
    // still writes can blur this, and the worker's wait for the drain is bounded for it). Once it
    // is known to be in the pipe and the pipe is empty, it has been read, and by this read: an
    // earlier read that ended with it would have ended the reader. Until then a NUL that ends a
    // read may be the child's own.
    // The peek runs on this thread, the read end's one owner, between its own reads: no read of another
    // thread is pending on the handle, so Windows' serialising of synchronous I/O on one file
    // object cannot make it wait (the child writes through another end).
    for (;;) {
        const bool written = ::WaitForSingleObject(drainMarkWritten_.Get(), 0) == WAIT_OBJECT_0;
        DWORD available = 0;
        if (!::PeekNamedPipe(read_.Get(), nullptr, 0, nullptr, &available, nullptr) || available != 0) return false;
        if (written) return true;
        if (Terminated()) return false;
        // Bounded, so that output arriving meanwhile is read: the worker's write may be waiting
        // for room that only this thread can make.
        ::WaitForSingleObject(drainMarkWritten_.Get(), 10);
    }
}

namespace {

// One NUL through the spare write end; the line assembler drops it should it reach the text.
bool WriteNul(HANDLE spareWrite) {
    const char nul = '\0';
    DWORD written = 0;
    return ::WriteFile(spareWrite, &nul, 1, &written, nullptr) && written == 1;
}

}  // namespace

bool TReadPipe::RequestDrain(HANDLE spareWrite) {
    if (::WaitForSingleObject(Handle(), 0) == WAIT_OBJECT_0) return false;
    // The request is visible before the NUL can be read, so the read that gets it knows to look.
    drainRequested_.store(true);
    const bool written = WriteNul(spareWrite);
    ::SetEvent(drainMarkWritten_.Get());
    return written;
}

void TReadPipe::Release(HANDLE spareWrite) {
    Terminate();
    // The pending read is ended by CancelSynchronousIo, the documented means for a synchronous
    // read of another thread, repeated because the reader may be between two reads when a cancel
    // comes (it cancels only what is pending). A NUL through W3 wakes a read that no cancel
    // reached; the reader, terminated, hands nothing over. The write does not wait for long: the
    // pipe has room while the reader waits in a read, and once the reader ends it closes R',
    // which fails any write that waits.
    while (::WaitForSingleObject(Handle(), 0) == WAIT_TIMEOUT) {
        ::CancelSynchronousIo(Handle());
        WriteNul(spareWrite);
        if (::WaitForSingleObject(Handle(), 20) != WAIT_TIMEOUT) break;
    }
    WaitFor();
}

// ---- TDosThread

TDosThread::TDosThread(CreationKey key, TDosCommand& owner, DosRunSettings settings, TProcessTimer& timer)
    : TThread(key),
      owner_(owner),
      settings_(std::move(settings)),
      timer_(timer),
      terminateEvent_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      inputEvent_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      assembler_(settings_.hasOutputLines) {
    if (!terminateEvent_ || !inputEvent_) RaiseLastPlatformError();
}

void TDosThread::RequestStop() noexcept {
    Terminate();
    ::SetEvent(terminateEvent_.Get());
}

void TDosThread::Execute() {
    try {
        Run();
    } catch (...) {
        owner_.endStatus_.exchange(static_cast<int32_t>(TEndStatus::esError));
        runError_ = std::current_exception();
        // A run that failed before its reader existed still closes the launcher's pipe ends now.
        readOut_.Reset();
        inputWrite_.Reset();
        spareWrite_.Reset();
    }
    owner_.requests_->PostAndWait([this] { owner_.RunWorkerRequest([this] { owner_.WorkerFinished(*this); }); });
    if (runError_) std::rethrow_exception(runError_);
}

void TDosThread::Run() {
    // A present but null access list: every user may use the pipe handles.
    SECURITY_DESCRIPTOR descriptor{};
    if (!::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE))
        RaisePipeError();
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof(attributes);
    attributes.bInheritHandle = TRUE;
    attributes.lpSecurityDescriptor = &descriptor;

    // Output pipe: the child writes W (standard output) and W2 (standard error); W3 is this
    // thread's spare write end, through which it wakes the reader.
    ScopedHandle r, w;
    if (!::CreatePipe(r.Put(), w.Put(), &attributes, 0)) RaisePipeError();
    ScopedHandle w2 = Duplicate(w.Get(), true);
    spareWrite_ = Duplicate(w.Get(), false);
    // Input pipe: the child reads IR; nothing is ever written to IW'.
    ScopedHandle ir, iw;
    if (!::CreatePipe(ir.Put(), iw.Put(), &attributes, 0)) RaisePipeError();
    // The launcher keeps only non-inheritable ends, so the child inherits none of them.
    readOut_ = Duplicate(r.Get(), false);
    inputWrite_ = Duplicate(iw.Get(), false);
    CloseChecked(r);
    CloseChecked(iw);

    STARTUPINFOW startup{};
    ::GetStartupInfoW(&startup);
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = ir.Get();
    startup.hStdOutput = w.Get();
    startup.hStdError = w2.Get();

    const std::wstring folder = Wide(settings_.currentDir);
    std::wstring environment;
    if (!settings_.environment.empty()) environment = EnvironmentBlock(settings_.environment);
    std::wstring commandLine = Wide(settings_.commandLine);
    commandLine.push_back(L'\0');  // CreateProcessW may write into it

    PROCESS_INFORMATION info{};
    const DWORD flags = static_cast<DWORD>(settings_.priority) | CREATE_NEW_CONSOLE | CREATE_UNICODE_ENVIRONMENT;
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, flags,
                          environment.empty() ? nullptr : environment.data(),
                          folder.empty() ? nullptr : folder.c_str(), &startup, &info))
        throw ECreateProcessError(CreateProcessErrorMessage(settings_.commandLine, PlatformErrorMessage(::GetLastError())));
    process_.Reset(info.hProcess);
    thread_.Reset(info.hThread);

    owner_.requests_->Post([owner = &owner_, info] { owner->processInformation_ = info; });
    CloseChecked(w);
    CloseChecked(ir);
    CloseChecked(w2);

    // From here R' is the reader's.
    TDosCommand& owner = owner_;
    std::unique_ptr<TReadPipe> reader = MakeThread<TReadPipe>(
        std::move(readOut_), [&owner](const std::string& bytes) { return owner.DecodeOutput(owner, bytes); });
    reader->Start();
    try {
        DWORD code = kStillActive;
        ::GetExitCodeProcess(process_.Get(), &code);
        uint32_t exitCode = code;
        MainLoop(*reader, exitCode);

        if (exitCode != kStillActive && !Terminated()) DrainOutput(*reader);
        const RunEnd end = DecideRunEnd(Terminated(), exitCode);
        owner_.endStatus_.exchange(static_cast<int32_t>(end.status));
        canTerminate_ = end.canTerminate;
        if (end.canTerminate) DoTerminateProcess();

        Deliver(assembler_.Flush());
    } catch (...) {
        CleanUp(reader);
        throw;
    }
    CleanUp(reader);
}

void TDosThread::MainLoop(TReadPipe& reader, uint32_t& exitCode) {
    const HANDLE handles[5] = {reader.Event(), inputEvent_.Get(), process_.Get(), terminateEvent_.Get(), timer_.Event()};
    for (;;) {
        const DWORD which = ::WaitForMultipleObjects(5, handles, FALSE, INFINITE);
        if (which == WAIT_OBJECT_0) {
            while (reader.ReadString().Length() != 0 && !Terminated()) DoReadLine(reader);
        } else if (which == WAIT_OBJECT_0 + 2) {
            DWORD code = kStillActive;
            if (::GetExitCodeProcess(process_.Get(), &code)) exitCode = code;
        }
        LoopState state;
        state.stopRequested = Terminated();
        state.exitCode = exitCode;
        state.maxTimeAfterBeginning = settings_.maxTimeAfterBeginning;
        state.maxTimeAfterLastOutput = settings_.maxTimeAfterLastOutput;
        state.sinceBeginning = timer_.SinceBeginning();
        state.sinceLastOutput = timer_.SinceLastOutput();
        if (ShouldLeaveLoop(state)) return;
    }
}

void TDosThread::DrainOutput(TReadPipe& reader) {
    // The child has gone, but what it wrote last may still be in the pipe or in the reader's hands:
    // it is delivered before the final flush instead of being lost. The reader says when it has
    // handed everything over by ending; R' is not touched here, since the reader may be waiting in
    // a read on it. The wait is bounded for a grandchild that keeps the pipe busy.
    const auto takeOver = [&] {
        while (reader.ReadString().Length() != 0 && !Terminated()) DoReadLine(reader);
    };
    if (!reader.RequestDrain(spareWrite_.Get())) {
        takeOver();
        return;
    }
    const HANDLE handles[2] = {reader.Event(), reader.Handle()};
    const ULONGLONG deadline = ::GetTickCount64() + kDrainMs;
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        const DWORD which = ::WaitForMultipleObjects(2, handles, FALSE, left);
        takeOver();
        if (which != WAIT_OBJECT_0 || Terminated()) return;
    }
}

void TDosThread::DoReadLine(TReadPipe& reader) {
    const std::u16string text = reader.ReadString().Value();
    reader.ReadString().Delete(0, text.size());
    Deliver(assembler_.Feed(text, [this] { return Terminated(); }));
}

void TDosThread::Deliver(std::vector<AssemblerStep> steps) {
    std::vector<AssemblerStep> posted;
    posted.reserve(steps.size());
    for (AssemblerStep& step : steps) {
        switch (step.kind) {
            case AssemblerStep::NewOutput: timer_.NewOutput(); continue;
            case AssemblerStep::NewChar:
                if (!settings_.hasNewChar) continue;
                break;
            case AssemblerStep::NewLine:
                if (!settings_.hasNewLine) continue;
                break;
            default: break;
        }
        posted.push_back(std::move(step));
    }
    if (posted.empty()) return;
    // One post per block keeps the order of the steps and the GUI queue short.
    owner_.requests_->Post([owner = &owner_, steps = std::move(posted)] {
        for (const AssemblerStep& step : steps) owner->ApplyStep(step);
    });
}

void TDosThread::DoTerminateProcess() {
    canTerminate_ = true;
    if (settings_.hasTerminateProcess) {
        bool answer = true;
        owner_.requests_->PostAndWait([this, &answer] {
            owner_.RunWorkerRequest([this, &answer] {
                if (owner_.OnTerminateProcess) owner_.OnTerminateProcess(owner_, answer);
            });
        });
        canTerminate_ = answer;
    }
    if (canTerminate_) ::TerminateProcess(process_.Get(), 0);
}

void TDosThread::CleanUp(std::unique_ptr<TReadPipe>& reader) {
    reader->Release(spareWrite_.Get());
    reader.reset();
    DWORD code = exitCode_.load();
    if (canTerminate_) ::WaitForSingleObject(process_.Get(), 1000);
    if (::GetExitCodeProcess(process_.Get(), &code)) exitCode_.store(code);
    if (canTerminate_) {
        process_.Reset();
        thread_.Reset();
    }
    inputWrite_.Reset();
    spareWrite_.Reset();
}

}  // namespace orv
