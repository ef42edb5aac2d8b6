// The chunk index "<checklist>.dim.chunks" of a build published with chunks, beside its checklist
// on the server (server_paths.h: ChunkIndexPath): for each file of the checklist of at least
// kChunkedFileMinSize bytes, its size, its SHA-256 and its chunks (chunking.h) in order. Each
// chunk lies once in the server's chunk store as an ".lzma" under its digest (ChunkPath), shared
// by every build and game. UTF-8 text, LF line ends:
//
//   orvanta-chunks 1
//   file <entry> <size> <64 hex: SHA-256 of the file> <chunk count>
//   <64 hex: SHA-256 of the chunk> <size> <packed size>          chunk count lines, in file order
//   file ...
//
// <entry> is the file's 0-based position among the checklist's entries (folders counted, as the
// hash list counts them), ascending from one file to the next. A file's chunk sizes sum to its
// size; each chunk holds 1 .. kChunkMaxSize bytes, and its ".lzma" 1 .. kChunkPackedMaxSize.
// Numbers are decimal without leading zeros, hex digits lower case, fields one blank apart.
// A signed build's checklist statement names the index's SHA-256 and size (chunks-sha256,
// chunks-size); an unkeyed launcher takes it as the server sends it and proves what it assembles
// against the checklist.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/integrity/chunking.h"
#include "launcher/platform/sha256.h"
#include "launcher/selfupdate/hex.h"

namespace orv {

// What a reader accepts: about 50 GB of chunked files at the average chunk size, and memory of
// about 64 bytes a chunk once read.
inline constexpr uint64_t kChunkIndexMaxBytes = uint64_t{64} << 20;
inline constexpr size_t kChunkIndexLineBytes = 64 + 1 + 20 + 1 + 20 + 1 + 64 + 1 + 20 + 1;

struct IndexedChunk {
    Sha256Digest sha256{};
    uint32_t size = 0;
    uint32_t packedSize = 0;
    uint64_t offset = 0;  // in its file: the sum of the sizes before it (not written, worked out)
};

struct IndexedFile {
    uint64_t entry = 0;
    uint64_t size = 0;
    Sha256Digest sha256{};
    size_t firstChunk = 0;  // into ChunkIndex::Chunks()
    size_t chunkCount = 0;
};

class ChunkIndex {
public:
    // The file listed at checklist entry `entry`; nothing when the index has none.
    const IndexedFile* FileAt(uint64_t entry) const;
    std::span<const IndexedChunk> ChunksOf(const IndexedFile& file) const;
    // Where a chunk with this digest lies in the files of the index: up to `most` of them.
    struct Holder {
        uint64_t entry = 0;
        uint64_t offset = 0;
        uint32_t size = 0;
    };
    std::vector<Holder> Holders(const Sha256Digest& sha256, size_t most = 4) const;

    const std::vector<IndexedFile>& Files() const { return files_; }
    const std::vector<IndexedChunk>& Chunks() const { return chunks_; }

    // Building one (the reader and the publisher): files in ascending entry order, each with its
    // chunks; Seal makes the lookups ready once all are added.
    void Add(const IndexedFile& file, std::span<const IndexedChunk> chunks);
    void Seal();

private:
    std::vector<IndexedFile> files_;
    std::vector<IndexedChunk> chunks_;
    // (first 8 bytes of a chunk's digest, its position in chunks_), sorted: Holders' lookup.
    std::vector<std::pair<uint64_t, uint32_t>> byDigest_;
};

struct ChunkIndexRead {
    std::optional<ChunkIndex> index;
    std::string error;  // English: why the text is not a usable index (nothing read then)
};

// Strict: every rule above is checked, and any fault refuses the whole index.
ChunkIndexRead ParseChunkIndex(std::string_view text);
// The index file, refused unread when it holds more than `limit` bytes. Raises EOSError when it
// cannot be opened or read.
ChunkIndexRead ReadChunkIndex(const std::string& path, uint64_t limit = kChunkIndexMaxBytes);

// The text of an index, line by line, as the publisher writes it.
std::string ChunkIndexHeaderLine();
std::string ChunkIndexFileLine(const IndexedFile& file);
std::string ChunkIndexChunkLine(const IndexedChunk& chunk);
// All of it.
std::string ChunkIndexText(const ChunkIndex& index);

// Lower-case hex of a digest: the name of a chunk in the store.
inline std::string DigestHex(const Sha256Digest& digest) { return EncodeHex(digest.data(), digest.size()); }

}  // namespace orv
