// Content-defined chunks: how a large file is cut so that bytes inserted or removed in one place
// move only the chunks around them, and every other chunk keeps its bytes and so its SHA-256. The
// publisher cuts each large file of a build with this rule and stores each chunk once under its
// digest; a launcher cuts its own copy with the same rule to learn which chunks it already holds.
// The rule is part of the published format: a change to any constant here or to the gear table
// makes every launcher's cut miss the server's.
//
// The rule is a gear hash with normalised chunking: from a chunk's start, the first kChunkMinSize
// bytes are skipped; then h = (h << 1) + Gear[byte] for each byte, and the chunk ends after the
// first byte where h & mask == 0, using the stricter mask 0xFFFF800000000000 until
// kChunkAverageSize bytes and the looser 0xFFF8000000000000 after; at kChunkMaxSize bytes it ends
// regardless. h (64 bits, wrapping) starts at 0 for every chunk, so a boundary depends only on the
// bytes since the previous one.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "launcher/platform/sha256.h"

namespace orv {

// Files of at least this many bytes are published in chunks as well as whole.
inline constexpr uint64_t kChunkedFileMinSize = uint64_t{4} << 20;
inline constexpr uint32_t kChunkMinSize = 16 * 1024;
inline constexpr uint32_t kChunkAverageSize = 64 * 1024;
inline constexpr uint32_t kChunkMaxSize = 256 * 1024;
// The largest ".lzma" of one chunk that is accepted: a chunk's bytes, what LZMA adds to data that
// does not compress, and the container's header.
inline constexpr uint32_t kChunkPackedMaxSize = kChunkMaxSize + kChunkMaxSize / 8 + 64;

// The 256 values of the gear hash: value i is output i + 1 of SplitMix64 started from state 0
// (state += 0x9E3779B97F4A7C15; z = state; z = (z ^ z >> 30) * 0xBF58476D1CE4E5B9;
// z = (z ^ z >> 27) * 0x94D049BB133111EB; z ^ z >> 31).
const std::array<uint64_t, 256>& GearTable();

// The length of the chunk that starts at data[0], of `available` bytes at hand: fewer than
// kChunkMaxSize only where the data ends. At least 1 when `available` is, at most
// min(available, kChunkMaxSize); all of `available` when it is at most kChunkMinSize.
size_t ChunkLength(const uint8_t* data, size_t available);

// One chunk as cut: where it starts in the file, its length and its digest.
struct ChunkPiece {
    uint64_t offset = 0;
    uint32_t size = 0;
    Sha256Digest sha256{};
};

// Cuts a stream of bytes fed in blocks of any size, hashing each chunk as it is cut. Memory: a
// buffer of twice the largest chunk, whatever the stream's length.
class ChunkCutter {
public:
    // Told each chunk in order, with its bytes (valid during the call only).
    using Sink = std::function<void(const ChunkPiece& piece, const uint8_t* bytes)>;
    explicit ChunkCutter(Sink sink);
    void Feed(const void* data, size_t size);
    // The end of the stream: the chunks still held are cut. Nothing may be fed after it.
    void Finish();
    uint64_t BytesFed() const { return fed_; }

private:
    void CutWhileFull();
    Sink sink_;
    std::vector<uint8_t> buffer_;
    size_t start_ = 0;  // of the next chunk in buffer_
    size_t end_ = 0;    // of the bytes held in buffer_
    uint64_t offset_ = 0;  // of buffer_[start_] in the stream
    uint64_t fed_ = 0;
};

// Cuts the file at `path`, read a block at a time. False once `stop` is set (the sink may have been
// told some chunks); raises EOSError when the file cannot be opened or read.
bool CutFile(const std::string& path, const std::atomic<bool>& stop, const ChunkCutter::Sink& sink);

}  // namespace orv
