// The chunk rule and the chunk index as publisher and launcher must agree on them: boundaries that
// survive an edit elsewhere, the size bounds, and an index reader that a lying server cannot get
// past or make hold more than its text.
#include "launcher/integrity/chunk_index.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace orv {
namespace {

std::string RandomBytes(size_t size, uint32_t seed) {
    std::mt19937_64 random(seed);
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; i += 8) {
        const uint64_t value = random();
        for (size_t k = 0; k < 8 && i + k < size; ++k) bytes[i + k] = static_cast<char>(value >> (8 * k));
    }
    return bytes;
}

std::vector<ChunkPiece> Cut(const std::string& bytes, size_t block) {
    std::vector<ChunkPiece> pieces;
    ChunkCutter cutter([&](const ChunkPiece& piece, const uint8_t* data) {
        EXPECT_EQ(Sha256Of(std::string_view(reinterpret_cast<const char*>(data), piece.size)), piece.sha256);
        pieces.push_back(piece);
    });
    for (size_t at = 0; at < bytes.size(); at += block) cutter.Feed(bytes.data() + at, std::min(block, bytes.size() - at));
    cutter.Finish();
    return pieces;
}

std::map<Sha256Digest, uint64_t> BytesByDigest(const std::vector<ChunkPiece>& pieces) {
    std::map<Sha256Digest, uint64_t> digests;
    for (const ChunkPiece& piece : pieces) digests[piece.sha256] = piece.size;
    return digests;
}

// The bytes of `after` held in chunks that `before` does not have.
uint64_t NewBytes(const std::vector<ChunkPiece>& before, const std::vector<ChunkPiece>& after) {
    const auto known = BytesByDigest(before);
    uint64_t fresh = 0;
    for (const ChunkPiece& piece : after)
        if (!known.count(piece.sha256)) fresh += piece.size;
    return fresh;
}

TEST(ChunkingTest, GearTableIsTheDocumentedSplitMix64Sequence) {
    // The first outputs of SplitMix64 from state 0, as every implementation of it gives them.
    EXPECT_EQ(GearTable()[0], 0xE220A8397B1DCDAFull);
    EXPECT_EQ(GearTable()[1], 0x6E789E6AA1B965F4ull);
    EXPECT_EQ(GearTable()[2], 0x06C45D188009454Full);
}

TEST(ChunkingTest, BoundsHoldAndTheCutIsTheSameWhateverTheBlocks) {
    const std::string bytes = RandomBytes(6 << 20, 1);
    const auto pieces = Cut(bytes, 1 << 20);
    uint64_t offset = 0;
    for (size_t i = 0; i < pieces.size(); ++i) {
        EXPECT_EQ(pieces[i].offset, offset);
        EXPECT_LE(pieces[i].size, kChunkMaxSize);
        if (i + 1 < pieces.size()) {
            EXPECT_GT(pieces[i].size, kChunkMinSize);
        }
        offset += pieces[i].size;
    }
    EXPECT_EQ(offset, bytes.size());
    const double average = static_cast<double>(bytes.size()) / static_cast<double>(pieces.size());
    EXPECT_GT(average, 0.75 * kChunkAverageSize);
    EXPECT_LT(average, 1.5 * kChunkAverageSize);
    for (size_t block : {size_t{1} << 10, size_t{kChunkMaxSize} + 7, size_t{3} << 20}) {
        const auto again = Cut(bytes, block);
        ASSERT_EQ(again.size(), pieces.size()) << block;
        for (size_t i = 0; i < pieces.size(); ++i) EXPECT_EQ(again[i].sha256, pieces[i].sha256);
    }
}

TEST(ChunkingTest, SmallAndUniformInputs) {
    struct Case {
        std::string bytes;
        std::vector<uint32_t> sizes;
    } cases[] = {
        {"", {}},
        {"x", {1}},
        {RandomBytes(kChunkMinSize, 2), {kChunkMinSize}},
        // Bytes that never make a boundary are cut at the largest size.
        {std::string(kChunkMaxSize * 2 + 5, '\0'), {kChunkMaxSize, kChunkMaxSize, 5}},
    };
    for (const Case& c : cases) {
        std::vector<uint32_t> sizes;
        for (const ChunkPiece& piece : Cut(c.bytes, 4096)) sizes.push_back(piece.size);
        EXPECT_EQ(sizes, c.sizes) << c.bytes.size();
    }
    const uint8_t one = 7;
    EXPECT_EQ(ChunkLength(&one, 1), 1u);
}

TEST(ChunkingTest, AnEditMovesOnlyTheChunksAroundIt) {
    const std::string original = RandomBytes(8 << 20, 3);
    const auto before = Cut(original, 1 << 20);
    struct Edit {
        const char* what;
        std::string bytes;
    } edits[] = {
        {"insert near the start", original.substr(0, 100000) + RandomBytes(10000, 4) + original.substr(100000)},
        {"remove in the middle", original.substr(0, 4000000) + original.substr(4010000)},
        {"overwrite in the middle", original.substr(0, 4000000) + RandomBytes(1 << 20, 5) + original.substr(4000000 + (1 << 20))},
        {"one byte changed", [&] { std::string s = original; s[5000000] ^= 1; return s; }()},
    };
    for (const Edit& edit : edits) {
        const uint64_t fresh = NewBytes(before, Cut(edit.bytes, 1 << 20));
        const uint64_t changed = edit.bytes.size() > original.size() ? edit.bytes.size() - original.size()
                                 : std::string_view(edit.what) == "overwrite in the middle" ? (1u << 20)
                                                                                           : 1;
        // What changed, and at most a few chunks either side of it.
        EXPECT_LE(fresh, changed + 4 * kChunkMaxSize) << edit.what;
        EXPECT_GT(fresh, 0u) << edit.what;
    }
}

