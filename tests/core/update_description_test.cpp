#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "launcher/net/server_paths.h"
#include "launcher/selfupdate/update_description.h"

namespace orv {
namespace {

constexpr uint32_t kCrcOfAbc = 891568578;

TEST(UpdateDescription, ReadsTheFourValuesInTheirTextForm) {
    const auto d = ReadUpdateDescription(
        R"({"DownloadURL": "http://updates.example/cstrike/Orvanta.exe.lzma", "LzmaFileSize": 123456,
            "LzmaFileCRC32": "anything", "FileCRC32": 891568578, "Other": [1, 2]})",
        CodePage::Windows1251);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->DownloadURL, "http://updates.example/cstrike/Orvanta.exe.lzma");
    EXPECT_EQ(d->LzmaFileSize, 123456);
    EXPECT_EQ(d->LzmaFileCRC32, "anything");
    EXPECT_EQ(d->FileCRC32, "891568578");
}

TEST(UpdateDescription, EncodingFollowsTheByteOrderMarkElseTheAnsiPage) {
    const std::string ansi = "{\"DownloadURL\": \"http://x/\xCF.lzma\", \"LzmaFileSize\": \"1\", "
                             "\"LzmaFileCRC32\": 0, \"FileCRC32\": \"1\"}";
    EXPECT_EQ(ReadUpdateDescription(ansi, CodePage::Windows1251)->DownloadURL, "http://x/П.lzma");
    const std::string utf8 = "\xEF\xBB\xBF{\"DownloadURL\": \"http://x/\xD0\x9F.lzma\", \"LzmaFileSize\": 1, "
                             "\"LzmaFileCRC32\": 0, \"FileCRC32\": 1}";
    EXPECT_EQ(ReadUpdateDescription(utf8, CodePage::Windows1252)->DownloadURL, "http://x/П.lzma");
}

TEST(UpdateDescription, RefusedDocuments) {
    const char* refused[] = {
        "",
        "not json",
        "[1, 2]",
        R"("a string")",
        R"({"LzmaFileSize": 1, "LzmaFileCRC32": 0, "FileCRC32": 1})",                          // no URL
        R"({"DownloadURL": "http://x/", "LzmaFileCRC32": 0, "FileCRC32": 1})",                 // no size
        R"({"DownloadURL": "http://x/", "LzmaFileSize": 1, "FileCRC32": 1})",                  // no LzmaFileCRC32
        R"({"DownloadURL": "http://x/", "LzmaFileSize": 1, "LzmaFileCRC32": 0})",              // no FileCRC32
        R"({"DownloadURL": "http://x/", "LzmaFileSize": "12a", "LzmaFileCRC32": 0, "FileCRC32": 1})",
        R"({"DownloadURL": "http://x/", "LzmaFileSize": 1.5, "LzmaFileCRC32": 0, "FileCRC32": 1})",
        R"({"DownloadURL": "http://x/", "LzmaFileSize": "", "LzmaFileCRC32": 0, "FileCRC32": 1})",
        R"({"DownloadURL": "http://x/", "LzmaFileSize": "99999999999999999999", "LzmaFileCRC32": 0, "FileCRC32": 1})",
        R"({"DownloadURL": {"nested": 1}, "LzmaFileSize": 1, "LzmaFileCRC32": 0, "FileCRC32": 1})",
        R"({"DownloadURL": null, "LzmaFileSize": 1, "LzmaFileCRC32": 0, "FileCRC32": 1})",
        R"({"DownloadURL": "http://x/", "LzmaFileSize": [1], "LzmaFileCRC32": 0, "FileCRC32": 1})",
        R"({"DownloadURL": "http://x/", "LzmaFileSize": 1, "LzmaFileCRC32": 0, "FileCRC32": null})",
        R"({"DownloadURL": "http://x/", "LzmaFileSize": 1e3, "LzmaFileCRC32": 0, "FileCRC32": 1})",
    };
    for (const char* text : refused) EXPECT_FALSE(ReadUpdateDescription(text, CodePage::Windows1252)) << text;
}

