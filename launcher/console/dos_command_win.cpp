#include "launcher/console/dos_command_win.h"

#include <utility>

#include "launcher/app_win.h"
#include "launcher/base/errors.h"
#include "launcher/base/message_box.h"
#include "launcher/console/dos_thread_win.h"
#include "launcher/console/process_timer_win.h"
#include "launcher/console/runner_requests_win.h"
#include "launcher/platform/utf8.h"
#include "launcher/platform/wide_win.h"

namespace orv {

namespace {

// What GetACP's code page makes of `bytes`, as MultiByteToWideChar converts it.
std::u16string AnsiToText(const std::string& bytes) {
    if (bytes.empty()) return {};
    const int size = static_cast<int>(bytes.size());
    const int n = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, wide.data(), n);
    return std::u16string(wide.begin(), wide.end());
}

// The file name part of the launcher's own path.
std::string LauncherFileName() {
    std::string path;
    try {
        path = ExecutablePath();
    } catch (...) {
        return {};
    }
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

TDosCommand::TDosCommand() : requests_(RunnerRequests::Create()) {}

TDosCommand::~TDosCommand() {
    try {
        Stop();
    } catch (...) {
        // A destructor raises nothing; Stop's only failure is a wait the platform refused.
    }
}

void TDosCommand::SetOnCharDecoding(TCharDecoding handler) {
    if (IsRunning()) throw EDosCommand(kStillRunningMessage);
    onCharDecoding_ = std::move(handler);
}

void TDosCommand::SetOnCharEncoding(TCharEncoding handler) {
    if (IsRunning()) throw EDosCommand(kStillRunningMessage);
    onCharEncoding_ = std::move(handler);
}

std::u16string TDosCommand::DecodeOutput(TDosCommand& sender, const std::string& bytes) {
    if (onCharDecoding_) return onCharDecoding_(sender, bytes);
    return AnsiToText(bytes);
}

void TDosCommand::EncodeInput(TDosCommand& sender, const std::u16string& chars, std::string& outBuf) {
    if (onCharEncoding_) {
        onCharEncoding_(sender, chars, outBuf);
        return;
    }
    const std::wstring wide(chars.begin(), chars.end());
    const int n = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return;
    std::string bytes(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(), n, nullptr, nullptr);
    outBuf += bytes;
}

void TDosCommand::Execute() {
    if (thread_) throw EDosCommand(kStillRunningMessage);
    if (CommandLine.empty()) throw EDosCommand(kNoCommandLineMessage);
    if (!timer_) timer_ = std::make_unique<TProcessTimer>();
    lines_.clear();
    timer_->Beginning();

    DosRunSettings settings;
    settings.commandLine = CommandLine;
    settings.currentDir = CurrentDir;
    settings.environment = environment_;
    settings.maxTimeAfterBeginning = MaxTimeAfterBeginning;
    settings.maxTimeAfterLastOutput = MaxTimeAfterLastOutput;
    settings.priority = Priority;
    settings.hasNewChar = static_cast<bool>(OnNewChar);
    settings.hasNewLine = static_cast<bool>(OnNewLine);
    settings.hasTerminateProcess = static_cast<bool>(OnTerminateProcess);
    settings.hasOutputLines = OutputLines != nullptr;
    try {
        thread_ = MakeThread<TDosThread>(*this, std::move(settings), *timer_);
    } catch (...) {
        timer_->Ending();
        throw;
    }
    endStatus_.exchange(static_cast<int32_t>(TEndStatus::esStill_Active));
    ++runNumber_;
    thread_->Start();
}

void TDosCommand::Stop() {
    if (!thread_) return;
    thread_->RequestStop();
    if (workerWaiting_ > 0) return;
    // The worker may be waiting for the GUI thread (OnTerminateProcess, WorkerFinished): its calls
    // keep running here until it has ended, and only they do. Input and other posted messages stay
    // queued: a window's close or the tray's Exit handled in here would run FormDestroy, and with
    // it a second Stop, under this one. Sent messages are delivered, as every wait of a GUI thread
    // must (the sender waits for us); a Stop they reach is a nested one, which is safe: this loop
    // looks at the worker afresh each time round.
    const uint64_t run = runNumber_;
    const auto ended = [&] { return !thread_ || runNumber_ != run; };
    for (;;) {
        if (ended()) return;
        const HANDLE handles[2] = {thread_->Handle(), requests_->Event()};
        // MWMO_INPUTAVAILABLE: a sent message that a handler's own queue check (GetQueueStatus)
        // has already seen still wakes the wait; without it only new input would
        // (MsgWaitForMultipleObjectsEx documentation; Wine does not show the difference).
        const DWORD which = ::MsgWaitForMultipleObjectsEx(2, handles, INFINITE, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
        if (which == WAIT_OBJECT_0) break;
        if (which == WAIT_OBJECT_0 + 1) {
            requests_->RunPending();
        } else if (which == WAIT_OBJECT_0 + 2) {
            // PeekMessage delivers the pending sent messages; with PM_QS_SENDMESSAGE and
            // PM_NOREMOVE it takes nothing else out of the queue.
            MSG msg;
            ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        } else {
            RaiseLastPlatformError();
        }
    }
    // Calls the worker queued just before it ended run now, before the worker and its run go.
    requests_->RunPending();
    if (ended()) return;
    std::unique_ptr<TDosThread> worker = std::move(thread_);
    worker.reset();
}

void TDosCommand::ApplyStep(const AssemblerStep& step) {
    switch (step.kind) {
        case AssemblerStep::NewChar:
            if (OnNewChar) OnNewChar(*this, step.ch);
            break;
        case AssemblerStep::NewLine:
            if (OnNewLine) OnNewLine(*this, Utf16ToUtf8(step.text), step.type);
            break;
        case AssemblerStep::LinesAdd: lines_.push_back(Utf16ToUtf8(step.text)); break;
        case AssemblerStep::OutputAppend:
            if (OutputLines) OutputLines->push_back(Utf16ToUtf8(step.text));
            break;
        case AssemblerStep::OutputReplace:
            if (OutputLines) {
                if (OutputLines->empty())
                    OutputLines->push_back(Utf16ToUtf8(step.text));
                else
                    OutputLines->back() = Utf16ToUtf8(step.text);
            }
            break;
        case AssemblerStep::NewOutput: break;
    }
}

void TDosCommand::WorkerFinished(TDosThread& worker) {
    exitCode_ = worker.ExitCode();
    try {
        if (timer_) timer_->Ending();
    } catch (const Error&) {
        ShowRunnerError(std::current_exception());
    }
    if (const std::exception_ptr& error = worker.RunError()) {
        if (OnExecuteError) {
            bool handled = false;
            try {
                OnExecuteError(*this, error, handled);
                if (!handled) ShowRunnerError(error);
            } catch (const Error&) {
                ShowRunnerError(std::current_exception());
            }
        } else {
            ShowRunnerError(error);
        }
    }
    if (OnTerminated) OnTerminated(*this);
}

void TDosCommand::ShowRunnerError(const std::exception_ptr& error) {
    const ErrorDescription description = DescribeException(error);
    MessageRequest request;
    request.text = description.ClassName + "\r\n" + description.Message;
    request.caption = LauncherFileName();
    request.flags = mb::TaskModal | mb::IconError;
    ShowMessageBox(request);
}

}  // namespace orv
