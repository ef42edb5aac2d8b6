#include "launcher/integrity/crc32.h"

#include <gtest/gtest.h>

#include "launcher/base/events.h"
#include "support/test_files.h"

namespace orv {
namespace {

int g_pumps = 0;
int32_t* g_stopOnPump = nullptr;
void CountingPump() {
    ++g_pumps;
    if (g_stopOnPump) *g_stopOnPump = 1;
}

class Crc32Test : public ::testing::Test {
protected:
    void SetUp() override {
        g_pumps = 0;
        g_stopOnPump = nullptr;
        previous_ = SetEventPump(CountingPump);
    }
    void TearDown() override { SetEventPump(previous_); }
    test::TempDir dir_;
    EventPump previous_ = nullptr;
};

TEST_F(Crc32Test, KnownValuesAndTextForm) {
    EXPECT_EQ(Crc32Of("abc"), 0x352441C2u);
    EXPECT_EQ(Crc32Of("123456789"), 0xCBF43926u);
    EXPECT_EQ(Crc32Text(0x352441C2u), "891568578");
    EXPECT_EQ(Crc32Text(0xCBF43926u), "3421780262");
    EXPECT_EQ(Crc32Text(0), "0");
    EXPECT_EQ(Crc32Text(0xFFFFFFFFu), "4294967295");
}

// The bitwise definition, to hold the fast paths against.
uint32_t ReferenceCrc(const std::string& bytes, uint32_t reg = 0xFFFFFFFFu) {
    for (const unsigned char b : bytes) {
        reg ^= b;
        for (int i = 0; i < 8; ++i) reg = (reg >> 1) ^ (0xEDB88320u & (0u - (reg & 1u)));
    }
    return reg;
}

TEST_F(Crc32Test, EveryLengthOffsetAndSplitGivesTheDefinitionsValue) {
    const std::string data = test::MakeData(5000, 11, false);
    // Lengths around the 16- and 64-byte steps of the folding path, at unaligned offsets.
    for (const size_t length : {0, 1, 15, 16, 17, 63, 64, 65, 79, 80, 127, 128, 129, 191, 255, 256, 1000, 4095, 4096}) {
        for (const size_t offset : {0, 1, 3, 8, 15}) {
            const std::string part = data.substr(offset, length);
            EXPECT_EQ(Crc32Update(0xFFFFFFFFu, part.data(), part.size()), ReferenceCrc(part))
                << "length " << length << ", offset " << offset;
        }
    }
    // A register carried over from earlier blocks, in pieces of every kind.
    for (const size_t split : {1, 16, 64, 100, 2500, 4999}) {
        uint32_t reg = Crc32Update(0xFFFFFFFFu, data.data(), split);
        reg = Crc32Update(reg, data.data() + split, data.size() - split);
        EXPECT_EQ(reg, ReferenceCrc(data)) << "split at " << split;
    }
    const std::string zeros(4096, '\0'), ones(4096, '\xFF');
    EXPECT_EQ(Crc32Of(zeros), ReferenceCrc(zeros) ^ 0xFFFFFFFFu);
    EXPECT_EQ(Crc32Of(ones), ReferenceCrc(ones) ^ 0xFFFFFFFFu);
}

TEST_F(Crc32Test, FileValuesEmptyAndMissing) {
    test::WriteFile(dir_.File("abc"), "abc");
    test::WriteFile(dir_.File("empty"), "");
    EXPECT_EQ(FileCrc32(dir_.File("abc")), 891568578u);
    EXPECT_EQ(FileCrc32(dir_.File("empty")), 0u);
    EXPECT_EQ(FileCrc32(dir_.File("missing")), 0u);
    EXPECT_EQ(g_pumps, 3) << "abc: a block and the empty read; empty: one read; missing: none";
}

TEST_F(Crc32Test, BlocksOfExactly65521BytesAndOnePumpPerRead) {
    const std::string data = test::MakeData(Crc32BlockSize, 7, false);
    test::WriteFile(dir_.File("one-block"), data);
    EXPECT_EQ(FileCrc32(dir_.File("one-block")), Crc32Of(data));
    EXPECT_EQ(g_pumps, 2) << "a full block, then one empty read";

    g_pumps = 0;
    const std::string big = test::MakeData(3 * Crc32BlockSize + 5, 8, false);
    test::WriteFile(dir_.File("big"), big);
    EXPECT_EQ(FileCrc32(dir_.File("big")), Crc32Of(big));
    EXPECT_EQ(g_pumps, 5);
}

TEST_F(Crc32Test, StopFlagEndsAfterTheCurrentBlock) {
    const std::string big = test::MakeData(3 * Crc32BlockSize, 9, false);
    test::WriteFile(dir_.File("big"), big);
    int32_t stop = 1;
    EXPECT_EQ(FileCrc32(dir_.File("big"), stop), Crc32Of(big.substr(0, Crc32BlockSize)));
    EXPECT_EQ(g_pumps, 1);

    // A stop requested from inside the pump (the Stop button) is seen after that block.
    g_pumps = 0;
    stop = 0;
    g_stopOnPump = &stop;
    EXPECT_EQ(FileCrc32(dir_.File("big"), stop), Crc32Of(big.substr(0, Crc32BlockSize)));
    EXPECT_EQ(g_pumps, 1);

    // Any value other than 1 does not stop.
    g_pumps = 0;
    g_stopOnPump = nullptr;
    stop = 2;
    EXPECT_EQ(FileCrc32(dir_.File("big"), stop), Crc32Of(big));
}

TEST_F(Crc32Test, UpdateIsIncremental) {
    const std::string data = test::MakeData(100000, 3, true);
    uint32_t reg = 0xFFFFFFFFu;
    reg = Crc32Update(reg, data.data(), 12345);
    reg = Crc32Update(reg, data.data() + 12345, data.size() - 12345);
    EXPECT_EQ(reg ^ 0xFFFFFFFFu, Crc32Of(data));
}

}  // namespace
}  // namespace orv
