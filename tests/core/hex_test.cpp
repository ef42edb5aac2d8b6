#include "launcher/selfupdate/hex.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orv {
namespace {

TEST(Hex, DecodesExactlyTheGivenNumberOfBytes) {
    const std::vector<uint8_t> bytes = {0x00, 0x7f, 0x80, 0xab, 0xff};
    const struct {
        const char* text;
        size_t byteCount;
        bool decodes;
    } cases[] = {
        {"007f80abff", 5, true},   {"007F80ABFF", 5, true},   {"007f80AbFf", 5, true},
        {"007f80abf", 5, false},   {"007f80abff00", 5, false}, {"", 5, false},
        {"007f80abfg", 5, false},  {"0x7f80abff", 5, false},   {"007f80abf ", 5, false},
        {" 007f80abf", 5, false},  {"-07f80abff", 5, false},   {"007f80ab\xff", 5, false},
        {"007f 80abff", 5, false}, {"", 0, true},
    };
    for (const auto& c : cases) {
        const auto decoded = DecodeHex(c.text, c.byteCount);
        EXPECT_EQ(decoded.has_value(), c.decodes) << c.text;
        if (decoded && c.byteCount == bytes.size()) {
            EXPECT_EQ(*decoded, bytes) << c.text;
        }
    }
    // A NUL inside the text is a character like any other.
    EXPECT_FALSE(DecodeHex(std::string("00\0f", 4), 2));
}

TEST(Hex, EncodesLowerCaseAndRoundTrips) {
    std::vector<uint8_t> all(256);
    for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i);
    const std::string text = EncodeHex(all);
    ASSERT_EQ(text.size(), 512u);
    EXPECT_EQ(text.substr(0, 8), "00010203");
    EXPECT_EQ(text.substr(504), "fcfdfeff");
    EXPECT_EQ(DecodeHex(text, all.size()), all);
    EXPECT_EQ(EncodeHex(nullptr, 0), "");
}

}  // namespace
}  // namespace orv
