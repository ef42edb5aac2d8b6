#include "launcher/integrity/checklist.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "launcher/base/errors.h"
#include "support/test_files.h"

namespace orv {
namespace {

std::vector<ChecklistEntry> ReadAll(const std::string& bytes, CodePage page = CodePage::Windows1251) {
    ChecklistReader reader(bytes, page);
    std::vector<ChecklistEntry> entries;
    while (!reader.AtEnd()) entries.push_back(reader.Next());
    return entries;
}

std::string ErrorOf(const std::vector<ChecklistItem>& items, CodePage page = CodePage::Windows1251) {
    try {
        WriteChecklist(items, page);
    } catch (const Error& e) {
        return e.what();
    }
    return "<no error>";
}

TEST(ChecklistRead, EntriesOfThreeLinesWithCrLfOrLf) {
    const std::string file =
        "0\r\n\\cstrike\\.\r\n0\r\n"
        "0\n\\cstrike\\maps\\.\n0\n"
        "1234\r\n\\cstrike\\maps\\de_dust2.bsp\r\n891568578\r\n"
        "0\r\n\\cstrike\\empty.cfg\r\n0\r\n"
        "2147483647\n\\big.bin\n4294967295";
    const auto entries = ReadAll(file);
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_TRUE(entries[0].IsFolder());
    EXPECT_EQ(entries[0].FolderPath(), "\\cstrike\\");
    EXPECT_TRUE(entries[1].IsFolder());
    EXPECT_EQ(entries[1].path, "\\cstrike\\maps\\.") << "LF alone ends a line too";
    EXPECT_FALSE(entries[2].IsFolder());
    EXPECT_FALSE(entries[2].IsEmptyFile());
    EXPECT_EQ(entries[2].size, 1234);
    EXPECT_EQ(entries[2].path, "\\cstrike\\maps\\de_dust2.bsp");
    EXPECT_EQ(entries[2].crcText, "891568578");
    EXPECT_TRUE(entries[3].IsEmptyFile());
    EXPECT_EQ(entries[3].size, 0);
    EXPECT_EQ(entries[4].size, 2147483647) << "the largest size a checklist holds";
    EXPECT_EQ(entries[4].crcText, "4294967295") << "a last line without its end";
    for (const ChecklistEntry& e : entries) {
        EXPECT_TRUE(e.complete);
        EXPECT_TRUE(e.pathDecoded);
    }
}

TEST(ChecklistRead, OnlyAnExactZeroMarksFoldersAndEmptyFiles) {
    const auto entries = ReadAll("00\r\n\\a\\.\r\n0\r\n+0\r\n\\b\r\n0\r\n0\r\n\\c.\r\n0\r\n");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_FALSE(entries[0].IsFolder()) << "\"00\" converts to 0 but is not the marker";
    EXPECT_FALSE(entries[0].IsEmptyFile());
    EXPECT_EQ(entries[0].size, 0);
    EXPECT_FALSE(entries[1].IsEmptyFile());
    EXPECT_EQ(entries[1].size, 0);
    EXPECT_TRUE(entries[2].IsEmptyFile()) << "a folder ends in backslash and dot, not just a dot";
}

TEST(ChecklistRead, ATrailingEmptyLineIsAnotherEntryWhoseSizeDoesNotConvert) {
    const auto entries = ReadAll("5\r\n\\a.txt\r\n1\r\n\r\n");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(entries[0].complete);
    EXPECT_EQ(entries[1].sizeText, "");
    EXPECT_FALSE(entries[1].size);
    EXPECT_FALSE(entries[1].complete) << "its path and checksum lines are past the end";
    EXPECT_EQ(ConversionErrorText(entries[1].sizeText), "'' is not a valid integer value");
}

TEST(ChecklistRead, SizesThatAreNotSigned32BitDecimalsAreReportedWithTheirText) {
    for (const std::string bad : {"2147483648", "12a", " 12", "12 ", "0x10", "-", "", "99999999999999999999", "1.5"}) {
        const auto entries = ReadAll(bad + "\r\n\\f\r\n0\r\n");
        ASSERT_EQ(entries.size(), 1u) << bad;
        EXPECT_FALSE(entries[0].size) << bad;
        EXPECT_EQ(entries[0].sizeText, bad);
    }
    EXPECT_EQ(ConversionErrorText("12a"), "'12a' is not a valid integer value");
    EXPECT_EQ(ParseInt32Decimal("-2147483648"), -2147483647 - 1);
    EXPECT_FALSE(ParseInt32Decimal("-2147483649"));
    EXPECT_EQ(ParseInt32Decimal("+7"), 7);
    EXPECT_EQ(ParseInt32Decimal("007"), 7);
}

TEST(ChecklistRead, AnEntryCutShortReadsItsMissingLinesAsEmpty) {
    const auto entries = ReadAll("5\r\n\\a.txt");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_FALSE(entries[0].complete);
    EXPECT_EQ(entries[0].path, "\\a.txt");
    EXPECT_EQ(entries[0].crcText, "");
    EXPECT_TRUE(ReadAll("").empty());
}

TEST(ChecklistRead, PathsAreDecodedWithTheGivenCodePage) {
    const std::string file = "3\r\n\\\xC8\xE3\xF0\xEE\xEA.cfg\r\n1\r\n";  // "Игрок" in 1251
    EXPECT_EQ(ReadAll(file)[0].path, "\\Игрок.cfg");
    EXPECT_EQ(ReadAll(file, CodePage::Windows1252)[0].path, "\\Èãðîê.cfg");
    const auto undefined = ReadAll("3\r\n\\a\x98.cfg\r\n1\r\n");
    EXPECT_FALSE(undefined[0].pathDecoded);
    EXPECT_EQ(undefined[0].path, "\\a\xEF\xBF\xBD.cfg");
}

TEST(ChecklistRead, AnotherDecoderReadsEveryLineAndSaysWhatDidNotConvert) {
    // A system page without a table here (1250, 1253, ...) is read by the platform's decoder.
    std::vector<std::string> given;
    const AnsiTextDecoder platform([&given](std::string_view bytes) {
        given.emplace_back(bytes);
        CodePageText text{std::string(bytes) == "\\\xB9.cfg" ? "\\ą.cfg" : std::string(bytes)};
        text.lossless = bytes.find('\x81') == std::string_view::npos;
        return text;
    });
    ChecklistReader reader("3\r\n\\\xB9.cfg\r\n1\r\n3\r\n\\\x81.cfg\r\n2\r\n", platform);
    const ChecklistEntry first = reader.Next();
    const ChecklistEntry second = reader.Next();
    EXPECT_EQ(first.path, "\\ą.cfg");
    EXPECT_TRUE(first.pathDecoded);
    EXPECT_EQ(first.size, 3);
    EXPECT_EQ(second.crcText, "2");
    EXPECT_FALSE(second.pathDecoded);
    EXPECT_EQ(given.size(), 6u) << "size, path and checksum lines each go through it";
}

TEST(ChecklistRead, OpenReadsAFileAndRaisesForAMissingOne) {
    test::TempDir dir;
    test::WriteFile(dir.File("b.dim"), "0\r\n\\x\\.\r\n0\r\n");
    ChecklistReader reader = ChecklistReader::Open(dir.File("b.dim"), CodePage::Windows1251);
    ASSERT_FALSE(reader.AtEnd());
    EXPECT_TRUE(reader.Next().IsFolder());
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_THROW(ChecklistReader::Open(dir.File("missing.dim"), CodePage::Windows1251), EOSError);
}

TEST(ChecklistSafePath, NamesInsideTheGameFolderPass) {
    for (const char* good : {"\\hl2.exe", "\\cstrike\\maps\\de_dust2.bsp", "\\cstrike\\maps\\.", "\\Игрок\\ник.cfg",
                             "\\a b\\c..d", "\\.hidden", "\\con_fig.cfg", "\\console.log", "\\com10.txt", "\\a/b"}) {
        EXPECT_TRUE(IsSafeRelativeEntryPath(good)) << good;
    }
}

TEST(ChecklistSafePath, NamesThatLeaveTheFolderOrNameADeviceAreRefused) {
    // clang-format off
    const char* const unsafe[] = {
        "", "\\", "\\.", "hl2.exe", "\\..\\evil.dll", "\\cstrike\\..\\..\\x", "\\a\\..", "\\a/../../x",
        "\\\\server\\share\\x", "\\\\?\\C:\\x", "\\C:\\Windows\\x", "\\C:x", "\\file.txt:stream", "\\a\\\\b",
        "\\a\\", "\\a\\.\\b", "\\...\\x", "\\ \\x", "\\a.\\b", "\\a \\b", "\\name.", "\\a\rb", "\\a\nb",
        "\\a\tb", "\\a*", "\\a?", "\\a<b", "\\a|b", "\\a\"b", "\\NUL", "\\cstrike\\con.txt", "\\Aux",
        "\\com1", "\\LPT9.log", "\\conin$", "\\nul .txt", "\\COM\xC2\xB9"};
    // clang-format on
    for (const char* bad : unsafe) {
        EXPECT_FALSE(IsSafeRelativeEntryPath(bad)) << bad;
    }
}

TEST(ChecklistSafePath, APathLongerThanWindowsAllowsIsRefused) {
    // Counted in UTF-16 units, as Windows counts: "ж" is two bytes and one unit, "😀" four and two.
    const struct {
        std::string name;
        size_t count;
        bool safe;
    } cases[] = {{"a", LongestEntryPath - 1, true},  {"a", LongestEntryPath, false},
                 {"ж", LongestEntryPath - 1, true}, {"ж", LongestEntryPath, false},
                 {"\xF0\x9F\x98\x80", (LongestEntryPath - 1) / 2, true},
                 {"\xF0\x9F\x98\x80", (LongestEntryPath + 1) / 2, false}};
    for (const auto& c : cases) {
        std::string path = "\\";
        for (size_t i = 0; i < c.count; ++i) path += c.name;
        EXPECT_EQ(IsSafeRelativeEntryPath(path), c.safe) << c.name << " x " << c.count;
    }
    EXPECT_FALSE(IsSafeRelativeEntryPath("\\" + std::string(100u << 20, 'a')));
}

TEST(ChecklistWrite, FoldersComeBeforeTheirContentsWithCrLfAndMissingParentsAdded) {
    const std::vector<ChecklistItem> items = {
        {"cstrike\\maps\\de_dust2.bsp", false, 1234, 891568578u},
        {"hl2.exe", false, 10, 4294967295u},
        {"cstrike\\empty.cfg", false, 0, 0},
        {"bin", true, 0, 0},
    };
    EXPECT_EQ(WriteChecklist(items, CodePage::Windows1251),
              "0\r\n\\bin\\.\r\n0\r\n"
              "0\r\n\\cstrike\\.\r\n0\r\n"
              "0\r\n\\cstrike\\empty.cfg\r\n0\r\n"
              "0\r\n\\cstrike\\maps\\.\r\n0\r\n"
              "1234\r\n\\cstrike\\maps\\de_dust2.bsp\r\n891568578\r\n"
              "10\r\n\\hl2.exe\r\n4294967295\r\n");
    EXPECT_EQ(ChecklistFileCount(items), 3u) << "empty files count as files, folders do not";

    std::vector<ChecklistItem> reversed(items.rbegin(), items.rend());
    reversed.push_back({"cstrike", true, 0, 0});
    EXPECT_EQ(WriteChecklist(reversed, CodePage::Windows1251), WriteChecklist(items, CodePage::Windows1251))
        << "the order does not depend on the input's, and a listed parent appears once";
}

TEST(ChecklistWrite, WhatItWritesReadsBackInTheSameCodePage) {
    const std::vector<ChecklistItem> items = {{"Игрок\\ник.cfg", false, 5, 77}, {"café", false, 2147483647, 1}};
    for (CodePage page : {CodePage::Windows1251, CodePage::Dos866}) {
        const std::string bytes = WriteChecklist({items[0]}, page);
        const bool writtenIn1251 = bytes.find("\\\xC8\xE3\xF0\xEE\xEA\\") != std::string::npos;
        EXPECT_EQ(writtenIn1251, page == CodePage::Windows1251);
        const auto entries = ReadAll(bytes, page);
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[0].path, "\\Игрок\\.");
        EXPECT_EQ(entries[1].path, "\\Игрок\\ник.cfg");
        EXPECT_EQ(entries[1].size, 5);
        EXPECT_EQ(entries[1].crcText, "77");
    }
    const auto western = ReadAll(WriteChecklist({items[1]}, CodePage::Windows1252), CodePage::Windows1252);
    ASSERT_EQ(western.size(), 1u);
    EXPECT_EQ(western[0].path, "\\café");
    EXPECT_EQ(western[0].size, 2147483647);
}

TEST(ChecklistWrite, RefusalsNameTheFile) {
    EXPECT_EQ(ErrorOf({{"maps\\日本.bsp", false, 1, 1}}),
              "Cannot list \"maps\\日本.bsp\" in the checklist: code page 1251 has no character \"日\"");
    EXPECT_EQ(ErrorOf({{"Игрок", false, 1, 1}}, CodePage::Windows1252),
              "Cannot list \"Игрок\" in the checklist: code page 1252 has no character \"И\"");
    EXPECT_EQ(ErrorOf({{"huge.vpk", false, 2147483648ull, 1}}),
              "Cannot list \"huge.vpk\" in the checklist: its 2147483648 bytes are more than a checklist can "
              "describe (2147483647)");
    EXPECT_NE(ErrorOf({{"a.txt", false, 1, 1}, {"a.txt", false, 1, 1}}).find("listed twice"), std::string::npos);
    EXPECT_NE(ErrorOf({{"a.txt", false, 1, 1}, {"a.txt\\b", false, 1, 1}}).find("parent is listed as a file"),
              std::string::npos);
    for (const char* unsafe : {"\\lead", "..\\x", "a\r\nb", "", "a/b", "c:x", "nul"})
        EXPECT_NE(ErrorOf({{unsafe, false, 1, 1}}).find("not a safe relative name"), std::string::npos) << unsafe;
    EXPECT_EQ(ErrorOf({{"ok", false, 2147483647, 1}, {"ok2", true, 5000000000ull, 0}}), "<no error>")
        << "a folder's size is not written";
}

}  // namespace
}  // namespace orv
