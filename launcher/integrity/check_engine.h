// The check engine: the per-file work of a check, done on threads of its own ahead of the one that
// walks the checklist, which takes the results in checklist order. Both the launcher's run (its
// GUI thread walks and shows every step) and the headless check drive it.
//
// The walker hands over file jobs in checklist order (Submit) while it holds fewer than the window,
// then waits for the oldest one's results (Wait) and lets it go (Release). Behind it:
//   checking threads  remove what a cut-off run left beside the file (but a partial download with
//                     its record, which stays for the fetch when the file differs), then probe it
//                     and read its CRC-32 (file_check.h), several files at once;
//   fetching threads  take the jobs in checklist order, and download each one that differs to its
//                     download name beside it, each over its own connection (fetcher.h), never more
//                     than a few files ahead of the walker; a large file of a build published in
//                     chunks is first built from chunks there (chunk_assembly.h), which also
//                     stands for its unpack;
//   unpacking threads unpack each download beside its file and prove it against the list; where
//                     asked, put it in the file's place as well.
// Every thread touches only the files of the job in hand, and every handle stays with the thread
// that opened it. Memory is bounded by the window, whatever the checklist's length.
//
// What the engine made for a job and the walker did not take (a download, an unpacked file) is
// removed when the job is released, and when the engine ends; a cancelled transfer or unpack leaves
// nothing either, except a large partial download that its fetcher kept with its record for a
// later run (PartialsKept). No thread outlives the engine.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "launcher/integrity/file_check.h"
#include "launcher/integrity/run_chunks.h"
#include "launcher/platform/sha256.h"
#include "launcher/net/fetcher.h"
#include "launcher/platform/folder_tree.h"

namespace orv {

// One listed file, as the platform takes its paths.
struct EngineJob {
    std::string place;  // where it lies in the game folder
    int64_t size = 0;
    std::string crcText;
    // Where its replacement comes from: an address fetched to its download name, or an ".lzma"
    // file read where it lies (a server folder on this machine). Neither: it is only checked.
    std::string url;
    std::string localSource;
    // A signed build's SHA-256 of the unpacked bytes: a replacement that hashes otherwise is not
    // installed (UnpackState::OtherHash). Nothing: size and CRC-32 decide alone.
    std::optional<Sha256Digest> sha256;
    // A file that may already hold the listed content (a copy of the build on a share): when it
    // proves to, it is copied to the unpack name and takes the file's place, and nothing is
    // fetched; otherwise the job goes on to its url. The launcher gives none.
    std::string copySource;
    // A large file of a build that may be published in chunks: the run's chunk index and the
    // file's 0-based entry in the checklist. When it differs, it is first built from chunks (the
    // old file's, other listed files', the rest fetched) on its fetching thread; on any failure
    // there it is fetched whole. Unset: only the whole file.
    std::shared_ptr<RunChunks> chunks;
    uint64_t entry = 0;
};

// How a job fared on the chunk path.
struct ChunkPathStatus {
    bool tried = false;     // the job was one for it (and not settled by a copy)
    bool taken = false;     // its new content was built from chunks
    std::string fallback;   // tried, not taken: why (then the whole file is fetched)
    uint64_t bytesReused = 0;
    uint64_t bytesFetched = 0;  // packed chunk bytes over the network
    uint64_t chunksFetched = 0;
};

// How far a job has come. Each stage follows the one before; a job that needs no further stage
// (a good file, a failed download) is done, and every later wait ends at once.
enum class JobStage { Checked, Fetched, Unpacked, Replaced };

struct JobStatus {
    bool checked = false;
    FileCheck check;
    bool fetching = false;
    int64_t received = 0;     // of the download in progress or done
    std::string lengthText;   // its Content-Length header
    // The file came from the job's copySource (in a dry run: it would); `unpack` tells of the copy.
    bool copied = false;
    ChunkPathStatus chunkPath;
    bool fetched = false;
    FetchResult fetch;
    bool unpacked = false;
    UnpackOutcome unpack;
    bool replaced = false;
    bool replaceOk = false;
    bool done = false;        // nothing more will be done for it
};

struct EngineOptions {
    unsigned checkers = 0;   // 0: one per core
    unsigned fetchers = 1;   // 0: nothing is fetched (jobs are only checked)
    unsigned unpackers = 1;
    size_t window = 64;      // jobs submitted and not yet released
    size_t fetchAhead = 4;   // downloaded (or unpacked) files not yet released
    bool headOnly = false;   // ask for the length instead of fetching (a dry run); nothing is unpacked
    bool replace = false;    // put unpacked files in place on the engine's threads
};

struct EnginePlatform {
    // One connection per fetching thread, made on that thread; unset: only local sources are read.
    std::function<std::unique_ptr<Fetcher>()> newFetcher;
    // One folder's entries, for what a cut-off run left beside its files; unset: nothing is looked for.
    std::function<std::vector<FolderEntry>(const std::string& folder)> listFolder;
    std::function<bool(const std::string& path)> removeFile;
    // `from` in the place of `to` in one step (with `replace`); false when refused.
    std::function<bool(const std::string& from, const std::string& to)> replaceFile;
    // Clears the attributes of a file about to be replaced (with `replace`); may be unset.
    std::function<void(const std::string& place)> makeNormal;
    // Called first on each of the engine's threads (its priority, say); may be unset.
    std::function<void()> onThreadStart;
    // The check of one job; unset: CheckListedFile of its place.
    std::function<FileCheck(const EngineJob& job, const std::atomic<bool>& stop, std::vector<char>& buffer)> check;
};

class CheckEngine {
public:
    // Starts the threads. Raises Error when the platform refuses one (those started are stopped).
    CheckEngine(EngineOptions options, EnginePlatform platform);
    ~CheckEngine();
    CheckEngine(const CheckEngine&) = delete;
    CheckEngine& operator=(const CheckEngine&) = delete;

