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

class TReadPipe : public TThread {
public:
    static constexpr DWORD kBlockSize = 1024;

    // `readHandle` and `spareWrite` stay owned by the worker, which outlives the reader.
    TReadPipe(CreationKey key, HANDLE readHandle, HANDLE spareWrite, OutputDecoder decoder);

    HANDLE Event() const noexcept { return event_.Get(); }
    TSyncString& ReadString() noexcept { return syncString_; }

    // Ends the thread whatever its pending read is doing: the child may still be writing, may have
    // ended, or may have left a grandchild that holds the pipe open. The read is cancelled on the
    // reader thread; where that cannot take hold, a NUL (which the line assembler drops) is written
    // through the spare write handle while the pipe is empty, so that the read returns. Never
    // waits on the read alone.
    void Release();

protected:
    void Execute() override;

private:
    ScopedHandle event_;
    OutputDecoder decoder_;
    HANDLE read_;
    HANDLE spareWrite_;
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

    // The launcher's ends of the pipes, and the child's handles (kept until the worker is freed,
    // so ProcessInformation stays valid while the component reports it).
    ScopedHandle readOut_;      // R'
    ScopedHandle inputWrite_;   // IW'
    ScopedHandle spareWrite_;   // W3
    ScopedHandle process_;
    ScopedHandle thread_;
};

}  // namespace orv
