// A check run's chunk index (chunk_index.h) and what the engine's threads need of it: fetched once,
// by the first large file that differs and only then, so that a run whose files are good asks for
// nothing. A signed build takes only the index its checklist statement names (size and SHA-256); an
// unkeyed one takes what the server sends, and a server without one (404) or an index that does
// not read just means no chunks: every file is then fetched whole, as before.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "launcher/integrity/chunk_assembly.h"
#include "launcher/integrity/chunk_index.h"
#include "launcher/net/fetcher.h"
#include "launcher/platform/sha256.h"

namespace orv {

struct ChunkIndexSource {
    std::string url;        // the index's address (ChunkIndexUrl)
    std::string path;       // where it is downloaded to; removed once read and when the run ends
    std::string storeBase;  // the base the chunk store lies below
    // A signed build: the index is taken only when its checklist statement names it.
    bool keyed = false;
    std::optional<Sha256Digest> sha256;
    uint64_t size = 0;
    // Connections for the index and the chunks other than the engine's (a server folder on this
    // machine); unset: the engine's own.
    std::function<std::unique_ptr<Fetcher>()> newFetcher;
    unsigned connections = kChunkConnections;
};

class RunChunks {
public:
    explicit RunChunks(ChunkIndexSource source) : source_(std::move(source)) {}
    ~RunChunks();
    RunChunks(const RunChunks&) = delete;
    RunChunks& operator=(const RunChunks&) = delete;

    // The index, downloaded through `fetcher` (or a connection of the source's own) by the first
    // thread to ask while the others wait; nothing when the build has none or it was refused, and
    // Why() then says why. Any thread.
    const ChunkIndex* Index(Fetcher* fetcher, const std::atomic<bool>& stop);
    std::string Why() const;
    // Whether any thread asked for the index.
    bool Asked() const;

    // The walker notes where each large file lies as it reads the checklist, so that a chunk that
    // another listed file holds can be read from there.
    void NotePlace(uint64_t entry, const std::string& place);
    std::string PlaceOf(uint64_t entry) const;

    const ChunkIndexSource& Source() const { return source_; }

private:
    void Load(Fetcher& fetcher, const std::atomic<bool>& stop);

    const ChunkIndexSource source_;
    mutable std::mutex mutex_;
    std::mutex loading_;  // held by the thread that downloads
    bool asked_ = false;
    bool tried_ = false;
    std::optional<ChunkIndex> index_;
    std::string why_;
    std::map<uint64_t, std::string> places_;
};

// The file that index lists at checklist entry `entry`, when it agrees with the checklist's size
// and, keyed, with the hash list's SHA-256; nothing otherwise.
const IndexedFile* IndexedFileFor(const ChunkIndex& index, uint64_t entry, int64_t size,
                                  const std::optional<Sha256Digest>& sha256);

}  // namespace orv
