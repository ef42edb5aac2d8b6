#include "launcher/config/launcher_settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "game_profile.h"
#include "launcher/base/app_state.h"
#include "launcher/base/errors.h"
#include "launcher/base/message_box.h"
#include "support/process_state.h"
#include "support/test_files.h"

#if defined(__linux__)
#include <unistd.h>
#endif

namespace orv {
namespace {

TEST(SettingsTextConversions, TrimCharactersUpToBlankAtBothEnds) {
    EXPECT_EQ(TextFromIni("  \t Игрок \x01\x1F "), "Игрок");
    EXPECT_EQ(TextFromIni(std::string("\0 a b \0", 7)), "a b");
    EXPECT_EQ(TextFromIni(" \r\n"), "");
    EXPECT_EQ(TextToIni("\tvtl  "), "vtl");
    EXPECT_EQ(TextToIni("-console  -novid"), "-console  -novid") << "inner blanks stay";
}

TEST(SettingsTextConversions, CutTo255BytesEvenInsideACharacter) {
    // 200 two-byte letters: byte 255 is the first half of a letter.
    std::string text;
    for (int i = 0; i < 200; ++i) text += "Ж";
    for (const std::string& converted : {TextFromIni(text), TextToIni(text)}) {
        ASSERT_EQ(converted.size(), 255u);
        EXPECT_EQ(converted, text.substr(0, 255));
        EXPECT_EQ(static_cast<unsigned char>(converted.back()), 0xD0);
    }
    // Trimming comes first, so leading blanks do not use up the limit.
    const std::string exact(255, 'x');
    EXPECT_EQ(TextFromIni("   " + exact + "yy"), exact);
    EXPECT_EQ(TextToIni(" " + exact + " "), exact);
}

TEST(SettingsNumbers, DecimalHexAndDefaults) {
    EXPECT_EQ(IntFromIni("abc", 18), 18);
    EXPECT_EQ(IntFromIni("0x10", 18), 16);
    EXPECT_EQ(IntFromIni("0XfF", 0), 255);
    EXPECT_EQ(IntFromIni("018", 0), 18) << "a leading zero is not octal";
    EXPECT_EQ(IntFromIni(" 42 ", 0), 42);
    EXPECT_EQ(IntFromIni("-5", 0), -5);
    EXPECT_EQ(IntFromIni("+7", 0), 7);
    EXPECT_EQ(IntFromIni("-0x10", 0), -16);
    EXPECT_EQ(IntFromIni("2147483647", 0), 2147483647);
    EXPECT_EQ(IntFromIni("-2147483648", 0), -2147483647 - 1);
    for (const char* bad : {"", "-", "0x", "12abc", "1 2", "0x1g", "2147483648", "-2147483649", "0x80000000",
                            "99999999999999999999", "1e3", "٣"})
        EXPECT_EQ(IntFromIni(bad, 40), 40) << bad;
}

TEST(SettingsNumbers, BooleansAreNonZeroIntegers) {
    EXPECT_TRUE(BoolFromIni("True", true));
    EXPECT_FALSE(BoolFromIni("True", false));
    EXPECT_FALSE(BoolFromIni("0", true));
    EXPECT_TRUE(BoolFromIni("2", false));
    EXPECT_TRUE(BoolFromIni("-1", false));
    EXPECT_FALSE(BoolFromIni("0x0", true));
    EXPECT_TRUE(BoolFromIni("", true));
}

TEST(SettingsNumbers, CatalogueVersionsAreDecimalAndPositive) {
    const struct {
        const char* text;
        uint64_t version;
    } cases[] = {
        {"1", 1},
        {" 42 ", 42},
        {"007", 7},
        {"9223372036854775807", 9223372036854775807u},
        {"9223372036854775808", 0},
        {"18446744073709551616", 0},
        {"0", 0},
        {"", 0},
        {"-3", 0},
        {"+3", 0},
        {"0x10", 0},
        {"12abc", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(VersionFromIni(c.text), c.version) << c.text;
}

TEST(SettingsNames, ClientVersionSection) {
    EXPECT_EQ(settings_keys::ClientVersionSection("cstrike"), "cstrikeClientVersion");
}

TEST(SettingsRecord, EmptyBeforeLoading) {
    const LauncherSettings fresh;
    EXPECT_TRUE(fresh.GameLanguage.empty() && fresh.GamePlayerName.empty() && fresh.GameClanTag.empty() &&
                fresh.GameProcName.empty() && fresh.GameUseAvatar.empty());
    EXPECT_EQ(fresh.GameRankLevel + fresh.GamePrivatRank + fresh.GameNamePosition + fresh.GameVersionPosition, 0);
    EXPECT_FALSE(fresh.GlobalShowNewVersionNotification);
}

class LauncherSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        GameFolder = dir_.Path();
        LauncherConfig = LauncherSettings();
    }
    std::string Path() const { return dir_.Path() + "\\" + SettingsFileName; }
    void Write(const std::string& bytes) const { test::WriteFile(Path(), bytes); }
    std::string Read() const { return test::ReadFile(Path()); }

    test::ProcessStateGuard state_;
    test::TempDir dir_;
    std::vector<std::string>& messages_ = state_.messages;
};

TEST_F(LauncherSettingsTest, MissingFileGivesDefaultsAndIsNotCreated) {
    LoadLauncherSettings();
    const LauncherSettings& c = LauncherConfig;
    EXPECT_EQ(c.GameLanguage, "Russian");
    EXPECT_EQ(c.GamePlayerName, TextFromIni(DefaultPlayerName()));
    EXPECT_FALSE(c.GamePlayerName.empty());
    EXPECT_EQ(c.GameClanTag, "vtl");
    EXPECT_EQ(c.GameProcName, "-console -novid");
    EXPECT_EQ(c.GameUseAvatar, "True");
    EXPECT_EQ(c.GameRankLevel, 18);
    EXPECT_EQ(c.GamePrivatRank, 40);
    EXPECT_TRUE(c.GlobalShowNewVersionNotification);
    EXPECT_EQ(c.GameNamePosition, 1);
    EXPECT_EQ(c.GameVersionPosition, 1);
    EXPECT_FALSE(test::Exists(Path()));
    EXPECT_TRUE(messages_.empty());
}

TEST_F(LauncherSettingsTest, LoadsEveryFieldWithItsConversion) {
    std::string longName;
    for (int i = 0; i < 130; ++i) longName += "Ж";  // 260 bytes
    Write("[gamesettings]\n"
          "GameLanguage=English\n"
          "GamePlayerName=  \"  Игрок  \"  \n"
          "GameClanTag=" + longName + "\n"
          "GameProcName=-novid -high\n"
          "GameUseAvatar=False\n"
          "GameRankLevel=abc\n"
          "GamePrivatRank=0x10\n"
          "[LauncherSettings]\n"
          "GlobalShowNewVersionNotification=True\n"
          "GameNamePosition=2\n"
          "GameVersionPosition=0x3\n");
    LoadLauncherSettings();
    const LauncherSettings& c = LauncherConfig;
    EXPECT_EQ(c.GameLanguage, "English");
    EXPECT_EQ(c.GamePlayerName, "Игрок");
    EXPECT_EQ(c.GameClanTag, longName.substr(0, 255));
    EXPECT_EQ(c.GameProcName, "-novid -high");
    EXPECT_EQ(c.GameUseAvatar, "False");
    EXPECT_EQ(c.GameRankLevel, 18);
    EXPECT_EQ(c.GamePrivatRank, 16);
    EXPECT_TRUE(c.GlobalShowNewVersionNotification);
    EXPECT_EQ(c.GameNamePosition, 2);
    EXPECT_EQ(c.GameVersionPosition, 3);
    EXPECT_TRUE(messages_.empty());

    for (const auto& [text, expected] : {std::pair{"0", false}, std::pair{"2", true}}) {
        Write(std::string("[LauncherSettings]\r\nGlobalShowNewVersionNotification=") + text + "\r\n");
        LoadLauncherSettings();
        EXPECT_EQ(LauncherConfig.GlobalShowNewVersionNotification, expected) << text;
    }
}

TEST_F(LauncherSettingsTest, AByteOrderMarkIsRewrittenAwayBeforeReading) {
    Write("\xEF\xBB\xBF; by hand\n[GameSettings]\nGamePlayerName=Игрок\rother=1\n\n[x]");
    LoadLauncherSettings();
    EXPECT_EQ(Read(), "; by hand\r\n[GameSettings]\r\nGamePlayerName=Игрок\r\nother=1\r\n\r\n[x]\r\n");
    EXPECT_EQ(LauncherConfig.GamePlayerName, "Игрок");
    EXPECT_TRUE(messages_.empty());

    // LF lines without a mark are read as they are and not rewritten.
    const std::string lf = "[GameSettings]\nGameClanTag=abc\n";
    Write(lf);
    LoadLauncherSettings();
    EXPECT_EQ(Read(), lf);
    EXPECT_EQ(LauncherConfig.GameClanTag, "abc");
    EXPECT_EQ(HasUtf8Bom(Path()), false);
}

TEST_F(LauncherSettingsTest, HasUtf8BomNeedsAllThreeBytes) {
    const std::string path = dir_.File("probe.ini");
    for (const auto& [bytes, expected] :
         {std::pair<std::string, bool>{"\xEF\xBB\xBF", true}, {"\xEF\xBB\xBF[s]", true}, {"\xEF\xBB", false},
          {"", false}, {"\xEF\xBB\xBE", false}, {"[s]\xEF\xBB\xBF", false}}) {
        test::WriteFile(path, bytes);
        EXPECT_EQ(HasUtf8Bom(path), expected);
    }
    EXPECT_THROW(HasUtf8Bom(dir_.File("missing.ini")), EOSError);
}

TEST_F(LauncherSettingsTest, AReadOnlyFileWithAMarkIsStillReadAndTheFailureShown) {
    const std::string bytes = "\xEF\xBB\xBF[GameSettings]\r\nGameClanTag=ro\r\n";
    Write(bytes);
    test::SetReadOnly(Path(), true);
    LoadLauncherSettings();
    test::SetReadOnly(Path(), false);
    EXPECT_EQ(Read(), bytes);
    EXPECT_EQ(LauncherConfig.GameClanTag, "ro");
    EXPECT_EQ(LauncherConfig.GameRankLevel, 18);
    EXPECT_EQ(messages_, std::vector<std::string>{"Ошибка настроек"});
}

#if defined(__linux__)
TEST_F(LauncherSettingsTest, AnUnreadableFileShowsTheErrorAndKeepsThePreviousValues) {
    // Reading /proc/self/mem from its start fails (nothing is mapped there), which stands for a
    // settings file the platform refuses to read.
    ASSERT_EQ(::symlink("/proc/self/mem", dir_.File(SettingsFileName).c_str()), 0);
    LauncherConfig.GameLanguage = "English";
    LauncherConfig.GameRankLevel = 7;
    UiLanguage = UiEnglish;
    LoadLauncherSettings();
    UiLanguage = UiRussian;
    EXPECT_EQ(messages_, std::vector<std::string>{"Ошибка настроек"}) << "in Russian whatever the interface language";
    EXPECT_EQ(LauncherConfig.GameLanguage, "English");
    EXPECT_EQ(LauncherConfig.GameRankLevel, 7);
}
#endif

TEST_F(LauncherSettingsTest, SaveWritesTheTenKeysInOrder) {
    LauncherConfig = {"English", " Игрок ", "vtl", "-console -novid", "True", 5, 12, false, 2, 3};
    SaveLauncherSettings();
    EXPECT_EQ(Read(),
              "[GameSettings]\r\n"
              "GameLanguage=English\r\n"
              "GamePlayerName=Игрок\r\n"
              "GameClanTag=vtl\r\n"
              "GameProcName=-console -novid\r\n"
              "GameUseAvatar=True\r\n"
              "GameRankLevel=5\r\n"
              "GamePrivatRank=12\r\n"
              "[LauncherSettings]\r\n"
              "GlobalShowNewVersionNotification=0\r\n"
              "GameNamePosition=2\r\n"
              "GameVersionPosition=3\r\n");

    LauncherConfig = LauncherSettings();
    LoadLauncherSettings();
    EXPECT_EQ(LauncherConfig.GamePlayerName, "Игрок");
    EXPECT_EQ(LauncherConfig.GameRankLevel, 5);
    EXPECT_FALSE(LauncherConfig.GlobalShowNewVersionNotification);
    EXPECT_EQ(LauncherConfig.GameVersionPosition, 3);
}

TEST_F(LauncherSettingsTest, SaveLeavesOtherKeysAndLinesInPlace) {
    Write("; written by a tool\n"
          "[LauncherSettings]\n"
          "GameNamePosition = 9\n"
          "Extra=keep\n"
          "\n"
          "[cstrikeClientVersion]\r\n"
          "BaseVersion=12\r\n"
          "[GameSettings]\n"
          "GAMEPLAYERNAME=Old\n");
    LoadLauncherSettings();
    LauncherConfig.GamePlayerName = "New";
    SaveLauncherSettings();
    EXPECT_EQ(Read(),
              "; written by a tool\n"
              "[LauncherSettings]\n"
              "GameNamePosition=9\n"
              "Extra=keep\n"
              "GlobalShowNewVersionNotification=1\r\n"
              "GameVersionPosition=1\r\n"
              "\n"
              "[cstrikeClientVersion]\r\n"
              "BaseVersion=12\r\n"
              "[GameSettings]\n"
              "GAMEPLAYERNAME=New\n"
              "GameLanguage=Russian\r\n"
              "GameClanTag=vtl\r\n"
              "GameProcName=-console -novid\r\n"
              "GameUseAvatar=True\r\n"
              "GameRankLevel=18\r\n"
              "GamePrivatRank=40\r\n");
}

// The highest signed catalogue taken is written by the start-up alone; a save keeps it as loaded,
// and one of a launcher that never took a signed catalogue writes no such key.
TEST_F(LauncherSettingsTest, TheCatalogueVersionIsLoadedAndWrittenBackUnchanged) {
    const struct {
        const char* stored;  // the line in the file; empty: none
        uint64_t loaded;
        const char* saved;  // the line after a save; empty: none
    } cases[] = {
        {"CatalogueVersion=12", 12, "CatalogueVersion=12"},
        {"cataloguEversion = 9223372036854775807", 9223372036854775807u, "cataloguEversion=9223372036854775807"},
        {"CatalogueVersion=abc", 0, "CatalogueVersion=abc"},
        {"", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        LauncherConfig = LauncherSettings();
        const std::string line = *c.stored ? std::string(c.stored) + "\r\n" : std::string();
        Write("[LauncherSettings]\r\nGameNamePosition=2\r\n" + line);
        LoadLauncherSettings();
        EXPECT_EQ(LauncherConfig.CatalogueVersion, c.loaded);
        SaveLauncherSettings();
        const std::string saved = Read();
        EXPECT_EQ(saved.find("atalogu") == std::string::npos, *c.saved == 0);
        if (*c.saved) {
            EXPECT_NE(saved.find(std::string("GameNamePosition=2\r\n") + c.saved + "\r\n"), std::string::npos);
        }
    }
}

// The cap is the player's or the operator's to set: the launcher reads it and hands it back as it
// came, odd spellings included, and a file without it stays without it.
TEST_F(LauncherSettingsTest, TheDownloadLimitIsKeptAsTextAndWrittenBackUnchanged) {
    const struct {
        const char* stored;  // the line in the file; empty: none
        const char* loaded;  // nullptr: nothing loaded
        const char* saved;   // the line after a save; empty: none
    } cases[] = {
        {"DownloadLimitKBps=500", "500", "DownloadLimitKBps=500"},
        {"downloadlimitkbps =  0 ", "0", "downloadlimitkbps=0"},
        {"DownloadLimitKBps=2M", "2M", "DownloadLimitKBps=2M"},
        {"DownloadLimitKBps=", "", "DownloadLimitKBps="},
        {"DownloadLimitKBps", nullptr, "DownloadLimitKBps"},  // a key without a value counts as none
        {"", nullptr, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        LauncherConfig = LauncherSettings();
        const std::string line = *c.stored ? std::string(c.stored) + "\r\n" : std::string();
        Write("[LauncherSettings]\r\nGameNamePosition=2\r\n" + line + "GameVersionPosition=1\r\n");
        LoadLauncherSettings();
        ASSERT_EQ(LauncherConfig.DownloadLimitKBps.has_value(), c.loaded != nullptr);
        if (c.loaded) {
            EXPECT_EQ(*LauncherConfig.DownloadLimitKBps, c.loaded);
        }
        SaveLauncherSettings();
        const std::string saved = Read();
        EXPECT_EQ(saved.find("imitkbps") == std::string::npos && saved.find("imitKBps") == std::string::npos,
                  *c.saved == 0)
            << saved;
        if (*c.saved) {
            EXPECT_NE(saved.find(std::string(c.saved) + "\r\n"), std::string::npos) << saved;
        }
        EXPECT_TRUE(messages_.empty());
    }
}

TEST_F(LauncherSettingsTest, ANicknameCannotSmuggleInKeys) {
    LoadLauncherSettings();
    LauncherConfig.GamePlayerName = "Player\r\nGameRankLevel=99\r\n[LauncherSettings]\r\nGameNamePosition=5";
    LauncherConfig.GameRankLevel = 3;
    SaveLauncherSettings();
    LauncherConfig = LauncherSettings();
    LoadLauncherSettings();
    EXPECT_EQ(LauncherConfig.GameRankLevel, 3);
    EXPECT_EQ(LauncherConfig.GameNamePosition, 1);
    EXPECT_EQ(LauncherConfig.GamePlayerName.find('\n'), std::string::npos);
    EXPECT_EQ(LauncherConfig.GamePlayerName.rfind("Player", 0), 0u);
}

TEST_F(LauncherSettingsTest, ARefusedWriteRaisesUnableToWriteAndChangesNothing) {
    const std::string before = "[GameSettings]\nGameLanguage=English\n";
    Write(before);
    test::SetReadOnly(Path(), true);
    LoadLauncherSettings();
    LauncherConfig.GameLanguage = "Russian";
    const std::string expected = "Unable to write to " + dir_.Path() + "\\ovcfg_cstrike.ini";
    try {
        SaveLauncherSettings();
        ADD_FAILURE() << "the save did not fail";
    } catch (const EOSError&) {
        ADD_FAILURE() << "the platform's error went through unchanged";
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()), expected);
    }
    try {
        WriteLauncherSetting("cstrikeClientVersion", "BaseVersion", "13");
        ADD_FAILURE() << "the write did not fail";
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()), expected);
    }
    test::SetReadOnly(Path(), false);
    EXPECT_EQ(Read(), before);
    EXPECT_TRUE(messages_.empty()) << "the caller shows the error, not the save";
}

TEST_F(LauncherSettingsTest, SingleSettingsWriteAndRead) {
    EXPECT_EQ(ReadLauncherSetting("cstrikeClientVersion", "BaseVersion", "0"), "0");
    WriteLauncherSetting("cstrikeClientVersion", "BaseVersion", " 13 ");
    WriteLauncherSetting("cstrikeClientVersion", "BuildVersion", "4");
    WriteLauncherSetting("cstrikeClientVersion", "BaseVersion", "14");
    EXPECT_EQ(Read(), "[cstrikeClientVersion]\r\nBaseVersion=14\r\nBuildVersion=4\r\n");
    EXPECT_EQ(ReadLauncherSetting("CSTRIKECLIENTVERSION", "buildversion", "0"), "4");
}

}  // namespace
}  // namespace orv
