// The unpack workers: each ".lzma" file is unpacked on a thread of its own while the GUI thread
// waits for it and keeps pumping events, so a large file does not freeze the window.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "launcher/base/thread_win.h"

namespace orv {

// Unpacks DestFile next to itself: the output is DestFile without its last five characters
// (".lzma"), whatever they are. Made with MakeThread<TCheckFiles>(destFile).
class TCheckFiles : public TThread {
public:
    TCheckFiles(CreationKey key, std::string destFile);

    const std::string DestFile;
    // DestFile without its last five characters; empty for a DestFile of five characters or fewer.
    std::string OutputPath() const;

protected:
    void Execute() override;
};

// Unpacks InputFile into OutputFile. Made with MakeThread<TUnpackFile>(inputFile, outputFile).
class TUnpackFile : public TThread {
public:
    TUnpackFile(CreationKey key, std::string inputFile, std::string outputFile);

    const std::string InputFile;
    const std::string OutputFile;

protected:
    void Execute() override;
};

struct UnpackResult {
    // The worker ended with a fatal error, or creating, starting or waiting for it failed.
    bool Failed = false;
    // The error, for diagnostics only: the player never sees "Error".
    std::string ErrorClass;
    std::string ErrorText;
};

using WorkerFactory = std::function<std::unique_ptr<TThread>()>;

// Drives one worker on the GUI thread: creates it (so a refused thread is a failed unpack like any
// other), starts it, waits for it in 5 ms steps pumping GUI events after each, and reads its fatal
// error. Then, in every case, terminates, waits for and frees it, clears `*current` (the caller's
// "running worker" pointer, e.g. CheckThread; may be nullptr) and deletes `compressedInput`.
// Event handlers run inside the pump; one of them may wait for the same worker with
// WaitForRunningWorker.
UnpackResult RunWorker(const WorkerFactory& makeWorker, const std::string& compressedInput,
                       TThread** current = nullptr);

// One worker for every unpack of a check run, and for putting each unpacked file in place. A thread
// per file costs more than unpacking a small file does on some systems (several milliseconds under
// Wine), and a repair may unpack thousands. It takes one job at a time; its WorkEndedHandle is
// signalled while it has none.
class TUnpackService : public TThread {
public:
    // Raises EOSError when the platform refuses the thread or its events.
    explicit TUnpackService(CreationKey key);

    // Hands over a job; only while no job runs. What the job raises is its failure.
    void Submit(std::function<void()> job);
    // Ends the thread once the job in hand, if any, is done.
    void Quit() noexcept;
    HANDLE WorkEndedHandle() const noexcept override { return idle_.Get(); }
    // The last job's outcome, once WorkEndedHandle is signalled.
    const UnpackResult& LastResult() const noexcept { return result_; }

protected:
    void Execute() override;

private:
    ScopedHandle wake_;  // a job or the end has been asked for
    ScopedHandle idle_;  // manual reset: no job runs
    std::function<void()> job_;
    UnpackResult result_;
};

// The GUI thread's side of a TUnpackService: made on the first unpack (a refused thread is a failed
// unpack, and the next file tries again), ended with its owner.
class ReusedUnpackWorker {
public:
    ReusedUnpackWorker() = default;
    ReusedUnpackWorker(const ReusedUnpackWorker&) = delete;
    ReusedUnpackWorker& operator=(const ReusedUnpackWorker&) = delete;
    ~ReusedUnpackWorker();

    // As RunWorker for a TUnpackFile of `inputFile` and `outputFile`: waits in 5 ms steps pumping
    // events, names the worker in `*current` meanwhile, and deletes `inputFile` in every case.
    UnpackResult Run(const std::string& inputFile, const std::string& outputFile, TThread** current = nullptr);
    // MoveFileEx of `from` over `to` on the worker, waited for as Run waits: a rename over a file
    // may have to wait for the file system to write the new data first (ext4 does for a freshly
    // written file, 100 ms and more for a large one), and the window must answer meanwhile. The
    // platform's refusal is a failure with its message.
    UnpackResult Replace(const std::string& from, const std::string& to, TThread** current = nullptr);

private:
    // Runs `job` on the worker, made when needed, and waits for it pumping events.
    UnpackResult RunJob(std::function<void()> job, TThread** current);

    std::unique_ptr<TUnpackService> worker_;
};

// The stop request's wait: while `*current` names a worker, wait up to 150 ms for its work to end
// (WorkEndedHandle) and pump, until the wait no longer times out. Ends when that work has ended, not
// when the pointer is cleared: called from a pump inside RunWorker, the pointer is cleared only
// after this returns.
void WaitForRunningWorker(TThread* const* current);

}  // namespace orv
