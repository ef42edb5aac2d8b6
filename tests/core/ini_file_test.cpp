#include "launcher/config/ini_file.h"

#include <gtest/gtest.h>

#include "launcher/base/errors.h"
#include "core/ini_file_cases.h"
#include "support/test_files.h"

namespace orv {
namespace {

std::string Get(const std::string& bytes, const char* section, const char* key) {
    return IniDocument(bytes).Get(section, key, "<default>");
}

std::string AfterSet(const std::string& bytes, const char* section, const char* key, const std::string& value) {
    IniDocument document(bytes);
    document.Set(section, key, value);
    return document.Bytes();
}

// Rows as the profile services read and write them; the Win32 tests run the same rows against them.
TEST(IniPlatformRules, ReadsGiveWhatTheProfileServicesGive) {
    for (const test::IniReadTable& table : test::kIniReadTables) {
        for (size_t i = 0; i < table.count; ++i) {
            const test::IniReadCase& row = table.rows[i];
            SCOPED_TRACE(std::string(table.rule) + ", row " + std::to_string(i + 1));
            EXPECT_EQ(IniDocument(row.file).Get(row.section, row.key, test::kIniDefault), row.expected);
        }
    }
}

TEST(IniPlatformRules, WritesChangeTheLinesTheProfileServicesWouldChange) {
    for (const test::IniWriteTable& table : test::kIniWriteTables) {
        for (size_t i = 0; i < table.count; ++i) {
            const test::IniWriteCase& row = table.rows[i];
            SCOPED_TRACE(std::string(table.rule) + ", row " + std::to_string(i + 1));
            IniDocument document(row.file);
            document.Set(row.section, row.key, row.value);
            EXPECT_EQ(document.Bytes(), row.expected);
            const std::string_view value = row.value.substr(0, row.value.find('\0'));
            EXPECT_EQ(IniDocument(document.Bytes()).Get(row.section, row.key, test::kIniDefault), value);
        }
    }
}

TEST(IniRead, LettersOutsideAsciiCompareAsBytes) {
    EXPECT_EQ(Get("[Раздел]\nключ=1\n", "Раздел", "ключ"), "1");
    EXPECT_EQ(Get("[Раздел]\nключ=1\n", "РАЗДЕЛ", "ключ"), "<default>");
}

TEST(IniRead, MissingPiecesGiveTheDefault) {
    const std::string file = "; comment\r\nloose=0\r\n[s]\r\n;hidden=1\r\nnovalue\r\n[broken\r\nk=2\r\n[t]\r\n";
    EXPECT_EQ(Get("", "s", "k"), "<default>");
    EXPECT_EQ(Get(file, "none", "k"), "<default>");
    EXPECT_EQ(Get(file, "t", "k"), "<default>");
    EXPECT_EQ(Get(file, "s", "hidden"), "<default>");
    EXPECT_EQ(Get(file, "s", "novalue"), "<default>") << "a key without = has no value";
    EXPECT_EQ(Get(file, "", "loose"), "0") << "keys before any section belong to the empty name";
    EXPECT_EQ(Get(file, "s", "loose"), "<default>");
    // A "[" line without "]" is not a header, so k still belongs to s.
    EXPECT_EQ(Get(file, "s", "k"), "2");
    EXPECT_FALSE(IniDocument(file).Find("s", "missing").has_value());
    EXPECT_FALSE(IniDocument(file).Find("s", "novalue").has_value());
    EXPECT_EQ(IniDocument(file).Find("s", "k").value(), "2");
}

TEST(IniRead, ValuesAreCutTo2047Bytes) {
    const std::string exact(2047, 'x');
    EXPECT_EQ(Get("[s]\nk=" + exact + "\n", "s", "k"), exact);
    EXPECT_EQ(Get("[s]\nk=" + exact + "yz\n", "s", "k"), exact);
    // The quotes come off before the cut.
    EXPECT_EQ(Get("[s]\nk=\"" + exact + "\"\n", "s", "k"), exact);
}

TEST(IniWrite, ReplacesTheLineInPlaceKeepingKeySpellingAndLineEnd) {
    const std::string before = "; top\n[GameSettings]\r\n  gameplayername = Old \n\nGameClanTag=vtl\r\n[Other]\nx=1";
    EXPECT_EQ(AfterSet(before, "GAMESETTINGS", "GamePlayerName", "New"),
              "; top\n[GameSettings]\r\ngameplayername=New\n\nGameClanTag=vtl\r\n[Other]\nx=1");
    EXPECT_EQ(AfterSet(before, "other", "X", "2"),
              "; top\n[GameSettings]\r\n  gameplayername = Old \n\nGameClanTag=vtl\r\n[Other]\nx=2");
    // Only the first of two equal keys changes.
    EXPECT_EQ(AfterSet("[s]\r\nk=1\r\nk=2\r\n", "s", "k", "3"), "[s]\r\nk=3\r\nk=2\r\n");
}

TEST(IniWrite, AddsAKeyAfterTheLastEntryOfItsSection) {
    EXPECT_EQ(AfterSet("[a]\r\nx=1\r\n\r\n\r\n[b]\r\ny=2\r\n", "A", "new", "v"),
              "[a]\r\nx=1\r\nnew=v\r\n\r\n\r\n[b]\r\ny=2\r\n");
    EXPECT_EQ(AfterSet("[a]\nx=1\n; note\n\n[b]\n", "a", "new", "v"), "[a]\nx=1\n; note\nnew=v\r\n\n[b]\n");
    // An empty section, also as the file's last line without an end.
    EXPECT_EQ(AfterSet("[a]\r\n\r\n[b]\r\n", "a", "k", "v"), "[a]\r\nk=v\r\n\r\n[b]\r\n");
    EXPECT_EQ(AfterSet("x=0\r\n[a]", "a", "k", "v"), "x=0\r\n[a]\r\nk=v\r\n");
    EXPECT_EQ(AfterSet("[a]\r\nx=1", "a", "k", "v"), "[a]\r\nx=1\r\nk=v\r\n");
    // A key before any section does not stand for the section's key.
    EXPECT_EQ(AfterSet("k=loose\r\n[a]\r\n", "a", "k", "v"), "k=loose\r\n[a]\r\nk=v\r\n");
}

TEST(IniWrite, AddsAMissingSectionAtTheEndOrCreatesTheFile) {
    EXPECT_EQ(AfterSet("", "GameSettings", "GameLanguage", "Russian"), "[GameSettings]\r\nGameLanguage=Russian\r\n");
    EXPECT_EQ(AfterSet("[a]\nx=1\n", "b", "k", "v"), "[a]\nx=1\n[b]\r\nk=v\r\n");
    EXPECT_EQ(AfterSet("[a]\nx=1", "b", "k", "v"), "[a]\nx=1\r\n[b]\r\nk=v\r\n");
    EXPECT_EQ(AfterSet("[a]\nx=1\n\n", "b", "k", "v"), "[a]\nx=1\n\n[b]\r\nk=v\r\n");
    EXPECT_EQ(AfterSet("\xEF\xBB\xBF[a]\r\n", "a", "k", "v"), "\xEF\xBB\xBF[a]\r\nk=v\r\n");
}

TEST(IniWrite, LineBreaksInTextsCannotAddKeysOrSections) {
    const std::string attack = "Player\r\nGameRankLevel=99\n[LauncherSettings]\rGameNamePosition=7";
    IniDocument document("[GameSettings]\r\nGamePlayerName=x\r\nGameRankLevel=18\r\n");
    document.Set("GameSettings", "GamePlayerName", attack);
    document.Set("GameSettings", "NewKey", "a\nb=c");
    document.Set("Evil]\r\n[GameSettings", "Key\nGameRankLevel", "1");
    const IniDocument reread(document.Bytes());
    EXPECT_EQ(reread.Get("GameSettings", "GamePlayerName", ""),
              "Player  GameRankLevel=99 [LauncherSettings] GameNamePosition=7");
    EXPECT_EQ(reread.Get("GameSettings", "GameRankLevel", ""), "18");
    EXPECT_EQ(reread.Get("GameSettings", "NewKey", ""), "a b=c");
    EXPECT_FALSE(reread.Find("LauncherSettings", "GameNamePosition").has_value());
    EXPECT_EQ(reread.Get("Evil]  [GameSettings", "Key GameRankLevel", ""), "1");
    EXPECT_EQ(document.Bytes(),
              "[GameSettings]\r\nGamePlayerName=Player  GameRankLevel=99 [LauncherSettings] GameNamePosition=7\r\n"
              "GameRankLevel=18\r\nNewKey=a b=c\r\n[Evil]  [GameSettings]\r\nKey GameRankLevel=1\r\n");
}

TEST(IniWrite, Utf8BytesRoundTripUnchanged) {
    const std::string nick = "Игрок \xF0\x9F\x8E\xAE ß";  // Cyrillic, an emoji, a Latin-1 letter
    const std::string broken = "\xD0\xFF\xC3";            // not UTF-8 at all: still the same bytes
    IniDocument document;
    document.Set("GameSettings", "GamePlayerName", nick);
    document.Set("GameSettings", "Raw", broken);
    EXPECT_EQ(document.Bytes(), "[GameSettings]\r\nGamePlayerName=" + nick + "\r\nRaw=" + broken + "\r\n");
    const IniDocument reread(document.Bytes());
    EXPECT_EQ(reread.Get("GameSettings", "GamePlayerName", ""), nick);
    EXPECT_EQ(reread.Get("GameSettings", "Raw", ""), broken);
}

TEST(IniDocumentBytes, UntouchedFilesComeOutByteForByte) {
    for (const std::string& bytes :
         {std::string(), std::string("a"), std::string("\r\n\n\r"), std::string("\xEF\xBB\xBF[s]\nk = v \r\n;c\r"),
          std::string("[s]\r\nk=v\r\n\r\n  \t\r\nend")}) {
        EXPECT_EQ(IniDocument(bytes).Bytes(), bytes);
    }
}

TEST(IniNormalize, DropsTheMarkAndEndsEveryLineWithCrLf) {
    EXPECT_EQ(NormalizeIniLines("\xEF\xBB\xBF[s]\nk=v\n"), "[s]\r\nk=v\r\n");
    EXPECT_EQ(NormalizeIniLines("a\rb\r\nc\n\nd"), "a\r\nb\r\nc\r\n\r\nd\r\n");
    EXPECT_EQ(NormalizeIniLines("\xEF\xBB\xBF"), "");
    EXPECT_EQ(NormalizeIniLines(""), "");
    EXPECT_EQ(NormalizeIniLines("x\xEF\xBB\xBFy\r\n"), "x\xEF\xBB\xBFy\r\n") << "only a mark at the start is one";
}

class IniFileTest : public ::testing::Test {
protected:
    test::TempDir dir_;
};

TEST_F(IniFileTest, ReadsAndWritesFiles) {
    const std::string path = dir_.File("rev.ini");
    EXPECT_EQ(ReadIniString(path, "s", "k", "dflt"), "dflt");
    EXPECT_FALSE(test::Exists(path)) << "reading never creates the file";

    WriteIniString(path, "Emulator", "Language", "Russian");
    EXPECT_EQ(test::ReadFile(path), "[Emulator]\r\nLanguage=Russian\r\n");

    test::WriteFile(path, "[Loader]\nProcName=x\n\n[steamclient]\nPlayerName=a\nUnknown=keep\n");
    WriteIniString(path, "steamclient", "playername", "Игрок");
    WriteIniString(path, "steamclient", "ClanTag", "vtl");
    EXPECT_EQ(test::ReadFile(path), "[Loader]\nProcName=x\n\n[steamclient]\nPlayerName=Игрок\nUnknown=keep\nClanTag=vtl\r\n");
    EXPECT_EQ(ReadIniString(path, "STEAMCLIENT", "PlayerName", ""), "Игрок");
    EXPECT_FALSE(test::Exists(path + ".orvtmp"));
}

TEST_F(IniFileTest, ARefusedWriteRaisesAndLeavesTheFileAsItWas) {
    const std::string path = dir_.File("ro.ini");
    const std::string before = "[s]\nk=old\n";
    test::WriteFile(path, before);
    test::SetReadOnly(path, true);
    EXPECT_THROW(WriteIniString(path, "s", "k", "new"), EOSError);
    EXPECT_THROW(RewriteIniFileNormalized(path), EOSError);
    test::SetReadOnly(path, false);
    EXPECT_EQ(test::ReadFile(path), before);
}

TEST_F(IniFileTest, NormalizingRewriteKeepsTheLines) {
    const std::string path = dir_.File("bom.ini");
    test::WriteFile(path, "\xEF\xBB\xBF[s]\nk=Игрок\n");
    RewriteIniFileNormalized(path);
    EXPECT_EQ(test::ReadFile(path), "[s]\r\nk=Игрок\r\n");
    EXPECT_THROW(RewriteIniFileNormalized(dir_.File("missing.ini")), EOSError);
}

}  // namespace
}  // namespace orv
