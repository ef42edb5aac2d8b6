#include "launcher/integrity/run_chunks.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <thread>

#include "launcher/net/fetch_rules.h"

#include "launcher/platform/file_helpers.h"
#include "launcher/platform/files.h"

namespace orv {
namespace {

void RemoveIfThere(const std::string& path) {
    try {
        if (!path.empty() && FileExists(path)) RemoveFile(path);
    } catch (...) {
        // Removed by the next run, which removes the same name first.
    }
}

}  // namespace

RunChunks::~RunChunks() { RemoveIfThere(source_.path); }

const ChunkIndex* RunChunks::Index(Fetcher* fetcher, const std::atomic<bool>& stop) {
    {
        std::lock_guard lock(mutex_);
        asked_ = true;
        if (tried_) return index_ ? &*index_ : nullptr;
    }
    std::lock_guard loading(loading_);
    {
        std::lock_guard lock(mutex_);
        if (tried_) return index_ ? &*index_ : nullptr;
    }
    std::unique_ptr<Fetcher> own;
    try {
        if (source_.newFetcher) {
            own = source_.newFetcher();
            fetcher = own.get();
        }
        if (fetcher) {
            Load(*fetcher, stop);
        } else {
            std::lock_guard lock(mutex_);
            why_ = "no connection to fetch the chunk index with";
        }
    } catch (const std::exception& e) {
        std::lock_guard lock(mutex_);
        index_.reset();
        why_ = std::string("the chunk index could not be read: ") + e.what();
    }
    RemoveIfThere(source_.path);
    std::lock_guard lock(mutex_);
    tried_ = true;
    return index_ ? &*index_ : nullptr;
}

void RunChunks::Load(Fetcher& fetcher, const std::atomic<bool>& stop) {
    const auto refuse = [this](std::string why) {
        std::lock_guard lock(mutex_);
        why_ = std::move(why);
    };
    if (source_.keyed && !source_.sha256) return refuse("the checklist statement names no chunk index");
    const uint64_t most = source_.keyed ? source_.size : kChunkIndexMaxBytes;
    // The bound ends the transfer as soon as the body passes it: an endless answer costs a block.
    std::atomic<bool> halt{false};
    bool tooLarge = false;
    const FetchProgress progress = [&](int64_t written, const std::string& lengthText) {
        if (BodyBeyond(written, lengthText, most)) tooLarge = true;
        if (tooLarge || stop) halt = true;
    };
    RemoveIfThere(source_.path);
    // The progress above is told nothing while the server is silent, so a stop would wait for the
    // receive time-out: a watcher passes the run's stop on to the transfer's flag meanwhile. It
    // touches no handle; the fetching thread alone ends its own request on the flag.
    std::mutex watchMutex;
    std::condition_variable watchWake;
    bool fetched = false;
    std::thread watcher([&] {
        std::unique_lock lock(watchMutex);
        while (!fetched && !stop) watchWake.wait_for(lock, std::chrono::milliseconds(20));
        if (stop) halt = true;
    });
    struct EndWatch {
        std::mutex& mutex;
        std::condition_variable& wake;
        bool& fetched;
        std::thread& watcher;
        ~EndWatch() {
            {
                std::lock_guard lock(mutex);
                fetched = true;
            }
            wake.notify_all();
            watcher.join();
        }
    } endWatch{watchMutex, watchWake, fetched, watcher};
    const FetchResult result = fetcher.Get(source_.url, source_.path, halt, progress);
    if (tooLarge) return refuse("the chunk index is larger than " + std::to_string(most) + " bytes");
    if (result.status == 404) return refuse("the build has no chunk index");
    if (!result.ok || result.stopped) return refuse("the chunk index could not be fetched: " + result.error);
    if (result.status != 200) return refuse("the chunk index could not be fetched: HTTP status " + std::to_string(result.status));
    if (source_.keyed) {
        const FileDigest digest = Sha256OfFile(source_.path);
        if (digest.size != source_.size || digest.sha256 != *source_.sha256)
            return refuse("the chunk index is not the one the checklist statement names");
    }
    ChunkIndexRead read = ReadChunkIndex(source_.path, most);
    if (!read.index) return refuse("the chunk index is refused: " + read.error);
    std::lock_guard lock(mutex_);
    index_ = std::move(read.index);
}

std::string RunChunks::Why() const {
    std::lock_guard lock(mutex_);
    return why_;
}

bool RunChunks::Asked() const {
    std::lock_guard lock(mutex_);
    return asked_;
}

void RunChunks::NotePlace(uint64_t entry, const std::string& place) {
    std::lock_guard lock(mutex_);
    places_[entry] = place;
}

std::string RunChunks::PlaceOf(uint64_t entry) const {
    std::lock_guard lock(mutex_);
    const auto found = places_.find(entry);
    return found == places_.end() ? std::string() : found->second;
}

const IndexedFile* IndexedFileFor(const ChunkIndex& index, uint64_t entry, int64_t size,
                                  const std::optional<Sha256Digest>& sha256) {
    const IndexedFile* file = index.FileAt(entry);
    if (!file || size < 0 || file->size != static_cast<uint64_t>(size)) return nullptr;
    if (sha256 && file->sha256 != *sha256) return nullptr;
    return file;
}

}  // namespace orv
