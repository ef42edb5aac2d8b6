// A chunk store and index made in the test with the core's own rule: each chunk cut from the
// bytes, LZMA-packed into "chunks/ab/ab....lzma" below a server folder, and the file listed as the
// publisher lists it.
#pragma once

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "LzmaEnc.h"
#include "launcher/integrity/chunk_index.h"
#include "launcher/integrity/chunking.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/files.h"
#include "support/test_files.h"

namespace orv::test {

// One chunk's ".lzma" as the publisher's container has it (properties, dictionary, size, stream),
// packed with a window of the chunk's size: the encoder's default window of 8 MiB costs about
// 100 ms a chunk to set up, which the tests' thousands of chunks would feel.
inline std::string PackChunk(const uint8_t* data, size_t size) {
    CLzmaEncProps props;
    LzmaEncProps_Init(&props);
    props.dictSize = 1u << 18;
    props.level = 1;
    props.numThreads = 1;
    ISzAlloc alloc = {[](void*, size_t n) { return std::malloc(n); }, [](void*, void* p) { std::free(p); }};
    std::string out(13 + size + size / 2 + 1024, '\0');
    SizeT propsSize = 5;
    SizeT packed = out.size() - 13;
    const SRes res = LzmaEncode(reinterpret_cast<Byte*>(out.data()) + 13, &packed, data, size, &props,
                                reinterpret_cast<Byte*>(out.data()), &propsSize, 0, nullptr, &alloc, &alloc);
    if (res != SZ_OK) throw std::runtime_error("LzmaEncode failed");
    for (int i = 0; i < 8; ++i) out[5 + i] = static_cast<char>(static_cast<uint64_t>(size) >> (8 * i));
    out.resize(13 + packed);
    return out;
}

// The chunks of `bytes`, each stored below `root` (a server folder) unless already there.
inline std::vector<IndexedChunk> StoreChunks(const std::string& root, const std::string& bytes) {
    std::vector<IndexedChunk> chunks;
    ChunkCutter cutter([&](const ChunkPiece& piece, const uint8_t* data) {
        IndexedChunk chunk;
        chunk.sha256 = piece.sha256;
        chunk.size = piece.size;
        chunk.offset = piece.offset;
        const std::string path = root + "/" + ChunkPath(DigestHex(piece.sha256));
        if (!Exists(path)) {
            CreateDirectories(path.substr(0, path.find_last_of('/')));
            WriteFile(path, PackChunk(data, piece.size));
        }
        chunk.packedSize = static_cast<uint32_t>(ReadFile(path).size());
        chunks.push_back(chunk);
    });
    cutter.Feed(bytes.data(), bytes.size());
    cutter.Finish();
    return chunks;
}

inline IndexedFile IndexedFileOf(uint64_t entry, const std::string& bytes) {
    IndexedFile file;
    file.entry = entry;
    file.size = bytes.size();
    file.sha256 = Sha256Of(bytes);
    return file;
}

// Adds the file at checklist entry `entry` to `index`, its chunks stored below `root`.
inline void AddChunked(ChunkIndex& index, const std::string& root, uint64_t entry, const std::string& bytes) {
    const std::vector<IndexedChunk> chunks = StoreChunks(root, bytes);
    index.Add(IndexedFileOf(entry, bytes), chunks);
}

}  // namespace orv::test
