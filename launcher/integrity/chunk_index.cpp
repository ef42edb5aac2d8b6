#include "launcher/integrity/chunk_index.h"

#include <algorithm>
#include <cstring>

#include "launcher/integrity/checklist_trust.h"

namespace orv {
namespace {

constexpr std::string_view kHeader = "orvanta-chunks 1";

uint64_t Prefix(const Sha256Digest& digest) {
    uint64_t value = 0;
    for (size_t i = 0; i < 8; ++i) value = (value << 8) | digest[i];
    return value;
}

// Decimal without leading zeros, fitting 64 bits.
std::optional<uint64_t> Number(std::string_view text) {
    if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0')) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

bool Digest(std::string_view text, Sha256Digest& digest) {
    if (text.size() != 64) return false;
    for (size_t i = 0; i < 32; ++i) {
        uint8_t byte = 0;
        for (size_t k = 0; k < 2; ++k) {
            const char c = text[2 * i + k];
            uint8_t nibble;
            if (c >= '0' && c <= '9') nibble = static_cast<uint8_t>(c - '0');
            else if (c >= 'a' && c <= 'f') nibble = static_cast<uint8_t>(c - 'a' + 10);
            else return false;
            byte = static_cast<uint8_t>(byte << 4 | nibble);
        }
        digest[i] = byte;
    }
    return true;
}

// Splits a line at single blanks into exactly `count` fields.
bool Fields(std::string_view line, std::string_view* out, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const size_t blank = line.find(' ');
        if (i + 1 == count) {
            if (blank != std::string_view::npos) return false;
            out[i] = line;
        } else {
            if (blank == std::string_view::npos) return false;
            out[i] = line.substr(0, blank);
            line.remove_prefix(blank + 1);
        }
        if (out[i].empty()) return false;
    }
    return true;
}

}  // namespace

const IndexedFile* ChunkIndex::FileAt(uint64_t entry) const {
    const auto it = std::lower_bound(files_.begin(), files_.end(), entry,
                                     [](const IndexedFile& f, uint64_t e) { return f.entry < e; });
    return it != files_.end() && it->entry == entry ? &*it : nullptr;
}

std::span<const IndexedChunk> ChunkIndex::ChunksOf(const IndexedFile& file) const {
    return std::span<const IndexedChunk>(chunks_).subspan(file.firstChunk, file.chunkCount);
}

std::vector<ChunkIndex::Holder> ChunkIndex::Holders(const Sha256Digest& sha256, size_t most) const {
    std::vector<Holder> holders;
    const uint64_t key = Prefix(sha256);
    auto it = std::lower_bound(byDigest_.begin(), byDigest_.end(), std::pair<uint64_t, uint32_t>{key, 0});
    for (; it != byDigest_.end() && it->first == key && holders.size() < most; ++it) {
        const IndexedChunk& chunk = chunks_[it->second];
        if (chunk.sha256 != sha256) continue;
        const auto file = std::upper_bound(files_.begin(), files_.end(), size_t{it->second},
                                           [](size_t pos, const IndexedFile& f) { return pos < f.firstChunk; });
        holders.push_back({std::prev(file)->entry, chunk.offset, chunk.size});
    }
    return holders;
}

void ChunkIndex::Add(const IndexedFile& file, std::span<const IndexedChunk> chunks) {
    IndexedFile added = file;
    added.firstChunk = chunks_.size();
    added.chunkCount = chunks.size();
    uint64_t offset = 0;
    for (IndexedChunk chunk : chunks) {
        chunk.offset = offset;
        offset += chunk.size;
        chunks_.push_back(chunk);
    }
    files_.push_back(added);
}

void ChunkIndex::Seal() {
    byDigest_.clear();
    byDigest_.reserve(chunks_.size());
    for (size_t i = 0; i < chunks_.size(); ++i) byDigest_.emplace_back(Prefix(chunks_[i].sha256), static_cast<uint32_t>(i));
    std::sort(byDigest_.begin(), byDigest_.end());
}

ChunkIndexRead ParseChunkIndex(std::string_view text) {
    ChunkIndexRead read;
    const auto refuse = [&read](uint64_t line, const std::string& why) {
        read.error = "line " + std::to_string(line) + " of the chunk index: " + why;
        return std::move(read);
    };
    if (text.size() > kChunkIndexMaxBytes) return refuse(1, "larger than " + std::to_string(kChunkIndexMaxBytes) + " bytes");
    if (text.empty() || text.back() != '\n') return refuse(1, "the text does not end with a line end");

    ChunkIndex index;
    std::vector<IndexedChunk> chunks;
    size_t pos = 0;
    uint64_t lineNumber = 0;
    const auto nextLine = [&](std::string_view& line) {
        if (pos >= text.size()) return false;
        const size_t end = text.find('\n', pos);
        line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;
        return true;
    };
    std::string_view line;
    if (!nextLine(line) || line != kHeader) return refuse(1, "not a chunk index of this version");
    bool haveFile = false;
    uint64_t lastEntry = 0;
    while (nextLine(line)) {
        if (line.size() > kChunkIndexLineBytes) return refuse(lineNumber, "too long");
        std::string_view f[5];
        if (line.substr(0, 5) != "file " || !Fields(line.substr(5), f, 4)) return refuse(lineNumber, "not a file line");
        IndexedFile file;
        const auto entry = Number(f[0]);
        const auto size = Number(f[1]);
        const auto count = Number(f[3]);
        if (!entry || !size || !count || !Digest(f[2], file.sha256)) return refuse(lineNumber, "a malformed file line");
        if (haveFile && *entry <= lastEntry) return refuse(lineNumber, "entries out of order");
        if (*size == 0 || *count == 0 || *count > *size) return refuse(lineNumber, "a file of no size or chunks");
        // Each chunk line takes at least 68 bytes, so a count the rest of the text cannot hold is
        // refused before anything is reserved for it.
        if (*count > (text.size() - pos) / 68) return refuse(lineNumber, "more chunks than the index holds");
        file.entry = *entry;
        file.size = *size;
        chunks.clear();
        uint64_t sum = 0;
        for (uint64_t i = 0; i < *count; ++i) {
            if (!nextLine(line)) return refuse(lineNumber, "the chunk list is cut short");
            if (line.size() > kChunkIndexLineBytes) return refuse(lineNumber, "too long");
            std::string_view c[3];
            IndexedChunk chunk;
            if (!Fields(line, c, 3) || !Digest(c[0], chunk.sha256)) return refuse(lineNumber, "not a chunk line");
            const auto chunkSize = Number(c[1]);
            const auto packed = Number(c[2]);
            if (!chunkSize || *chunkSize == 0 || *chunkSize > kChunkMaxSize) return refuse(lineNumber, "a chunk size out of range");
            if (!packed || *packed == 0 || *packed > kChunkPackedMaxSize)
                return refuse(lineNumber, "a packed size out of range");
            chunk.size = static_cast<uint32_t>(*chunkSize);
            chunk.packedSize = static_cast<uint32_t>(*packed);
            sum += chunk.size;
            if (sum > file.size) return refuse(lineNumber, "chunks larger than their file");
            chunks.push_back(chunk);
        }
        if (sum != file.size) return refuse(lineNumber, "chunks that do not add up to their file");
        index.Add(file, chunks);
        haveFile = true;
        lastEntry = file.entry;
    }
    index.Seal();
    read.index = std::move(index);
    return read;
}

ChunkIndexRead ReadChunkIndex(const std::string& path, uint64_t limit) {
    const std::optional<std::string> text = ReadBoundedFile(path, static_cast<size_t>(std::min(limit, kChunkIndexMaxBytes)));
    if (!text) return ChunkIndexRead{std::nullopt, "the chunk index is larger than " + std::to_string(limit) + " bytes"};
    return ParseChunkIndex(*text);
}

std::string ChunkIndexHeaderLine() { return std::string(kHeader) + "\n"; }

std::string ChunkIndexFileLine(const IndexedFile& file) {
    return "file " + std::to_string(file.entry) + " " + std::to_string(file.size) + " " + DigestHex(file.sha256) + " " +
           std::to_string(file.chunkCount) + "\n";
}

std::string ChunkIndexChunkLine(const IndexedChunk& chunk) {
    return DigestHex(chunk.sha256) + " " + std::to_string(chunk.size) + " " + std::to_string(chunk.packedSize) + "\n";
}

std::string ChunkIndexText(const ChunkIndex& index) {
    std::string text = ChunkIndexHeaderLine();
    for (const IndexedFile& file : index.Files()) {
        text += ChunkIndexFileLine(file);
        for (const IndexedChunk& chunk : index.ChunksOf(file)) text += ChunkIndexChunkLine(chunk);
    }
    return text;
}

}  // namespace orv