TEST(UpdateDescription, AnyValueOfTheUnusedLzmaFileCrcWillDo) {
    const struct {
        const char* value;
        const char* text;
    } cases[] = {
        {"null", "null"}, {"[]", ""}, {"[1, {\"a\": 2}]", ""}, {"{}", ""}, {"{\"x\": [1]}", ""},
        {"\"\"", ""},   {"\"zz\"", "zz"}, {"true", "true"}, {"1.50", "1.50"}, {"-0", "-0"},
    };
    for (const auto& c : cases) {
        const std::string text = std::string(R"({"DownloadURL": "http://x/", "LzmaFileSize": 7, "LzmaFileCRC32": )") +
                                 c.value + R"(, "FileCRC32": "891568578"})";
        const std::optional<UpdateDescription> d = ReadUpdateDescription(text, CodePage::Windows1252);
        ASSERT_TRUE(d) << c.value;
        EXPECT_EQ(d->LzmaFileCRC32, c.text) << c.value;
        EXPECT_EQ(d->LzmaFileSize, 7) << c.value;
        EXPECT_TRUE(FileCrc32Matches(kCrcOfAbc, d->FileCRC32)) << c.value;
    }
}

TEST(UpdateDescription, NumbersAreTakenAsWritten) {
    // A number is compared in the form the document gives: one with a fraction or an exponent
    // is not the decimal CRC-32 text, even when its value is.
    const struct {
        const char* fileCrc;
        bool matches;
    } cases[] = {{"891568578", true}, {"\"891568578\"", true}, {"891568578.0", false}, {"8.91568578e8", false}};
    for (const auto& c : cases) {
        const std::string text =
            std::string(R"({"DownloadURL": "http://x/", "LzmaFileSize": 7, "LzmaFileCRC32": 0, "FileCRC32": )") +
            c.fileCrc + "}";
        const std::optional<UpdateDescription> d = ReadUpdateDescription(text, CodePage::Windows1252);
        ASSERT_TRUE(d) << c.fileCrc;
        EXPECT_EQ(FileCrc32Matches(kCrcOfAbc, d->FileCRC32), c.matches) << c.fileCrc << " read as " << d->FileCRC32;
    }
}

TEST(UpdateDescription, SignatureIsReadOnlyAsAString) {
    const std::string sig(128, 'a');
    const struct {
        std::optional<std::string> json;  // the value of "Signature", or no such key
        std::optional<std::string> read;
    } cases[] = {
        {std::nullopt, std::nullopt},
        {"\"" + sig + "\"", sig},
        {"\"\"", std::string()},  // read as given: the signature check refuses it
        {"\"not hex\"", std::string("not hex")},
        {"12345", std::nullopt},  // not a string: absent, so a launcher that needs one refuses the update
        {"null", std::nullopt},
        {"true", std::nullopt},
        {"[\"" + sig + "\"]", std::nullopt},
        {"{\"r\": \"aa\"}", std::nullopt},
    };
    for (const auto& c : cases) {
        std::string text = R"({"DownloadURL": "http://x/", "LzmaFileSize": 1, "LzmaFileCRC32": 0, "FileCRC32": 1)";
        if (c.json) text += ", \"Signature\": " + *c.json;
        text += "}";
        const auto d = ReadUpdateDescription(text, CodePage::Windows1252);
        ASSERT_TRUE(d) << text;  // whatever "Signature" holds, the rest reads as without it
        EXPECT_EQ(d->Signature, c.read) << text;
        EXPECT_EQ(d->FileCRC32, "1") << text;
    }
}

TEST(UpdateDescription, FileCrcMatchesOnlyTheSameDecimalDigits) {
    const struct {
        const char* fileCrc32;
        bool matches;
    } cases[] = {
        {"891568578", true},   {"0891568578", false}, {"+891568578", false}, {"-891568578", false},
        {"0x3524A6C2", false}, {"3524a6c2", false},   {"891568578 ", false}, {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(FileCrc32Matches(kCrcOfAbc, c.fileCrc32), c.matches) << c.fileCrc32;
    // A JSON number and a JSON string of the same digits read alike.
    const auto number = ReadUpdateDescription(
        R"({"DownloadURL": "http://x/", "LzmaFileSize": 1, "LzmaFileCRC32": 0, "FileCRC32": 891568578})",
        CodePage::Windows1252);
    const auto string = ReadUpdateDescription(
        R"({"DownloadURL": "http://x/", "LzmaFileSize": 1, "LzmaFileCRC32": 0, "FileCRC32": "891568578"})",
        CodePage::Windows1252);
    EXPECT_TRUE(FileCrc32Matches(kCrcOfAbc, number->FileCRC32));
    EXPECT_TRUE(FileCrc32Matches(kCrcOfAbc, string->FileCRC32));
}

TEST(UpdateDescription, OnlyWebAddressesAreFollowed) {
    for (const char* url : {"http://updates.example/a.lzma", "https://updates.example/a.lzma", "HTTP://x/a"})
        EXPECT_TRUE(IsWebAddress(url)) << url;
    for (const char* url : {"file:///C:/Windows/a.lzma", "\\\\host\\share\\a.lzma", "C:\\a.lzma", "ftp://x/a",
                            "http://", "", "javascript:alert(1)", " http://x/a"})
        EXPECT_FALSE(IsWebAddress(url)) << url;
}

}  // namespace
}  // namespace orv
