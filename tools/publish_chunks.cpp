#include "tools/publish_chunks.h"

#include <cstdlib>
#include <memory>
#include <system_error>

#include "launcher/base/codepage.h"
#include "launcher/base/errors.h"
#include "launcher/integrity/checklist.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/files.h"
#include "tools/publish.h"

#include <LzmaEnc.h>

namespace orv::publish {
namespace fs = std::filesystem;

namespace {

// The container's header: the encoder's properties, then the unpacked size as 64 bits.
constexpr size_t kSizeFieldBytes = 8;
constexpr size_t kHeaderBytes = LZMA_PROPS_SIZE + kSizeFieldBytes;

// Codec allocations through malloc: a refusal comes back as SZ_ERROR_MEM, not as an exception
// thrown through the SDK's C frames.
void* SzAlloc(void*, size_t size) { return size == 0 ? nullptr : std::malloc(size); }
void SzFree(void*, void* address) { std::free(address); }
ISzAlloc g_alloc = {SzAlloc, SzFree};

}  // namespace

std::string PackChunk(const uint8_t* bytes, size_t size) {
    if (size == 0 || size > kChunkMaxSize) throw Error("A chunk of " + std::to_string(size) + " bytes cannot be stored");
    // The settings of the whole files (normal mode, bt4, fb 128), with the window cut to the chunk:
    // no match reaches further back than the chunk's own start anyway.
    CLzmaEncProps props;
    LzmaEncProps_Init(&props);
    props.dictSize = kChunkMaxSize;
    props.reduceSize = static_cast<UInt32>(size);
    props.lc = 3;
    props.lp = 0;
    props.pb = 2;
    props.algo = 1;
    props.fb = 128;
    props.btMode = 1;
    props.numHashBytes = 4;
    props.writeEndMark = 0;
    props.numThreads = 1;

    std::string packed(kChunkPackedMaxSize, '\0');
    auto* out = reinterpret_cast<Byte*>(packed.data());
    SizeT propsSize = LZMA_PROPS_SIZE;
    SizeT streamSize = packed.size() - kHeaderBytes;
    const SRes res = LzmaEncode(out + kHeaderBytes, &streamSize, bytes, size, &props, out, &propsSize, 0, nullptr,
                                &g_alloc, &g_alloc);
    if (res == SZ_ERROR_MEM) throw Error("Out of memory");
    if (res == SZ_ERROR_OUTPUT_EOF)
        throw Error("A chunk packs to more than " + std::to_string(kChunkPackedMaxSize) + " bytes");
    if (res != SZ_OK || propsSize != LZMA_PROPS_SIZE) throw Error("LZMA encoder error " + std::to_string(res));
    for (size_t i = 0; i < kSizeFieldBytes; ++i)
        out[LZMA_PROPS_SIZE + i] = static_cast<Byte>(static_cast<uint64_t>(size) >> (8 * i));
    packed.resize(kHeaderBytes + streamSize);
    return packed;
}

ChunkStoreWriter::ChunkStoreWriter(fs::path root) : root_(std::move(root)) {}

uint32_t ChunkStoreWriter::Put(const ChunkPiece& piece, const uint8_t* bytes) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        const auto it = known_.find(piece.sha256);
        if (it != known_.end()) return it->second.packed;
    }
    const fs::path target = BelowFolder(root_, ChunkPath(DigestHex(piece.sha256)));
    std::error_code ec;
    const uintmax_t existing = fs::file_size(target, ec);
    // The store is content-addressed: a chunk of a plausible size under this name holds these bytes.
    if (!ec && existing >= 1 && existing <= kChunkPackedMaxSize) {
        std::lock_guard<std::mutex> guard(lock_);
        const auto [it, added] = known_.emplace(piece.sha256, Known{static_cast<uint32_t>(existing), false});
        if (added) ++tally_.present;
        return it->second.packed;
    }

    const std::string packed = PackChunk(bytes, piece.size);
    uint64_t part = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        part = ++parts_;
    }
    // Two threads may meet the same new chunk at once: each writes a part of its own, and the
    // second rename puts the same bytes in place again.
    const fs::path partPath = fs::path(target) += ".publishing" + std::to_string(part);
    try {
        fs::create_directories(target.parent_path());
        PendingFile file(FromFsPath(partPath));
        file.Write(packed.data(), packed.size());
        file.Keep();
        RenameFile(FromFsPath(partPath), FromFsPath(target), ExistingTarget::Replace);
    } catch (const std::exception& e) {
        std::error_code ignored;
        fs::remove(partPath, ignored);
        throw Error("Cannot store the chunk " + FromFsPath(target) + ": " + e.what());
    }

    std::lock_guard<std::mutex> guard(lock_);
    const auto [it, added] = known_.emplace(piece.sha256, Known{static_cast<uint32_t>(packed.size()), true});
    if (added || !it->second.written) {
        // Another thread may have found this one's chunk in place first and counted it as there.
        if (!added) --tally_.present;
        it->second = {static_cast<uint32_t>(packed.size()), true};
        ++tally_.written;
        tally_.grewBy += packed.size();
    }
    return it->second.packed;
}

ChunkStoreTally ChunkStoreWriter::Tally() const {
    std::lock_guard<std::mutex> guard(lock_);
    return tally_;
}

ChunkIndex BuildChunkIndex(const std::string& checklistBytes, CodePage page, const std::vector<const ChunkedFile*>& files) {
    std::map<std::string, const ChunkedFile*> byPath;
    for (const ChunkedFile* file : files) byPath[file->listedPath] = file;
    ChunkIndex index;
    ChecklistReader reader(checklistBytes, AnsiTextDecoder(page));
    uint64_t entry = 0;
    size_t found = 0;
    for (; !reader.AtEnd(); ++entry) {
        const ChecklistEntry e = reader.Next();
        const auto it = byPath.find(e.path);
        if (it == byPath.end() || e.IsFolder()) continue;
        const ChunkedFile& file = *it->second;
        IndexedFile listed;
        listed.entry = entry;
        listed.size = file.size;
        listed.sha256 = file.sha256;
        listed.firstChunk = index.Chunks().size();
        listed.chunkCount = file.chunks.size();
        index.Add(listed, file.chunks);
        ++found;
    }
    if (found != byPath.size()) throw Error("The checklist does not list every chunked file");
    index.Seal();
    return index;
}

bool PlaceChunkIndex(const fs::path& target, const std::optional<std::string>& text) {
    if (!text) {
        std::error_code ec;
        const bool removed = fs::remove(target, ec);
        if (ec) throw Error("Cannot remove the stale chunk index " + FromFsPath(target) + ": " + ec.message());
        return removed;
    }
    if (fs::exists(target) && ReadFileBytes(FromFsPath(target)) == *text) return false;
    fs::create_directories(target.parent_path());
    // Through a file beside it that takes its place: a launcher reads the old index or the new one.
    WriteFileReplacing(FromFsPath(target), *text);
    return true;
}

}  // namespace orv::publish
