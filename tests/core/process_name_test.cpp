// Which process-list entries "end every hl2.exe" picks, and in what order they are ended.
#include <gtest/gtest.h>

#include "launcher/net/process_name.h"

namespace orv {
namespace {

TEST(ProcessName, FileNamePartFollowsTheLastSeparator) {
    EXPECT_EQ(FileNamePart(u"hl2.exe"), u"hl2.exe");
    EXPECT_EQ(FileNamePart(u"C:\\Games\\CSS\\hl2.exe"), u"hl2.exe");
    EXPECT_EQ(FileNamePart(u"C:/Games/hl2.exe"), u"hl2.exe");
    EXPECT_EQ(FileNamePart(u"C:hl2.exe"), u"hl2.exe");
    EXPECT_EQ(FileNamePart(u"C:\\Games\\"), u"");
    EXPECT_EQ(FileNamePart(u""), u"");
}

TEST(ProcessName, MatchesTheFileNameIgnoringTheCaseOfAsciiLettersOnly) {
    EXPECT_TRUE(ProcessNameMatches(u"hl2.exe", u"hl2.exe"));
    EXPECT_TRUE(ProcessNameMatches(u"hl2.exe", u"HL2.EXE"));
    EXPECT_TRUE(ProcessNameMatches(u"Hl2.ExE", u"hL2.eXe"));
    EXPECT_TRUE(ProcessNameMatches(u"C:\\Games\\CSS\\hl2.exe", u"HL2.exe"));

    EXPECT_FALSE(ProcessNameMatches(u"hl2.exe", u"hl2"));
    EXPECT_FALSE(ProcessNameMatches(u"hl2.exe", u"hl2.exe "));
    EXPECT_FALSE(ProcessNameMatches(u"xhl2.exe", u"hl2.exe"));
    EXPECT_FALSE(ProcessNameMatches(u"hl2.exe", u"hl3.exe"));
    EXPECT_FALSE(ProcessNameMatches(u"hl2.exe", u""));
    // Characters next to the letters in the code table are not letters: '@'/'`', '['/'{', '^'/'~'.
    EXPECT_FALSE(ProcessNameMatches(u"@.exe", u"`.exe"));
    EXPECT_FALSE(ProcessNameMatches(u"[a].exe", u"{a}.exe"));
    EXPECT_FALSE(ProcessNameMatches(u"^.exe", u"~.exe"));
    // Letters outside a-z are compared exactly: Cyrillic, Latin-1 and the dotless/dotted i.
    EXPECT_TRUE(ProcessNameMatches(u"Игра.exe", u"Игра.EXE"));
    EXPECT_FALSE(ProcessNameMatches(u"Игра.exe", u"ИГРА.exe"));
    EXPECT_FALSE(ProcessNameMatches(u"\u00e4.exe", u"\u00c4.exe"));
    EXPECT_FALSE(ProcessNameMatches(u"\u0131.exe", u"I.exe"));
    EXPECT_FALSE(ProcessNameMatches(u"\u212a.exe", u"k.exe"));  // Kelvin sign, which Unicode folds to k
}

TEST(ProcessName, ANameWithAFolderMatchesOnlyTheWholeExecutableName) {
    EXPECT_TRUE(ProcessNameMatches(u"C:\\Games\\hl2.exe", u"c:\\GAMES\\HL2.exe"));
    EXPECT_FALSE(ProcessNameMatches(u"hl2.exe", u"C:\\Games\\hl2.exe"));
    EXPECT_FALSE(ProcessNameMatches(u"D:\\Games\\hl2.exe", u"C:\\Games\\hl2.exe"));
    EXPECT_FALSE(ProcessNameMatches(u"C:\\Games\\hl2.exe", u"Games\\hl2.exe"));
    // Separators are compared exactly too.
    EXPECT_FALSE(ProcessNameMatches(u"C:\\Games\\hl2.exe", u"C:/Games/hl2.exe"));
}

TEST(ProcessName, EndsEveryMatchInListOrderAndTheCallerLast) {
    const std::vector<ProcessEntry> list = {
        {4, u"System"}, {100, u"Orvanta.exe"}, {200, u"hl2.exe"}, {300, u"ORVANTA.EXE"},
        {400, u"C:\\Games\\Orvanta.exe"}, {500, u"orvanta.exe.bak"}, {600, u"HL2.exe"},
    };
    EXPECT_EQ(ProcessesToEnd(list, u"hl2.exe", 100), (std::vector<uint32_t>{200, 600}));
    EXPECT_EQ(ProcessesToEnd(list, u"orvanta.exe", 999), (std::vector<uint32_t>{100, 300, 400}));
    // The caller, first in the list, is ended only after the launchers that come after it.
    EXPECT_EQ(ProcessesToEnd(list, u"orvanta.exe", 100), (std::vector<uint32_t>{300, 400, 100}));
    EXPECT_EQ(ProcessesToEnd(list, u"orvanta.exe", 300), (std::vector<uint32_t>{100, 400, 300}));
    // A caller that does not match is never ended.
    EXPECT_EQ(ProcessesToEnd(list, u"hl2.exe", 200 + 1), (std::vector<uint32_t>{200, 600}));
    EXPECT_TRUE(ProcessesToEnd(list, u"steamcmd.exe", 100).empty());
    EXPECT_TRUE(ProcessesToEnd({}, u"hl2.exe", 100).empty());
}

}  // namespace
}  // namespace orv
