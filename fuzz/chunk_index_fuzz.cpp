// A chunk index as a hostile server sends it: whatever is read must be one that the writer gives
// back byte for byte, with chunks that add up to their files and lookups that find them.
#include "fuzz_support.h"
#include "launcher/integrity/chunk_index.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(fuzz::AsText(data, size));
    const ChunkIndexRead read = ParseChunkIndex(text);
    fuzz::Require(read.index.has_value() != !read.error.empty(), "an index both read and refused");
    if (!read.index) return 0;
    fuzz::Require(ChunkIndexText(*read.index) == text, "an index does not survive a rewrite");
    for (const IndexedFile& file : read.index->Files()) {
        fuzz::Require(read.index->FileAt(file.entry) == &file, "a file its entry does not find");
        uint64_t sum = 0;
        for (const IndexedChunk& chunk : read.index->ChunksOf(file)) {
            fuzz::Require(chunk.offset == sum && chunk.size <= kChunkMaxSize, "a chunk out of place");
            sum += chunk.size;
            fuzz::Require(!read.index->Holders(chunk.sha256, 1).empty(), "a chunk its digest does not find");
        }
        fuzz::Require(sum == file.size, "chunks that do not add up");
    }
    return 0;
}
