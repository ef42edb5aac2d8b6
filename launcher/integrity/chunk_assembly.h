// A large file's listed content built from chunks (chunk_index.h) instead of downloaded whole:
// the chunks the old file already holds are taken from it, those another listed file holds at its
// listed offset from there once their bytes prove it, and only the rest are fetched from the
// server's chunk store, several at once. The output, beside the file, is written in order by the
// calling thread alone and proved as a whole before it is kept.
//
// Memory stays with a few chunks per connection, whatever the file's size: the old file is cut as
// it is read, and at most a window of fetched chunks waits to be written. The fetching threads are
// started and joined within the call, each over a connection of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "launcher/integrity/chunk_index.h"
#include "launcher/net/fetcher.h"
#include "launcher/platform/sha256.h"

namespace orv {

inline constexpr unsigned kChunkConnections = 3;
// The most connections one assembly uses, whatever it is asked for: each has a fetch name of its
// own beside the file, which a later run knows to remove.
inline constexpr unsigned kMostChunkConnections = 8;

struct ChunkAssemblyRequest {
    const ChunkIndex* index = nullptr;
    const IndexedFile* file = nullptr;  // of `index`: what is to be built
    std::string place;                  // the old file (may be missing)
    // Where the file listed at an index entry lies in the game folder; empty when not known.
    std::function<std::string(uint64_t entry)> placeOf;
    std::string output;                 // beside the file; nothing stays there unless assembled
    // Fetched chunks go to this name followed by a connection's number, beside the file, and are
    // gone when the call returns.
    std::string fetchStem;
    // What the checklist lists, and a signed build's SHA-256 of the file.
    int64_t size = 0;
    std::string crcText;
    std::optional<Sha256Digest> sha256;
    // One connection per fetching thread, made and used on that thread.
    std::function<std::unique_ptr<Fetcher>()> newFetcher;
    std::string storeBase;              // the server base the chunk store lies below
    unsigned connections = kChunkConnections;
    // Told the bytes written to the output so far, on the calling thread.
    std::function<void(uint64_t written)> progress;
};

enum class ChunkFailure {
    None,
    Missing,       // the store has no such chunk (404)
    OtherBytes,    // a chunk unpacked to other bytes than its digest, or of another size
    NotDecodable,  // a chunk's ".lzma" does not unpack, or is larger than any chunk's may be
    Fetch,         // a chunk could not be fetched (the server, the network)
    OtherContent,  // the whole has another size, CRC-32 or SHA-256 than listed
    FileError,     // a file could not be read or written
    Stopped,
};

// The word the headless check reports a failure by.
const char* ChunkFailureReason(ChunkFailure failure);

struct ChunkAssemblyResult {
    ChunkFailure failure = ChunkFailure::Stopped;
    std::string detail;  // English: which chunk, the server's or the platform's word
    uint64_t bytesReused = 0;    // taken from files of the game folder
    uint64_t bytesFetched = 0;   // packed bytes that came over the network
    uint64_t chunksFetched = 0;
    bool ok() const { return failure == ChunkFailure::None; }
};

// Builds the file at `request.output`. Expected failures are results; nothing stays at the output
// or the fetch names unless the result is ok.
ChunkAssemblyResult AssembleFromChunks(const ChunkAssemblyRequest& request, const std::atomic<bool>& stop);

}  // namespace orv
