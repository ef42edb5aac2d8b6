#include "launcher/integrity/chunking.h"

#include <algorithm>
#include <cstring>

#include "launcher/platform/files.h"

namespace orv {
namespace {

constexpr std::array<uint64_t, 256> MakeGearTable() {
    std::array<uint64_t, 256> table{};
    uint64_t state = 0;
    for (uint64_t& value : table) {
        state += 0x9E3779B97F4A7C15ull;
        uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        value = z ^ (z >> 31);
    }
    return table;
}

constexpr std::array<uint64_t, 256> kGear = MakeGearTable();

// The masks take the hash's high bits: bit k of h depends on the last k + 1 bytes, so high bits
// make a boundary depend on a window of some fifty bytes rather than on the last few.
constexpr uint64_t kStrictMask = 0xFFFF800000000000ull;  // 17 bits, before the average size
constexpr uint64_t kLooseMask = 0xFFF8000000000000ull;   // 13 bits, after it

// Rolls from `from` to `to` with `mask`; the position after the boundary, or `to` when none.
// Four bytes a round: the hash after each of them is worked out from the one before the first, so
// the dependency chain is one shift and one add per four bytes, and one branch covers all four.
inline size_t Roll(const uint8_t* data, size_t from, size_t to, uint64_t mask, uint64_t& h) {
    size_t i = from;
    for (; i + 4 <= to; i += 4) {
        const uint64_t g0 = kGear[data[i]], g1 = kGear[data[i + 1]], g2 = kGear[data[i + 2]], g3 = kGear[data[i + 3]];
        const uint64_t h1 = (h << 1) + g0;
        const uint64_t h2 = (h << 2) + ((g0 << 1) + g1);
        const uint64_t h3 = (h << 3) + ((g0 << 2) + (g1 << 1) + g2);
        const uint64_t h4 = (h << 4) + ((g0 << 3) + (g1 << 2) + (g2 << 1) + g3);
        if (((h1 & mask) == 0) | ((h2 & mask) == 0) | ((h3 & mask) == 0) | ((h4 & mask) == 0)) [[unlikely]] {
            if ((h1 & mask) == 0) return i + 1;
            if ((h2 & mask) == 0) return i + 2;
            if ((h3 & mask) == 0) return i + 3;
            return i + 4;
        }
        h = h4;
    }
    for (; i < to; ++i) {
        h = (h << 1) + kGear[data[i]];
        if ((h & mask) == 0) return i + 1;
    }
    return to;
}

// The chunk at the start of `data`, hashed and told to `sink`; its length.
size_t CutOne(const uint8_t* data, size_t available, uint64_t offset, const ChunkCutter::Sink& sink) {
    const size_t length = ChunkLength(data, available);
    const ChunkPiece piece{offset, static_cast<uint32_t>(length),
                           Sha256Of(std::string_view(reinterpret_cast<const char*>(data), length))};
    sink(piece, data);
    return length;
}

}  // namespace

const std::array<uint64_t, 256>& GearTable() { return kGear; }

size_t ChunkLength(const uint8_t* data, size_t available) {
    if (available <= kChunkMinSize) return available;
    const size_t limit = std::min<size_t>(available, kChunkMaxSize);
    const size_t normal = std::min<size_t>(limit, kChunkAverageSize);
    uint64_t h = 0;
    const size_t strict = Roll(data, kChunkMinSize, normal, kStrictMask, h);
    if (strict < normal) return strict;
    return Roll(data, normal, limit, kLooseMask, h);
}

ChunkCutter::ChunkCutter(Sink sink) : sink_(std::move(sink)), buffer_(2 * size_t{kChunkMaxSize}) {}

void ChunkCutter::Feed(const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    fed_ += size;
    while (size > 0) {
        if (end_ == buffer_.size()) {
            std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
            end_ -= start_;
            start_ = 0;
        }
        const size_t take = std::min(size, buffer_.size() - end_);
        std::memcpy(buffer_.data() + end_, bytes, take);
        end_ += take;
        bytes += take;
        size -= take;
        CutWhileFull();
    }
}

void ChunkCutter::CutWhileFull() {
    while (end_ - start_ >= kChunkMaxSize) {
        const size_t length = CutOne(buffer_.data() + start_, end_ - start_, offset_, sink_);
        start_ += length;
        offset_ += length;
    }
}

void ChunkCutter::Finish() {
    while (end_ > start_) {
        const size_t length = CutOne(buffer_.data() + start_, end_ - start_, offset_, sink_);
        start_ += length;
        offset_ += length;
    }
    start_ = end_ = 0;
}

bool CutFile(const std::string& path, const std::atomic<bool>& stop, const ChunkCutter::Sink& sink) {
    File file = File::OpenRead(path);
    // Read straight into the buffer the chunks are cut from: at a gigabyte a second a copy more
    // of every byte is a tenth of the time.
    std::vector<uint8_t> buffer(size_t{4} << 20);
    size_t start = 0, end = 0;
    uint64_t offset = 0;
    bool atEnd = false;
    while (!atEnd || end > start) {
        if (stop.load(std::memory_order_relaxed)) return false;
        if (!atEnd) {
            if (buffer.size() - end < kChunkMaxSize) {
                std::memmove(buffer.data(), buffer.data() + start, end - start);
                end -= start;
                start = 0;
            }
            const size_t got = file.ReadOrRaise(buffer.data() + end, buffer.size() - end);
            if (got == 0) atEnd = true;
            end += got;
        }
        while (end - start >= kChunkMaxSize || (atEnd && end > start)) {
            const size_t length = CutOne(buffer.data() + start, end - start, offset, sink);
            start += length;
            offset += length;
        }
    }
    return true;
}

}  // namespace orv
