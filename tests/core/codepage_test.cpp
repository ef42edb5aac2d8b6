#include "launcher/base/codepage.h"

#include <gtest/gtest.h>

#include <string>

namespace orv {
namespace {

std::string AllBytes() {
    std::string bytes;
    for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
    return bytes;
}

TEST(CodePage, NumbersNameThePagesThisModuleHolds) {
    EXPECT_EQ(CodePageFromNumber(1251), CodePage::Windows1251);
    EXPECT_EQ(CodePageFromNumber(1252), CodePage::Windows1252);
    EXPECT_EQ(CodePageFromNumber(866), CodePage::Dos866);
    EXPECT_FALSE(CodePageFromNumber(65001));
    EXPECT_FALSE(CodePageFromNumber(0));
    EXPECT_EQ(CodePageNumber(CodePage::Windows1251), 1251);
}

TEST(CodePage, EveryDefinedByteRoundTripsAndTheUndefinedOnesAreFlagged) {
    struct Case {
        CodePage page;
        std::string undefined;
    };
    for (const Case& c : {Case{CodePage::Windows1251, "\x98"}, Case{CodePage::Windows1252, "\x81\x8D\x8F\x90\x9D"},
                          Case{CodePage::Dos866, ""}}) {
        SCOPED_TRACE(CodePageNumber(c.page));
        std::string defined;
        for (int b = 0; b < 256; ++b) {
            const std::string one(1, static_cast<char>(b));
            const CodePageText text = AnsiToUtf8(one, c.page);
            if (c.undefined.find(one) != std::string::npos) {
                EXPECT_FALSE(text.lossless) << b;
                EXPECT_EQ(text.text, "\xEF\xBF\xBD") << b;
                continue;
            }
            EXPECT_TRUE(text.lossless) << b;
            defined += one;
        }
        const CodePageText decoded = AnsiToUtf8(defined, c.page);
        ASSERT_TRUE(decoded.lossless);
        const CodePageText encoded = Utf8ToAnsi(decoded.text, c.page);
        EXPECT_TRUE(encoded.lossless);
        EXPECT_EQ(encoded.text, defined) << "256 bytes less the undefined ones come back unchanged";
        EXPECT_EQ(static_cast<size_t>(256) - c.undefined.size(), defined.size());
    }
}

TEST(CodePage, KnownCharactersSitWhereWindowsPutsThem) {
    EXPECT_EQ(Utf8ToAnsi("Игрок", CodePage::Windows1251).text, "\xC8\xE3\xF0\xEE\xEA");
    EXPECT_EQ(AnsiToUtf8("\xC8\xE3\xF0\xEE\xEA", CodePage::Windows1251).text, "Игрок");
    EXPECT_EQ(Utf8ToAnsi("Ёё№€", CodePage::Windows1251).text, "\xA8\xB8\xB9\x88");
    EXPECT_EQ(Utf8ToAnsi("Игрок", CodePage::Dos866).text, "\x88\xA3\xE0\xAE\xAA");
    EXPECT_EQ(Utf8ToAnsi("café €Ÿ", CodePage::Windows1252).text, "caf\xE9 \x80\x9F");
    EXPECT_EQ(AnsiToUtf8("\xFF\xD7", CodePage::Windows1252).text, "ÿ×");
    EXPECT_EQ(AnsiToUtf8(AllBytes().substr(0, 128), CodePage::Windows1251).text, AllBytes().substr(0, 128))
        << "the lower half is ASCII";
}

TEST(CodePage, UnmappableCharactersAreReplacedAndTheFirstIsLocated) {
    const CodePageText greek = Utf8ToAnsi("ab\xCE\xB1z\xE2\x82\xAC", CodePage::Dos866);  // "abαz€"
    EXPECT_FALSE(greek.lossless);
    EXPECT_EQ(greek.firstFailure, 2u);
    EXPECT_EQ(greek.text, "ab?z?");
    EXPECT_EQ(Utf8CharacterAt("ab\xCE\xB1z", greek.firstFailure), "α");

    const CodePageText cyrillicIn1252 = Utf8ToAnsi("mapЖ", CodePage::Windows1252);
    EXPECT_FALSE(cyrillicIn1252.lossless);
    EXPECT_EQ(cyrillicIn1252.firstFailure, 3u);

    const CodePageText emoji = Utf8ToAnsi("x\xF0\x9F\x98\x80", CodePage::Windows1251);
    EXPECT_FALSE(emoji.lossless);
    EXPECT_EQ(emoji.text, "x?") << "one replacement per character, not per byte";

    const CodePageText decoded = AnsiToUtf8("a\x98\x98", CodePage::Windows1251);
    EXPECT_FALSE(decoded.lossless);
    EXPECT_EQ(decoded.firstFailure, 1u);
}

TEST(CodePage, MalformedUtf8IsNotLossless) {
    for (const std::string& bad : {std::string("\xC0\xAF"), std::string("\xED\xA0\x80"), std::string("\xD0"),
                                   std::string("\xF4\x90\x80\x80"), std::string("\x80")}) {
        const CodePageText text = Utf8ToAnsi("ok" + bad, CodePage::Windows1251);
        EXPECT_FALSE(text.lossless);
        EXPECT_EQ(text.firstFailure, 2u);
        EXPECT_EQ(text.text.substr(0, 2), "ok");
    }
    EXPECT_TRUE(Utf8ToAnsi("", CodePage::Windows1251).lossless);
    EXPECT_EQ(Utf8CharacterAt("\xC0\xAF", 0), "\xC0") << "a malformed sequence is named by its first byte";
    EXPECT_EQ(Utf8CharacterAt("a", 5), "");
}

}  // namespace
}  // namespace orv
