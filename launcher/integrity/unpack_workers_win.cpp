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

void WaitForRunningWorker(TThread* const* current) {
    // Re-read each round: after the pump the worker may already be freed by its driver.
    while (TThread* worker = *current) {
        const DWORD wait = ::WaitForSingleObject(worker->Handle(), kStopPollMs);
        PumpEvents();
        if (wait != WAIT_TIMEOUT) break;
    }
}

}  // namespace orv
