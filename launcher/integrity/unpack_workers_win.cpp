#include "launcher/integrity/unpack_workers_win.h"

#include <windows.h>

#include <utility>

#include "launcher/base/errors.h"
#include "launcher/base/events.h"
#include "launcher/platform/utf8.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/platform/files.h"

namespace orv {
namespace {

constexpr DWORD kWorkerPollMs = 5;
constexpr DWORD kStopPollMs = 150;

void Unpack(const std::string& input, const std::string& output) {
    // The main window creates the instance before any worker exists; without it there is nothing
    // to unpack with, which must end the worker rather than crash it.
    if (!LzmaAloneInstance) throw Error("Error");
    if (!LzmaAloneInstance->Main(input, output, "d")) throw Error("Error");
}

UnpackResult FailureFromCurrentException() {
    ErrorDescription error = DescribeException(std::current_exception());
    UnpackResult result;
    result.Failed = true;
    result.ErrorClass = std::move(error.ClassName);
    result.ErrorText = std::move(error.Message);
    return result;
}

}  // namespace

TCheckFiles::TCheckFiles(CreationKey key, std::string destFile) : TThread(key), DestFile(std::move(destFile)) {}

std::string TCheckFiles::OutputPath() const {
    // Counted in UTF-16 units as the Windows path is, not in UTF-8 bytes.
    const std::u16string wide = Utf8ToUtf16(DestFile);
    return wide.size() <= 5 ? std::string() : Utf16ToUtf8(wide.substr(0, wide.size() - 5));
}

void TCheckFiles::Execute() { Unpack(DestFile, OutputPath()); }

TUnpackFile::TUnpackFile(CreationKey key, std::string inputFile, std::string outputFile)
    : TThread(key), InputFile(std::move(inputFile)), OutputFile(std::move(outputFile)) {}

void TUnpackFile::Execute() { Unpack(InputFile, OutputFile); }

UnpackResult RunWorker(const WorkerFactory& makeWorker, const std::string& compressedInput, TThread** current) {
    UnpackResult result;
    std::unique_ptr<TThread> worker;
    try {
        worker = makeWorker();
        if (!worker) throw Error("Error");
        worker->SetFreeOnTerminate(false);
        if (current) *current = worker.get();
        worker->Start();
        DWORD wait;
        do {
            wait = ::WaitForSingleObject(worker->Handle(), kWorkerPollMs);
            if (wait == WAIT_FAILED) RaiseLastPlatformError();
            PumpEvents();
        } while (wait == WAIT_TIMEOUT);
        if (const ThreadFatalError& fatal = worker->FatalError()) {
            result.Failed = true;
            result.ErrorClass = fatal.ClassName;
            result.ErrorText = fatal.Message;
        }
    } catch (...) {
        result = FailureFromCurrentException();
    }

    if (worker) {
        worker->Terminate();
        try {
            worker->WaitFor();
        } catch (...) {
            // The destructor below still waits for the thread before the object goes.
            if (!result.Failed) result = FailureFromCurrentException();
        }
        // Only our own worker: a handler run by the pump may have put another one there.
        if (current && *current == worker.get()) *current = nullptr;
        worker.reset();
    }
    RemoveFile(compressedInput);
    return result;
}

TUnpackService::TUnpackService(CreationKey key)
    : TThread(key),
      wake_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      idle_(::CreateEventW(nullptr, TRUE, TRUE, nullptr)) {
    if (!wake_ || !idle_) RaiseLastPlatformError();
}

void TUnpackService::Submit(std::function<void()> job) {
    job_ = std::move(job);
    result_ = UnpackResult();
    // The events order the hand-over: the worker reads the job after the wake, the owner the
    // result after the idle signal.
    if (!::ResetEvent(idle_.Get()) || !::SetEvent(wake_.Get())) RaiseLastPlatformError();
}

void TUnpackService::Quit() noexcept {
    Terminate();
    ::SetEvent(wake_.Get());
}

void TUnpackService::Execute() {
    constexpr DWORD kTerminatePollMs = 100;
    while (!Terminated()) {
        // Polled as well, so that an owner that only terminates (the destructor) is not kept waiting.
        const DWORD wait = ::WaitForSingleObject(wake_.Get(), kTerminatePollMs);
        if (wait == WAIT_FAILED) RaiseLastPlatformError();
        if (wait == WAIT_TIMEOUT || Terminated()) continue;
        try {
            if (job_) job_();
        } catch (...) {
            result_ = FailureFromCurrentException();
        }
        job_ = nullptr;
        if (!::SetEvent(idle_.Get())) RaiseLastPlatformError();
    }
}

ReusedUnpackWorker::~ReusedUnpackWorker() {
    if (worker_) worker_->Quit();
}

UnpackResult ReusedUnpackWorker::RunJob(std::function<void()> job, TThread** current) {
    UnpackResult result;
    try {
        if (worker_ && ::WaitForSingleObject(worker_->Handle(), 0) != WAIT_TIMEOUT) worker_.reset();
        if (!worker_) {
            worker_ = MakeThread<TUnpackService>();
            worker_->Start();
        }
        worker_->Submit(std::move(job));
        if (current) *current = worker_.get();
        // The thread's end counts too: a worker whose loop failed has no job to finish.
        const HANDLE ends[] = {worker_->WorkEndedHandle(), worker_->Handle()};
        DWORD wait;
        do {
            wait = ::WaitForMultipleObjects(2, ends, FALSE, kWorkerPollMs);
            if (wait == WAIT_FAILED) RaiseLastPlatformError();
            PumpEvents();
        } while (wait == WAIT_TIMEOUT);
        if (wait == WAIT_OBJECT_0) {
            result = worker_->LastResult();
        } else {
            result.Failed = true;
            const ThreadFatalError& fatal = worker_->FatalError();
            result.ErrorClass = fatal ? fatal.ClassName : "Error";
            result.ErrorText = fatal ? fatal.Message : "Error";
        }
    } catch (...) {
        result = FailureFromCurrentException();
    }
    if (current && worker_ && *current == worker_.get()) *current = nullptr;
    return result;
}

UnpackResult ReusedUnpackWorker::Run(const std::string& inputFile, const std::string& outputFile, TThread** current) {
    const UnpackResult result = RunJob([inputFile, outputFile] { Unpack(inputFile, outputFile); }, current);
    RemoveFile(inputFile);
    return result;
}

UnpackResult ReusedUnpackWorker::Replace(const std::string& from, const std::string& to, TThread** current) {
    return RunJob(
        [from, to] {
            // No write-through: for a rename within one folder it promises nothing more on Windows,
            // while Wine flushes for it, several milliseconds a file. A repaired file that a power
            // cut leaves damaged has the wrong checksum at the next check and is fetched again.
            RenameFile(from, to, ExistingTarget::Replace);
        },
        current);
}

void WaitForRunningWorker(TThread* const* current) {
    // Re-read each round: after the pump the worker may already be freed by its driver.
    while (TThread* worker = *current) {
        // A reused worker's work ends at its idle signal; its thread ending ends it too.
        const HANDLE ends[] = {worker->WorkEndedHandle(), worker->Handle()};
        const DWORD count = ends[0] == ends[1] ? 1 : 2;
        const DWORD wait = ::WaitForMultipleObjects(count, ends, FALSE, kStopPollMs);
        PumpEvents();
        if (wait != WAIT_TIMEOUT) break;
    }
}

}  // namespace orv