std::string IndexOfOneFile(uint64_t entry, const std::vector<std::pair<uint32_t, uint32_t>>& chunks) {
    IndexedFile file;
    file.entry = entry;
    file.sha256 = Sha256Of("file");
    std::vector<IndexedChunk> list;
    for (size_t i = 0; i < chunks.size(); ++i) {
        IndexedChunk chunk;
        chunk.sha256 = Sha256Of("chunk" + std::to_string(i));
        chunk.size = chunks[i].first;
        chunk.packedSize = chunks[i].second;
        file.size += chunk.size;
        list.push_back(chunk);
    }
    ChunkIndex index;
    index.Add(file, list);
    index.Seal();
    return ChunkIndexText(index);
}

TEST(ChunkIndexTest, ReadsBackWhatWasWrittenAndFindsEveryHolder) {
    ChunkIndex index;
    const Sha256Digest shared = Sha256Of("shared");
    std::vector<IndexedChunk> first = {{Sha256Of("a"), 100, 90, 0}, {shared, 50, 60, 0}};
    std::vector<IndexedChunk> second = {{shared, 50, 60, 0}, {Sha256Of("b"), 7, 20, 0}, {shared, 50, 60, 0}};
    index.Add({3, 150, Sha256Of("one"), 0, 0}, first);
    index.Add({10, 107, Sha256Of("two"), 0, 0}, second);
    index.Seal();
    const ChunkIndexRead read = ParseChunkIndex(ChunkIndexText(index));
    ASSERT_TRUE(read.index) << read.error;
    EXPECT_EQ(ChunkIndexText(*read.index), ChunkIndexText(index));
    ASSERT_TRUE(read.index->FileAt(10));
    EXPECT_FALSE(read.index->FileAt(4));
    EXPECT_EQ(read.index->ChunksOf(*read.index->FileAt(10))[2].offset, 57u);
    const auto holders = read.index->Holders(shared);
    ASSERT_EQ(holders.size(), 3u);
    EXPECT_EQ(holders[0].entry, 3u);
    EXPECT_EQ(holders[0].offset, 100u);
    EXPECT_EQ(holders[2].entry, 10u);
    EXPECT_EQ(holders[2].offset, 57u);
    EXPECT_EQ(read.index->Holders(shared, 1).size(), 1u);
    EXPECT_TRUE(read.index->Holders(Sha256Of("nowhere")).empty());
}

TEST(ChunkIndexTest, RefusesEveryMalformedOrOversizedForm) {
    const std::string good = IndexOfOneFile(2, {{1000, 900}, {24, 40}});
    ASSERT_TRUE(ParseChunkIndex(good).index);
    const auto replaced = [&good](const std::string& from, const std::string& to) {
        std::string t = good;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    const std::string chunkLine = good.substr(good.rfind('\n', good.size() - 2) + 1);
    const std::string cases[] = {
        "",
        good.substr(0, good.size() - 1),                  // no final line end
        replaced("orvanta-chunks 1", "orvanta-chunks 2"),
        replaced("file 2 1024", "file 02 1024"),
        replaced("file 2 1024", "file 2 1025"),           // chunks do not add up
        replaced("file 2 1024", "file 2 1023"),
        replaced(" 2\n", " 3\n"),                         // a chunk more than listed
        replaced(" 2\n", " 1\n"),                         // a chunk line where a file line belongs
        replaced(" 2\n", " 0\n"),
        replaced(" 2\n", " 99999999999999999999\n"),
        replaced(" 1000 900", " 1000 0"),
        replaced(" 1000 900", " 1000 " + std::to_string(kChunkPackedMaxSize + 1)),
        replaced(" 1000 900", " 1000  900"),
        replaced(" 1000 900", " 1000 900 1"),
        replaced("\n", "\r\n"),
        replaced("file 2", "File 2"),
        good + good.substr(good.find("file")),            // the same entry twice
        good + "\n",
        good.substr(0, good.size() - chunkLine.size()),   // cut inside the list
        std::string(good).replace(good.find("file") + 20, 1, "A"),  // upper-case hex
    };
    for (const std::string& text : cases) {
        const ChunkIndexRead read = ParseChunkIndex(text);
        EXPECT_FALSE(read.index) << text;
        EXPECT_FALSE(read.error.empty());
    }
    // A count the text cannot hold is refused without holding it.
    EXPECT_FALSE(ParseChunkIndex("orvanta-chunks 1\nfile 0 4000000000 " + std::string(64, 'a') + " 4000000000\n").index);
    EXPECT_FALSE(ParseChunkIndex(good + std::string(kChunkIndexMaxBytes, 'x')).index);
}

}  // namespace
}  // namespace orv
