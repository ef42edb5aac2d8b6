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

// The stop request's wait: while `*current` names a worker, wait up to 150 ms for it to end and
// pump, until the wait no longer times out. Ends when the worker has ended, not when the pointer is
// cleared: called from a pump inside RunWorker, the pointer is cleared only after this returns.
void WaitForRunningWorker(TThread* const* current);

}  // namespace orv
