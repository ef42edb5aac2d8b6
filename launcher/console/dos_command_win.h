// TDosCommand: runs one console program at a time in a hidden console of its own, with its standard
// output and standard error captured, and reports the lines, single characters and the run's end
// to its owner as events on the GUI thread. It stops the program on request or after a time limit.
// Every member is used on the GUI thread; the worker reaches the component only through calls it
// posts there.
#pragma once

#include <windows.h>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "launcher/console/runner_rules.h"

namespace orv {

class RunnerRequests;
class TDosThread;
class TProcessTimer;

class TDosCommand {
public:
    using TNewLineEvent = std::function<void(TDosCommand& sender, const std::string& newLine, TOutputType type)>;
    using TNewCharEvent = std::function<void(TDosCommand& sender, char16_t newChar)>;
    // `error` is the error that ended the run (DescribeException tells its class and message).
    using TErrorEvent = std::function<void(TDosCommand& sender, const std::exception_ptr& error, bool& handled)>;
    using TTerminateProcessEvent = std::function<void(TDosCommand& sender, bool& canTerminate)>;
    // One read's bytes to text; runs on the reader thread.
    using TCharDecoding = std::function<std::u16string(TDosCommand& sender, const std::string& bytes)>;
    using TCharEncoding = std::function<void(TDosCommand& sender, const std::u16string& chars, std::string& outBuf)>;
    using TNotifyEvent = std::function<void(TDosCommand& sender)>;

    TDosCommand();
    // Stop, then the lists and the timer go.
    virtual ~TDosCommand();
    TDosCommand(const TDosCommand&) = delete;
    TDosCommand& operator=(const TDosCommand&) = delete;

    // Starts a run. Raises EDosCommand while a worker exists or with an empty command line, and
    // EProcessTimer when the tick cannot start (no worker is made then).
    void Execute();
    // Ends the run and frees the worker; nothing without a worker. While it waits for the worker it
    // runs the worker's calls and nothing else, so the run's last events, OnTerminateProcess and
    // the end report run inside it, while a click, a close or another worker's post waits in the
    // queue until Stop has returned (messages that other threads send are delivered, as in every
    // wait of a GUI thread). Called from OnTerminateProcess, OnExecuteError or OnTerminated, while
    // the worker itself waits for that handler, it only asks the run to stop and returns: waiting
    // there would never end. The worker then stays until the next Stop. A Stop inside one of the
    // other calls it runs (a line event, a sent message) waits and frees the worker itself; the
    // outer one then returns as well.
    void Stop();

    // Text properties are UTF-8.
    std::string CommandLine;
    std::string CurrentDir;
    int32_t MaxTimeAfterBeginning = 0;
    int32_t MaxTimeAfterLastOutput = 0;
    int32_t Priority = NORMAL_PRIORITY_CLASS;
    // Not owned; mirrors the output live, the unfinished line as its last entry.
    std::vector<std::string>* OutputLines = nullptr;

    TErrorEvent OnExecuteError;
    TNewCharEvent OnNewChar;
    TNewLineEvent OnNewLine;
    TNotifyEvent OnTerminated;
    TTerminateProcessEvent OnTerminateProcess;

    // name=value entries added to the inherited environment.
    std::vector<std::string>& Environment() noexcept { return environment_; }
    const std::vector<std::string>& Lines() const noexcept { return lines_; }
    uint32_t ExitCode() const noexcept { return exitCode_; }
    TEndStatus EndStatus() const noexcept { return static_cast<TEndStatus>(endStatus_.load()); }
    bool IsRunning() const noexcept { return thread_ != nullptr; }
    // Copied from the worker shortly after the child was made. Its handles stay open until Stop for
    // a child that ended by itself (or whose kill a handler refused); after a kill they are closed
    // at the end of the run, so only the ids are meaningful then.
    const PROCESS_INFORMATION& ProcessInformation() const noexcept { return processInformation_; }
    // The tick timer, made by the first Execute; none before.
    const TProcessTimer* Timer() const noexcept { return timer_.get(); }

    const TCharDecoding& OnCharDecoding() const noexcept { return onCharDecoding_; }
    const TCharEncoding& OnCharEncoding() const noexcept { return onCharEncoding_; }
    // Raise EDosCommand "DosCommand still running" while IsRunning, leaving the handler unchanged.
    void SetOnCharDecoding(TCharDecoding handler);
    void SetOnCharEncoding(TCharEncoding handler);

protected:
    // The reader's decoding: OnCharDecoding when assigned, else the system ANSI code page.
    virtual std::u16string DecodeOutput(TDosCommand& sender, const std::string& bytes);
    // The counterpart for input (no input is ever sent).
    virtual void EncodeInput(TDosCommand& sender, const std::u16string& chars, std::string& outBuf);

private:
    friend class TDosThread;

    // Run on the GUI thread through the worker's posts and waits.
    void ApplyStep(const AssemblerStep& step);
    void WorkerFinished(TDosThread& worker);
    // Runs a handler the worker waits for; Stop inside it does not wait.
    template <typename F>
    void RunWorkerRequest(F&& handler) {
        ++workerWaiting_;
        try {
            handler();
        } catch (...) {
            --workerWaiting_;
            throw;
        }
        --workerWaiting_;
    }
    void ShowRunnerError(const std::exception_ptr& error);

    std::vector<std::string> environment_;
    uint32_t exitCode_ = 0;
    std::vector<std::string> lines_;
    TCharDecoding onCharDecoding_;
    TCharEncoding onCharEncoding_;
    std::unique_ptr<TDosThread> thread_;
    std::unique_ptr<TProcessTimer> timer_;
    std::atomic<int32_t> endStatus_{static_cast<int32_t>(TEndStatus::esNone)};
    PROCESS_INFORMATION processInformation_{};
    int workerWaiting_ = 0;
    // Counts the runs, so that a Stop whose run a nested Stop has ended knows it.
    uint64_t runNumber_ = 0;
    // The worker's calls to the GUI thread.
    std::shared_ptr<RunnerRequests> requests_;
};

}  // namespace orv
