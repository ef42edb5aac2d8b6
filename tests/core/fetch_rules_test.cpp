#include "launcher/net/fetch_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace orv {
namespace {

TEST(FetchRules, ContentLengthIsANumberOnlyWhenAllDigitsAndInRange) {
    const struct {
        const char* text;
        int64_t value;
    } cases[] = {
        {"0", 0},
        {"20000", 20000},
        {"0000004096", 4096},  // zero-padded: still the number
        {"9223372036854775807", INT64_MAX},
        {"9223372036854775808", -1},  // one past the largest
        {"99999999999999999999", -1},
        {"", -1},
        {"-1", -1},
        {"+5", -1},
        {" 5", -1},
        {"5 ", -1},
        {"12x", -1},
        {"abc", -1},
        {"1e3", -1},
        {"٣", -1},  // a digit of another script is not a decimal digit
    };
    for (const auto& c : cases) EXPECT_EQ(ContentLengthValue(c.text), c.value) << '"' << c.text << '"';
}

TEST(FetchRules, ABoundedBodyEndsWhenItOrItsLengthPassesTheBound) {
    const struct {
        int64_t written;
        const char* length;
        bool beyond;
    } cases[] = {
        {100, "", false},
        {101, "", true},
        {0, "100", false},
        {0, "101", true},
        {0, "99999999999999999999999", true},  // too large to read is too large
        {0, "12ab", false},                    // not a number: the bytes written decide
        {0, "-5", false},
    };
    for (const auto& c : cases) EXPECT_EQ(BodyBeyond(c.written, c.length, 100), c.beyond) << c.written << " " << c.length;
}

TEST(FetchRules, FailureTextsNameTheNumbers) {
    EXPECT_EQ(StatusFailureText(404), "HTTP status 404");
    EXPECT_EQ(StatusFailureText(0), "HTTP status 0");
    EXPECT_EQ(ShortBodyText(9000, 20000), "the body ended after 9000 of 20000 bytes");
    EXPECT_EQ(ShortBodyText(0, INT64_MAX), "the body ended after 0 of 9223372036854775807 bytes");
}

}  // namespace
}  // namespace orv
