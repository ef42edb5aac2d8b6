#include "launcher/integrity/check_engine.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include "launcher/base/errors.h"
#include "launcher/integrity/entry_rules.h"
#include "launcher/platform/file_helpers.h"
#include "launcher/platform/files.h"
#include "launcher/platform/utf8.h"

namespace orv {
namespace {

// How long a waiting walker sleeps before it services its caller again.
constexpr auto kWaitSlice = std::chrono::milliseconds(4);
// Folders whose leftovers are remembered; the checklist lists a folder's files together, so these
// are the ones the checking threads are in.
constexpr size_t kFoldersRemembered = 64;
// The most checking threads, whatever the number of cores: reading files gains nothing beyond.
constexpr unsigned kMostCheckers = 8;

std::atomic<int> g_runningThreads{0};

std::string FolderOf(const std::string& place) {
    const size_t cut = place.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : place.substr(0, cut);
}

}  // namespace

int CheckEngine::RunningThreads() { return g_runningThreads.load(); }

std::string CheckEngine::DownloadPath(const EngineJob& job) { return DownloadTargetPath(job.place); }
std::string CheckEngine::UnpackedPath(const EngineJob& job) { return UnpackTemporaryPath(job.place); }

template <class Loop>
void CheckEngine::StartThread(Loop loop) {
    {
        std::lock_guard lock(mutex_);
        ++running_;
    }
    try {
        ++g_runningThreads;
        threads_.emplace_back([this, loop] {
            if (platform_.onThreadStart) platform_.onThreadStart();
            (this->*loop)();
            --g_runningThreads;
            std::lock_guard lock(mutex_);
            --running_;
            walker_.notify_all();
        });
    } catch (...) {
        --g_runningThreads;
        std::lock_guard lock(mutex_);
        --running_;
        throw;
    }
}

CheckEngine::CheckEngine(EngineOptions options, EnginePlatform platform)
    : options_(std::move(options)), platform_(std::move(platform)) {
    unsigned checkers = options_.checkers;
    if (checkers == 0) checkers = std::clamp(std::thread::hardware_concurrency(), 1u, kMostCheckers);
    const unsigned fetchers = options_.fetchers;
    fetches_ = fetchers > 0;
    const unsigned unpackers = fetchers > 0 && !options_.headOnly ? std::max(options_.unpackers, 1u) : 0;
    try {
        for (unsigned i = 0; i < checkers; ++i) StartThread(&CheckEngine::CheckLoop);
        for (unsigned i = 0; i < fetchers; ++i) StartThread(&CheckEngine::FetchLoop);
        for (unsigned i = 0; i < unpackers; ++i) StartThread(&CheckEngine::UnpackLoop);
    } catch (const std::system_error& e) {
        Finish([] {});
        throw Error(std::string("cannot start a thread: ") + e.what());
    }
}

CheckEngine::~CheckEngine() { Finish([] {}); }

CheckEngine::Slot& CheckEngine::At(uint64_t id) { return slots_[static_cast<size_t>(id - base_)]; }
const CheckEngine::Slot& CheckEngine::At(uint64_t id) const { return slots_[static_cast<size_t>(id - base_)]; }

bool CheckEngine::HasRoom() const {
    std::lock_guard lock(mutex_);
    return slots_.size() < std::max<size_t>(options_.window, 1);
}

uint64_t CheckEngine::Submit(EngineJob job) {
    std::lock_guard lock(mutex_);
    Slot slot;
    slot.job = std::move(job);
    slots_.push_back(std::move(slot));
    checkers_.notify_one();
    return base_ + slots_.size() - 1;
}

bool CheckEngine::Reached(const Slot& slot, JobStage stage) {
    const JobStatus& s = slot.status;
    if (s.done) return true;
    switch (stage) {
    case JobStage::Checked: return s.checked;
    case JobStage::Fetched: return s.fetched;
    case JobStage::Unpacked: return s.unpacked;
    case JobStage::Replaced: return s.replaced;
    }
    return true;
}

bool CheckEngine::Busy(const Slot& slot) {
    return (slot.status.fetching && !slot.status.fetched) || (slot.queuedUnpack && !slot.status.unpacked);
}

bool CheckEngine::Wait(uint64_t id, JobStage stage, const std::function<bool()>& between) {
    std::unique_lock lock(mutex_);
    struct Waiting {
        uint64_t& id;
        ~Waiting() { id = kNobody; }
    } waiting{walkerWaits_};
    walkerWaits_ = id;
    for (;;) {
        if (!InRange(id)) return true;
        if (walker_.wait_for(lock, kWaitSlice, [&] { return !InRange(id) || Reached(At(id), stage); })) return true;
        lock.unlock();
        const bool goOn = between();
        lock.lock();
        if (!InRange(id) || Reached(At(id), stage)) return true;
        if (!goOn) return false;
    }
}

JobStatus CheckEngine::Status(uint64_t id) const {
    std::lock_guard lock(mutex_);
    return InRange(id) ? At(id).status : JobStatus{};
}

std::vector<CheckEngine::Slot> CheckEngine::CollectReleased() {
    std::vector<Slot> out;
    while (!slots_.empty() && slots_.front().released && !Busy(slots_.front())) {
        if (slots_.front().countedAhead) --filesAhead_;
        out.push_back(std::move(slots_.front()));
        slots_.pop_front();
        ++base_;
    }
    nextCheck_ = std::max(nextCheck_, base_);
    nextFetch_ = std::max(nextFetch_, base_);
    // A job taken off may have left room on disk for the download threads.
    if (!out.empty()) fetchers_.notify_all();
    return out;
}

void CheckEngine::Remove(const std::string& path) const {
    if (platform_.removeFile) platform_.removeFile(path);
    else RemoveFile(path);
}

void CheckEngine::CleanUp(std::vector<Slot>& slots) {
    for (Slot& slot : slots) {
        if (slot.downloadOnDisk) Remove(DownloadPath(slot.job));
        if (slot.unpackedOnDisk) Remove(UnpackedPath(slot.job));
        slot.downloadOnDisk = slot.unpackedOnDisk = false;
    }
}

void CheckEngine::Release(uint64_t id, bool tookUnpacked) {
    std::vector<Slot> done;
    {
        std::lock_guard lock(mutex_);
        if (!InRange(id)) return;
        Slot& slot = At(id);
        slot.released = true;
        slot.status.done = true;
        if (tookUnpacked) slot.unpackedOnDisk = false;
        done = CollectReleased();
        fetchers_.notify_all();
    }
    CleanUp(done);
}

void CheckEngine::Cancel() {
    stop_ = true;
    std::lock_guard lock(mutex_);
    quit_ = true;
    walker_.notify_all();
    checkers_.notify_all();
    fetchers_.notify_all();
    unpackers_.notify_all();
}

void CheckEngine::Finish(const std::function<void()>& between) {
    Cancel();
    {
        std::unique_lock lock(mutex_);
        while (!walker_.wait_for(lock, kWaitSlice, [&] { return running_ == 0; })) {
            lock.unlock();
            between();
            lock.lock();
        }
    }
    for (std::thread& t : threads_)
        if (t.joinable()) t.join();
    threads_.clear();
    std::vector<Slot> left;
    {
        std::lock_guard lock(mutex_);
        for (Slot& slot : slots_) left.push_back(std::move(slot));
        slots_.clear();
        base_ += left.size();
        filesAhead_ = 0;
    }
    CleanUp(left);
}

bool CheckEngine::RemoveLeftoversBeside(const std::string& place) {
    if (!platform_.listFolder) return false;
    const std::string folder = FolderOf(place);
    std::set<std::u16string> names;
    {
        std::unique_lock lock(leftoverMutex_);
        auto found = leftovers_.find(folder);
        if (found == leftovers_.end()) {
            // Listed once per folder, by the first thread to come to it: a cut-off run's leftovers
            // are rare, and asking for both names of every file costs more than a listing.
            leftovers_.emplace(folder, FolderLeftovers{});
            folderOrder_.push_back(folder);
            lock.unlock();
            for (const FolderEntry& entry : platform_.listFolder(folder))
                if (entry.kind == EntryKind::File && IsLeftoverName(entry.name)) names.insert(FoldLetterCase(entry.name));
            lock.lock();
            FolderLeftovers& listed = leftovers_[folder];
            listed.listed = true;
            listed.names = names;
            // Only the folders being walked are kept; one being listed is never dropped.
            while (folderOrder_.size() > kFoldersRemembered) {
                const auto oldest = leftovers_.find(folderOrder_.front());
                if (oldest != leftovers_.end() && !oldest->second.listed) break;
                if (oldest != leftovers_.end()) leftovers_.erase(oldest);
                folderOrder_.pop_front();
            }
            leftoverListed_.notify_all();
        } else {
            leftoverListed_.wait(lock, [&] {
                const auto now = leftovers_.find(folder);
                return now == leftovers_.end() || now->second.listed;
            });
            found = leftovers_.find(folder);
            if (found == leftovers_.end() || found->second.names.empty()) return false;
            names = found->second.names;
        }
    }
    if (names.empty()) return false;
    const size_t cut = folder.size() + (folder.empty() ? 0 : 1);
    const auto beside = [&](const std::string& path) { return names.count(FoldLetterCase(path.substr(cut))) > 0; };
    const std::string download = DownloadTargetPath(place), record = PartialRecordPath(place);
    // A download with its record is a partial that a later run may go on with: whether it stays
    // is known once the file is checked.
    const bool partial = beside(download) && beside(record);
    for (const std::string& leftover : LeftoversBeside(place)) {
        if (!beside(leftover) || (partial && (leftover == download || leftover == record))) continue;
        Remove(leftover);
        std::lock_guard lock(leftoverMutex_);
        const auto found = leftovers_.find(folder);
        if (found != leftovers_.end()) found->second.names.erase(FoldLetterCase(leftover.substr(cut)));
    }
    return partial;
}

void CheckEngine::SettlePartialBeside(const EngineJob& job, const FileCheck& check) {
    if (stop_ || check.state == FileState::Stopped) {
        // Not looked at to the end: the next run decides.
        ++partialsKept_;
        return;
    }
    // Only a download of the file's address goes on with it: a good file, a file only checked or
    // one read from a local source leaves it of no use.
    const bool differs = check.state != FileState::Good;
    if (differs && fetches_ && !job.url.empty() && job.localSource.empty()) return;
    Remove(DownloadPath(job));
    Remove(PartialRecordPath(job.place));
}

void CheckEngine::CheckLoop() {
    std::vector<char> buffer;
    for (;;) {
        uint64_t id = 0;
        EngineJob job;
        {
            std::unique_lock lock(mutex_);
            checkers_.wait(lock, [&] { return quit_ || nextCheck_ < base_ + slots_.size(); });
            if (quit_) return;
            id = nextCheck_++;
            if (At(id).released) continue;
            job = At(id).job;
        }
        FileCheck check;
        bool partialBeside = false;
        try {
            partialBeside = RemoveLeftoversBeside(job.place);
            check = platform_.check ? platform_.check(job, stop_, buffer)
                                    : CheckListedFile(job.place, job.size, job.crcText, stop_, buffer);
        } catch (const std::exception&) {
            check.state = FileState::Unreadable;
        }
        if (partialBeside) SettlePartialBeside(job, check);
        std::lock_guard lock(mutex_);
        if (!InRange(id)) continue;
        Slot& slot = At(id);
        slot.status.checked = true;
        slot.status.check = check;
        const bool fetchable = fetches_ && (!job.url.empty() || !job.localSource.empty());
        if (check.state == FileState::Good || check.state == FileState::Stopped || !fetchable || stop_)
            slot.status.done = true;
        WakeWalkerFor(id);
        // The download threads take the jobs in list order: only the next one's check frees them.
        if (fetches_ && id == nextFetch_) fetchers_.notify_all();
    }
}

bool CheckEngine::CopyFromSource(uint64_t id, const EngineJob& job, std::vector<char>& buffer) {
    // A dry run only reads the source; a repair copies it while it is read, so that a source on a
    // slow share is read once.
    const bool write = !options_.headOnly;
    const UnpackOutcome copy =
        CopyChecked(job.copySource, write ? UnpackedPath(job) : std::string(), job.size, job.crcText, stop_, job.sha256, buffer);
    if (copy.state != UnpackState::Unpacked) return false;
    SettleUnpacked(id, job, copy, true);
    return true;
}

void CheckEngine::SettleUnpacked(uint64_t id, const EngineJob& job, const UnpackOutcome& outcome, bool copied) {
    const bool write = !options_.headOnly;
    bool replaced = false, replaceOk = false;
    if (write && options_.replace && !stop_) {
        if (platform_.makeNormal) platform_.makeNormal(job.place);
        replaced = true;
        replaceOk = platform_.replaceFile && platform_.replaceFile(UnpackedPath(job), job.place);
        if (!replaceOk) Remove(UnpackedPath(job));
    }
    if (write && replaceOk) {
        // A partial download an earlier run left for this file is of no use any more.
        Remove(DownloadPath(job));
        Remove(PartialRecordPath(job.place));
    }
    std::vector<Slot> done;
    {
        std::lock_guard lock(mutex_);
        Slot& slot = At(id);
        slot.status.copied = copied;
        slot.status.fetched = true;
        slot.status.fetch.ok = true;
        if (!copied) slot.status.fetch.status = 200;
        slot.status.unpacked = true;
        slot.status.unpack = outcome;
        slot.status.replaced = replaced;
        slot.status.replaceOk = replaceOk;
        slot.status.done = true;
        slot.unpackedOnDisk = write && !replaced;
        WakeWalkerFor(id);
        done = CollectReleased();
    }
    CleanUp(done);
}

bool CheckEngine::BuildFromChunks(uint64_t id, const EngineJob& job, std::unique_ptr<Fetcher>& fetcher) {
    ChunkPathStatus path;
    path.tried = true;
    const auto fallBack = [&](std::string why) {
        path.fallback = std::move(why);
        std::lock_guard lock(mutex_);
        At(id).status.chunkPath = path;
        return false;
    };
    const ChunkIndexSource& source = job.chunks->Source();
    if (!fetcher && platform_.newFetcher && !source.newFetcher) fetcher = platform_.newFetcher();
    const ChunkIndex* index = job.chunks->Index(fetcher.get(), stop_);
    if (!index) return fallBack(job.chunks->Why());
    const IndexedFile* file = IndexedFileFor(*index, job.entry, job.size, job.sha256);
    if (!file) return fallBack("the chunk index does not list this file as the checklist does");
    ChunkAssemblyRequest request;
    request.index = index;
    request.file = file;
    request.place = job.place;
    request.placeOf = [chunks = job.chunks](uint64_t entry) { return chunks->PlaceOf(entry); };
    request.output = UnpackedPath(job);
    request.fetchStem = ChunkFetchStem(job.place);
    request.size = job.size;
    request.crcText = job.crcText;
    request.sha256 = job.sha256;
    request.newFetcher = source.newFetcher ? source.newFetcher : platform_.newFetcher;
    request.storeBase = source.storeBase;
    request.connections = source.connections;
    request.progress = [this, id](uint64_t written) {
        std::lock_guard lock(mutex_);
        if (InRange(id)) At(id).status.received = static_cast<int64_t>(written);
    };
    const ChunkAssemblyResult built = AssembleFromChunks(request, stop_);
    path.bytesReused = built.bytesReused;
    path.bytesFetched = built.bytesFetched;
    path.chunksFetched = built.chunksFetched;
    if (!built.ok()) {
        std::string why = ChunkFailureReason(built.failure);
        if (!built.detail.empty() && built.detail != why) why += ": " + built.detail;
        return fallBack(std::move(why));
    }
    path.taken = true;
    {
        std::lock_guard lock(mutex_);
        At(id).status.chunkPath = path;
    }
    UnpackOutcome outcome;
    outcome.state = UnpackState::Unpacked;
    outcome.bytes = static_cast<uint64_t>(job.size);
    SettleUnpacked(id, job, outcome, false);
    return true;
}

void CheckEngine::FetchLoop() {
    std::unique_ptr<Fetcher> fetcher;
    std::vector<char> buffer;
    const size_t ahead = std::max<size_t>(options_.fetchAhead, 1);
    for (;;) {
        uint64_t id = 0;
        EngineJob job;
        {
            std::unique_lock lock(mutex_);
            // The next job in checklist order once its check is known, and room on disk for it; a
            // job that needs nothing is passed over.
            fetchers_.wait(lock, [&] {
                if (quit_) return true;
                if (nextFetch_ >= base_ + slots_.size()) return false;
                const Slot& slot = At(nextFetch_);
                if (slot.status.done) return true;
                return slot.status.checked && (options_.headOnly || filesAhead_ < ahead);
            });
            if (quit_) return;
            Slot& slot = At(nextFetch_++);
            if (slot.status.done) continue;
            id = nextFetch_ - 1;
            job = slot.job;
            // The next job may be ready already: another download thread is to look at it.
            fetchers_.notify_one();
            slot.status.fetching = true;
            if (!options_.headOnly) {
                slot.countedAhead = true;
                ++filesAhead_;
            }
        }
        try {
            if (!job.copySource.empty() && CopyFromSource(id, job, buffer)) continue;
        } catch (const std::exception&) {
            // The copy is only a shortcut: the download below stands in for it.
            Remove(UnpackedPath(job));
        }
        try {
            if (job.chunks && !options_.headOnly && !stop_ && BuildFromChunks(id, job, fetcher)) continue;
        } catch (const std::exception& e) {
            // As any failure of the chunk path: the whole file is fetched.
            Remove(UnpackedPath(job));
            std::lock_guard lock(mutex_);
            At(id).status.chunkPath.tried = true;
            At(id).status.chunkPath.fallback = e.what();
        }
        FetchResult result;
        try {
            if (!job.localSource.empty()) {
                // Read where it lies: nothing to fetch.
                result.length = FileSize64(job.localSource);
                result.ok = result.length >= 0;
                if (result.ok) {
                    std::lock_guard lock(mutex_);
                    At(id).status.received = result.length;
                }
                if (!result.ok) {
                    result.failed = FetchStep::Request;
                    result.error = "missing on the server";
                }
            } else if (!platform_.newFetcher) {
                result.failed = FetchStep::Request;
                result.error = "no connection to fetch with";
            } else {
                if (!fetcher) fetcher = platform_.newFetcher();
                if (options_.headOnly) {
                    result = fetcher->Head(job.url);
                } else {
                    const auto progress = [this, id](int64_t written, const std::string& lengthText) {
                        std::lock_guard lock(mutex_);
                        if (!InRange(id)) return;
                        JobStatus& status = At(id).status;
                        status.received = written;
                        if (status.lengthText.empty()) status.lengthText = lengthText;
                    };
                    result = fetcher->Get(job.url, DownloadPath(job), stop_, progress);
                }
                if (result.ok && !options_.headOnly) {
                    // What was fetched, for a client that does not tell as it goes.
                    const int64_t size = FileSize64(DownloadPath(job));
                    std::lock_guard lock(mutex_);
                    if (size > At(id).status.received) At(id).status.received = size;
                }
            }
        } catch (const std::exception& e) {
            result = FetchResult{};
            result.failed = FetchStep::Request;
            result.error = e.what();
        }
        // A client that goes on with downloads left the part it got, with its record, for the
        // next run: it stays there, and the run learns of it.
        if (!result.ok && !options_.headOnly && job.localSource.empty() && FileExists(DownloadPath(job)) &&
            FileExists(PartialRecordPath(job.place)))
            ++partialsKept_;
        std::vector<Slot> done;
        {
            std::lock_guard lock(mutex_);
            Slot& slot = At(id);  // in range: a job being fetched is never taken off
            slot.status.fetched = true;
            slot.status.fetch = result;
            if (!result.lengthText.empty()) slot.status.lengthText = result.lengthText;
            slot.downloadOnDisk = result.ok && !options_.headOnly && job.localSource.empty();
            if (slot.released || !result.ok || options_.headOnly || stop_) {
                slot.status.done = true;
            } else {
                slot.queuedUnpack = true;
                unpackQueue_.push_back(id);
                unpackers_.notify_one();
            }
            WakeWalkerFor(id);
            done = CollectReleased();
        }
        CleanUp(done);
    }
}

void CheckEngine::UnpackLoop() {
    for (;;) {
        uint64_t id = 0;
        EngineJob job;
        {
            std::unique_lock lock(mutex_);
            unpackers_.wait(lock, [&] { return quit_ || !unpackQueue_.empty(); });
            if (quit_) return;
            id = unpackQueue_.front();
            unpackQueue_.pop_front();
            job = At(id).job;  // queued for unpacking: never taken off meanwhile
        }
        const bool fetched = job.localSource.empty();
        const std::string input = fetched ? DownloadPath(job) : job.localSource;
        const std::string unpacked = UnpackedPath(job);
        const UnpackOutcome outcome = UnpackChecked(input, unpacked, job.size, job.crcText, stop_, job.sha256);
        // The download is spent once unpacked, and of no use once it failed to.
        if (fetched) Remove(input);
        bool replaced = false, replaceOk = false;
        if (outcome.state == UnpackState::Unpacked && options_.replace && !stop_) {
            if (platform_.makeNormal) platform_.makeNormal(job.place);
            replaced = true;
            replaceOk = platform_.replaceFile && platform_.replaceFile(unpacked, job.place);
            if (!replaceOk) Remove(unpacked);
        }
        std::vector<Slot> done;
        {
            std::lock_guard lock(mutex_);
            Slot& slot = At(id);
            slot.downloadOnDisk = false;
            slot.unpackedOnDisk = outcome.state == UnpackState::Unpacked && !replaced;
            slot.status.unpacked = true;
            slot.status.unpack = outcome;
            slot.status.replaced = replaced;
            slot.status.replaceOk = replaceOk;
            // Without `replace` the walker takes the unpacked file: nothing more is done for it.
            slot.status.done = true;
            WakeWalkerFor(id);
            done = CollectReleased();
        }
        CleanUp(done);
    }
}

}  // namespace orv
