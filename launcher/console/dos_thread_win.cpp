#include "launcher/console/dos_thread_win.h"

#include <utility>

#include "launcher/app_win.h"
#include "launcher/base/errors.h"
#include "launcher/console/dos_command_win.h"
#include "launcher/console/process_timer_win.h"
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

TReadPipe::TReadPipe(CreationKey key, HANDLE readHandle, HANDLE spareWrite, OutputDecoder decoder)
    : TThread(key),
      event_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      decoder_(std::move(decoder)),
      read_(readHandle),
      spareWrite_(spareWrite) {
    if (!event_) RaiseLastPlatformError();
}

void TReadPipe::Execute() {
    std::string buffer(kBlockSize, '\0');
    while (!Terminated()) {
        std::fill(buffer.begin(), buffer.end(), '\0');
        DWORD got = 0;
        if (!::ReadFile(read_, buffer.data(), kBlockSize, &got, nullptr)) got = 0;
        if (Terminated()) return;
        if (got == 0) {
            // A broken pipe never blocks again: without this pause a reader whose writers are all
            // gone would spin until the worker stops it.
            if (::GetLastError() == ERROR_BROKEN_PIPE) ::Sleep(10);
            continue;
        }
        syncString_.Add(decoder_(buffer.substr(0, got)));
        ::SetEvent(event_.Get());
    }
}

void TReadPipe::Release() {
    Terminate();
    // The reader may be between two reads when a cancel arrives and then block in the next one,
    // so the cancel is repeated until the thread has ended.
    for (int round = 0;; ++round) {
        ::CancelSynchronousIo(Handle());
        if (round >= 2) {
            DWORD available = 0;
            if (::PeekNamedPipe(read_, nullptr, 0, nullptr, &available, nullptr) && available == 0) {
                DWORD written = 0;
                const char nul = '\0';
                ::WriteFile(spareWrite_, &nul, 1, &written, nullptr);
            }
        }
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
    RunOnGuiThreadAndWait([this] { owner_.RunWorkerRequest([this] { owner_.WorkerFinished(*this); }); });
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

    // Output pipe: the child writes W (standard output) and W2 (standard error); W3 is the
    // reader's spare write handle.
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

    std::weak_ptr<TDosCommand*> alive = owner_.alive_;
    PostToGuiThread([alive, info] {
        if (const auto owner = alive.lock()) (*owner)->processInformation_ = info;
    });
    CloseChecked(w);
    CloseChecked(ir);
    CloseChecked(w2);

    TDosCommand& owner = owner_;
    std::unique_ptr<TReadPipe> reader = MakeThread<TReadPipe>(
        readOut_.Get(), spareWrite_.Get(), [&owner](const std::string& bytes) { return owner.DecodeOutput(owner, bytes); });
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
    // it is delivered before the final flush instead of being lost. The pipe is empty and the
    // reader quiet for a moment when everything has arrived (the spare write end keeps the pipe
    // open, so no end of file comes).
    for (;;) {
        while (reader.ReadString().Length() != 0 && !Terminated()) DoReadLine(reader);
        DWORD available = 0;
        if (!::PeekNamedPipe(readOut_.Get(), nullptr, 0, nullptr, &available, nullptr)) return;
        const DWORD wait = available != 0 ? 1000 : 50;
        if (::WaitForSingleObject(reader.Event(), wait) != WAIT_OBJECT_0 && available == 0) return;
        if (Terminated()) return;
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
    std::weak_ptr<TDosCommand*> alive = owner_.alive_;
    PostToGuiThread([alive, steps = std::move(posted)] {
        for (const AssemblerStep& step : steps) {
            const auto owner = alive.lock();
            if (!owner) return;
            (*owner)->ApplyStep(step);
        }
    });
}

void TDosThread::DoTerminateProcess() {
    canTerminate_ = true;
    if (settings_.hasTerminateProcess) {
        bool answer = true;
        RunOnGuiThreadAndWait([this, &answer] {
            owner_.RunWorkerRequest([this, &answer] {
                if (owner_.OnTerminateProcess) owner_.OnTerminateProcess(owner_, answer);
            });
        });
        canTerminate_ = answer;
    }
    if (canTerminate_) ::TerminateProcess(process_.Get(), 0);
}

void TDosThread::CleanUp(std::unique_ptr<TReadPipe>& reader) {
    reader->Release();
    reader.reset();
    DWORD code = exitCode_.load();
    if (canTerminate_) ::WaitForSingleObject(process_.Get(), 1000);
    if (::GetExitCodeProcess(process_.Get(), &code)) exitCode_.store(code);
    if (canTerminate_) {
        process_.Reset();
        thread_.Reset();
    }
    readOut_.Reset();
    inputWrite_.Reset();
    spareWrite_.Reset();
}

}  // namespace orv
