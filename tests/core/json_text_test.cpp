#include "launcher/base/json_text.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

TEST(JsonText, EveryValueKeepsTheFormTheDocumentWrites) {
    struct Case {
        const char* value;  // as written in {"v": ...}
        JsonKind kind;
        const char* text;
    };
    // clang-format off
    const Case cases[] = {
        {"1e2", JsonKind::Number, "1e2"},
        {"1.50", JsonKind::Number, "1.50"},
        {"1E+02", JsonKind::Number, "1E+02"},
        {"-0", JsonKind::Number, "-0"},
        {"-0.0", JsonKind::Number, "-0.0"},
        {"0", JsonKind::Number, "0"},
        {"891568578", JsonKind::Number, "891568578"},
        {"-12", JsonKind::Number, "-12"},
        {"18446744073709551615", JsonKind::Number, "18446744073709551615"},
        {"18446744073709551616", JsonKind::Number, "18446744073709551616"},  // beyond 64 bits
        {"-9223372036854775809", JsonKind::Number, "-9223372036854775809"},
        {"\"1e2\"", JsonKind::String, "1e2"},
        {"\"\\u0418\\t\"", JsonKind::String, "\xD0\x98\t"},
        {"true", JsonKind::Boolean, "true"},
        {"false", JsonKind::Boolean, "false"},
        {"null", JsonKind::Null, "null"},
        {"[]", JsonKind::Array, ""},
        {"{\"a\": 1}", JsonKind::Object, ""},
    };
    // clang-format on
    for (const Case& c : cases) {
        const std::optional<JsonMembers> members = ReadJsonMembers(std::string("{\"v\": ") + c.value + "}");
        ASSERT_TRUE(members) << c.value;
        ASSERT_EQ(members->count("v"), 1u) << c.value;
        EXPECT_EQ(members->at("v").kind, c.kind) << c.value;
        EXPECT_EQ(members->at("v").text, c.text) << c.value;
        // The same value as an array element.
        const std::optional<JsonMembers> array = ReadJsonMembers(std::string("{\"a\": [7, ") + c.value + "]}");
        ASSERT_TRUE(array) << c.value;
        const std::vector<JsonText>& elements = array->at("a").elements;
        ASSERT_EQ(elements.size(), 2u) << c.value;
        EXPECT_EQ(elements[1].kind, c.kind) << c.value;
        EXPECT_EQ(elements[1].text, c.text) << c.value;
    }
}

TEST(JsonText, OnlyTheTopLevelMembersAndTheirElementsAreKept) {
    const std::optional<JsonMembers> members = ReadJsonMembers(
        "{\"Files\": [\"a\", [\"deep\", 1], {\"x\": [2]}, 3], \"Obj\": {\"Files\": [\"no\"], \"k\": 4}, "
        "\"Dirs\": \"first\", \"Dirs\": [\"second\"], \"n\": 1.0}");
    ASSERT_TRUE(members);
    EXPECT_EQ(members->size(), 4u);
    const std::vector<JsonText>& files = members->at("Files").elements;
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(files[0].text, "a");
    EXPECT_EQ(files[1].kind, JsonKind::Array);
    EXPECT_EQ(files[1].text, "");
    EXPECT_EQ(files[2].kind, JsonKind::Object);
    EXPECT_EQ(files[3].text, "3");
    EXPECT_TRUE(members->at("Obj").elements.empty()) << "a nested object's members are not the document's";
    // A later member of the same name replaces the earlier one, value and kind.
    EXPECT_EQ(members->at("Dirs").kind, JsonKind::Array);
    ASSERT_EQ(members->at("Dirs").elements.size(), 1u);
    EXPECT_EQ(members->at("Dirs").elements[0].text, "second");
    EXPECT_EQ(members->at("n").text, "1.0");
}

TEST(JsonText, TextThatIsNoJsonObjectHasNoMembers) {
    for (const std::string bad : {"", " ", "plain text", "[1, 2]", "\"{}\"", "12", "null", "{\"a\": 1",
                                  "{\"a\": 1} {}", "{\"a\": 01}", "{\"a\": \"\xFF\"}",
                                  "{a: 1}", "{\"a\": [1,]}"}) {
        EXPECT_FALSE(ReadJsonMembers(bad)) << bad;
    }
    EXPECT_TRUE(ReadJsonMembers(" {} \r\n"));
    const std::string deep = "{\"deep\": " + std::string(100000, '[') + std::string(100000, ']') + "}";
    EXPECT_TRUE(ReadJsonMembers(deep)) << "deep nesting is skipped, not recursed into";
}

}  // namespace
}  // namespace orv
