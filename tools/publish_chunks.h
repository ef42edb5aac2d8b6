// The publisher's side of the chunk store (launcher/integrity/chunk_index.h): each chunk of a large
// build file packed once under its digest below the server root, and the build's chunk index
// beside its checklist. The store is shared by every build and game of the server, so nothing here
// ever deletes a chunk: an older build's index may still name it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "launcher/base/codepage.h"
#include "launcher/integrity/chunk_index.h"
#include "launcher/integrity/chunking.h"

namespace orv::publish {

// One chunk's bytes as an LZMA-alone container ("properties, dictionary, size, stream"), with a
// dictionary no larger than the chunk, so that the launcher's decoder needs a small window for it.
// Raises Error when the encoder fails or the result would exceed kChunkPackedMaxSize.
std::string PackChunk(const uint8_t* bytes, size_t size);

// What a run did to the store.
struct ChunkStoreTally {
    size_t written = 0;    // chunks this run added
    size_t present = 0;    // chunks it found there already (each counted once)
    uint64_t grewBy = 0;   // the packed bytes it added
};

// The store below a server root, shared by the publishing threads.
class ChunkStoreWriter {
public:
    explicit ChunkStoreWriter(std::filesystem::path root);

    // Puts the chunk in the store unless a usable one lies there already; its packed size. A
    // reader never sees part of a chunk under its real name. Raises Error.
    uint32_t Put(const ChunkPiece& piece, const uint8_t* bytes);

    ChunkStoreTally Tally() const;

private:
    struct Known {
        uint32_t packed = 0;
        bool written = false;
    };
    std::filesystem::path root_;
    mutable std::mutex lock_;
    std::map<Sha256Digest, Known> known_;  // every chunk this run has met
    ChunkStoreTally tally_;
    uint64_t parts_ = 0;                   // names the part files, one per write
};

// A build file as the index lists it.
struct ChunkedFile {
    std::string listedPath;  // as the checklist lists it: "\" first, UTF-8
    uint64_t size = 0;
    Sha256Digest sha256{};
    std::vector<IndexedChunk> chunks;
};

// The index of the files among the checklist's entries, each at its entry number (folders
// counted, as the hash list counts them). Raises Error when the checklist does not list one.
ChunkIndex BuildChunkIndex(const std::string& checklistBytes, CodePage page, const std::vector<const ChunkedFile*>& files);

// Puts the index text at `target` (when it differs from what lies there) or, without one, removes
// an index left by an earlier publish of the checklist: it would describe files that are gone.
// True when it changed anything.
bool PlaceChunkIndex(const std::filesystem::path& target, const std::optional<std::string>& text);

}  // namespace orv::publish
