// The console runner's two threads: the worker (TDosThread), which makes the pipes and the child,
// waits for output, the child's end, a stop and the tick, and decides how the run ended; and the
// pipe reader (TReadPipe), which blocks on the output pipe and hands decoded text over through a
// locked string (TSyncString).
#pragma once

#include <windows.h>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "launcher/base/thread_win.h"
#include "launcher/console/runner_rules.h"
#include "launcher/platform/scoped_win.h"

namespace orv {

class TDosCommand;
class TProcessTimer;

// One text behind a lock; every operation holds the lock for its whole duration.
class TSyncString {
public:
    void Add(const std::u16string& text);
    // Removes `count` characters from position `start` (0-based).
    void Delete(std::size_t start, std::size_t count);
    std::size_t Length() const;
    std::u16string Value() const;
    void SetValue(const std::u16string& value);

private:
    mutable std::mutex lock_;
    std::u16string value_;
};

// Bytes of one read to text (DecodeOutput bound to the component).
using OutputDecoder = std::function<std::u16string(const std::string& bytes)>;

// The pipe reader. The read end R' is the reader thread's alone from the moment it is handed over:
// only this thread reads it, peeks into it and closes it (when it ends), because synchronous I/O on
// one file object is serialised (ReadFile; "Synchronous and Asynchronous I/O"): a second thread's
// call on R' would wait behind the pending read, for output that may never come. The worker reaches
// the reader through events, the locked string and the spare write end W3, which stays the
// worker's.
class TReadPipe : public TThread {
public:
    static constexpr DWORD kBlockSize = 1024;

    TReadPipe(CreationKey key, ScopedHandle readHandle, OutputDecoder decoder);

    HANDLE Event() const noexcept { return event_.Get(); }
    TSyncString& ReadString() noexcept { return syncString_; }

    // Worker thread, once the child has ended: asks for everything written so far. One NUL goes
    // through `spareWrite` behind the child's output; when the reader has read it with nothing
    // left behind it, everything before it has been handed over, and the reader drops the NUL and
    // ends. False when the NUL could not be written (the reader has already ended).
    bool RequestDrain(HANDLE spareWrite);
    // Worker thread: ends the thread whatever its pending read is doing: the child may still be
    // writing, may have ended, or may have left a grandchild that holds the pipe open.
    void Release(HANDLE spareWrite);

protected:
    void Execute() override;

private:
    bool ReadTheDrainMark();

    ScopedHandle event_;
    ScopedHandle drainMarkWritten_;  // manual reset: the worker's NUL is in the pipe
    std::atomic<bool> drainRequested_{false};
    OutputDecoder decoder_;
    ScopedHandle read_;  // R'
    TSyncString syncString_;
};

// Everything the worker copies from the component when a run starts.
struct DosRunSettings {
    std::string commandLine;
    std::string currentDir;
    std::vector<std::string> environment;
    int32_t maxTimeAfterBeginning = 0;
    int32_t maxTimeAfterLastOutput = 0;
    int32_t priority = NORMAL_PRIORITY_CLASS;
    bool hasNewChar = false;
    bool hasNewLine = false;
    bool hasTerminateProcess = false;
    bool hasOutputLines = false;
};

class TDosThread : public TThread {
public:
    TDosThread(CreationKey key, TDosCommand& owner, DosRunSettings settings, TProcessTimer& timer);

    // Asks the run to end: the terminated flag, then the terminate event.
    void RequestStop() noexcept;
    uint32_t ExitCode() const noexcept { return exitCode_.load(); }
    // The error that ended the run, for WorkerFinished; empty after a normal end.
    const std::exception_ptr& RunError() const noexcept { return runError_; }

protected:
    void Execute() override;

private:
    void Run();
    void MainLoop(TReadPipe& reader, uint32_t& exitCode);
    void DoReadLine(TReadPipe& reader);
    // How long the drain waits at most for the reader to hand the last output over.
    static constexpr DWORD kDrainMs = 1000;
    void DrainOutput(TReadPipe& reader);
    void Deliver(std::vector<AssemblerStep> steps);
    void DoTerminateProcess();
    void CleanUp(std::unique_ptr<TReadPipe>& reader);

    TDosCommand& owner_;
    DosRunSettings settings_;
    TProcessTimer& timer_;
    ScopedHandle terminateEvent_;
    ScopedHandle inputEvent_;  // the input list's event: nothing ever fills the list
    LineAssembler assembler_;
    std::atomic<uint32_t> exitCode_{0};
    bool canTerminate_ = false;
    std::exception_ptr runError_;

    // The launcher's ends of the pipes, each used by this thread alone: R' until the reader gets
    // it, IW' (never written) and W3 (the drain's and the release's NUL) until the run's clean-up.
    ScopedHandle readOut_;      // R'
    ScopedHandle inputWrite_;   // IW'
    ScopedHandle spareWrite_;   // W3
    // The child's handles, waited on and read by this thread. After a kill they are closed by the
    // clean-up; a child that ended by itself keeps them until the worker is freed (on the GUI
    // thread, once this thread has ended), so ProcessInformation stays valid while the component
    // reports it.
    ScopedHandle process_;
    ScopedHandle thread_;
};

}  // namespace orv