    // ---- The walker's side: one thread.

    // Whether Submit may be called: fewer than the window's jobs are held.
    bool HasRoom() const;
    // Hands over the next job in checklist order; its id counts up from 0.
    uint64_t Submit(EngineJob job);
    // Waits until job `id` has reached `stage` or is done, calling `between` every few milliseconds
    // while it waits; `between` returning false gives up (false is returned then).
    bool Wait(uint64_t id, JobStage stage, const std::function<bool()>& between);
    JobStatus Status(uint64_t id) const;
    // The walker is done with the oldest job: nothing more is done for it, and what the engine made
    // for it is removed, except an unpacked file that the walker put in place itself (`tookUnpacked`).
    void Release(uint64_t id, bool tookUnpacked = false);
    // Every thread stops at its next step; jobs not yet at a stage never reach it.
    void Cancel();
    // Cancels and waits until every thread has ended, calling `between` as Wait does (it keeps a
    // window alive meanwhile; a transfer ends within its client's time-out).
    void Finish(const std::function<void()>& between);

    // How many threads of engines are running in the process: for the tests that show a run leaves
    // none behind.
    static int RunningThreads();

    // Jobs whose partial download stays beside the file with its record (resume_rules.h) for a
    // later run to go on with: a fetch that ended without its whole body and kept what it got, or
    // a partial left by an earlier run that a stop kept from being looked at. Any thread.
    size_t PartialsKept() const { return partialsKept_.load(); }

    // Paths the engine makes beside a file (entry_rules.h): what it removes and what it leaves.
    static std::string DownloadPath(const EngineJob& job);
    static std::string UnpackedPath(const EngineJob& job);

private:
    struct Slot {
        EngineJob job;
        JobStatus status;
        bool released = false;
        bool queuedUnpack = false;
        bool countedAhead = false;  // counts in filesAhead_
        bool downloadOnDisk = false;
        bool unpackedOnDisk = false;
    };

    Slot& At(uint64_t id);
    const Slot& At(uint64_t id) const;
    bool InRange(uint64_t id) const { return id >= base_ && id < base_ + slots_.size(); }
    static bool Reached(const Slot& slot, JobStage stage);
    // A thread is still at a step of it.
    static bool Busy(const Slot& slot);
    // Takes the released jobs that no thread is at any more off the front; under the lock. Their
    // files are removed by CleanUp once the lock is let go.
    std::vector<Slot> CollectReleased();
    void CleanUp(std::vector<Slot>& slots);
    void Remove(const std::string& path) const;
    template <class Loop>
    void StartThread(Loop loop);
    void CheckLoop();
    void FetchLoop();
    void UnpackLoop();
    // The copy from the job's copySource; true when it settled the job (nothing to fetch).
    bool CopyFromSource(uint64_t id, const EngineJob& job, std::vector<char>& buffer);
    // The chunk path (EngineJob::chunks); true when it settled the job (nothing to fetch whole).
    bool BuildFromChunks(uint64_t id, const EngineJob& job, std::unique_ptr<Fetcher>& fetcher);
    // The job's new content lies at its unpack name: it takes the file's place where asked, and
    // the job is done.
    void SettleUnpacked(uint64_t id, const EngineJob& job, const UnpackOutcome& outcome, bool copied);
    // True when a partial download with its record lies beside the place (left there).
    bool RemoveLeftoversBeside(const std::string& place);
    // Keeps or removes such a partial once the file's check is known.
    void SettlePartialBeside(const EngineJob& job, const FileCheck& check);

    const EngineOptions options_;
    const EnginePlatform platform_;
    bool fetches_ = false;  // a job that differs goes on to be fetched
    std::atomic<bool> stop_{false};
    std::atomic<size_t> partialsKept_{0};

    static constexpr uint64_t kNobody = ~uint64_t{0};
    // Wakes the walker when the job it waits for has moved on; under the lock.
    void WakeWalkerFor(uint64_t id) {
        if (id == walkerWaits_) walker_.notify_all();
    }

    // One condition per kind of waiter, so that a thread is woken only by what it waits for: under
    // Wine each wake is a round trip to the Wine server.
    mutable std::mutex mutex_;
    std::condition_variable walker_, checkers_, fetchers_, unpackers_;
    uint64_t walkerWaits_ = kNobody;  // the job the walker waits for
    std::deque<Slot> slots_;  // ids base_ .. base_ + size - 1
    uint64_t base_ = 0;
    uint64_t nextCheck_ = 0;  // the next id a checking thread takes
    uint64_t nextFetch_ = 0;  // the next id a fetching thread takes
    std::deque<uint64_t> unpackQueue_;
    size_t filesAhead_ = 0;   // downloads and unpacked files of jobs not yet released
    bool quit_ = false;
    unsigned running_ = 0;

    // Per folder, the folded names of what a cut-off run may have left there; the folders met
    // most recently only, since the checklist lists a folder's files together.
    struct FolderLeftovers {
        bool listed = false;  // false while a thread lists it
        std::set<std::u16string> names;
    };
    std::mutex leftoverMutex_;
    std::condition_variable leftoverListed_;
    std::list<std::string> folderOrder_;
    std::map<std::string, FolderLeftovers> leftovers_;

    std::vector<std::thread> threads_;
};

}  // namespace orv
