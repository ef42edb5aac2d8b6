#include "launcher/config/emulator_profile.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "game_profile.h"
#include "launcher/base/app_state.h"
#include "launcher/base/errors.h"
#include "launcher/base/message_box.h"
#include "launcher/config/ini_file.h"
#include "launcher/config/launcher_settings.h"
#include "support/process_state.h"
#include "support/test_files.h"

#if defined(__linux__)
#include <unistd.h>
#endif

namespace orv {
namespace {

TEST(EmulatorRankText, ALeadingZeroBeforeTheDecimalNumber) {
    EXPECT_EQ(EmulatorRankText(5), "05");
    EXPECT_EQ(EmulatorRankText(12), "012");
    EXPECT_EQ(EmulatorRankText(18), "018");
    EXPECT_EQ(EmulatorRankText(40), "040");
    EXPECT_EQ(EmulatorRankText(0), "00");
    // A negative rank (only a hand-edited settings file has one) still reads back as itself.
    EXPECT_EQ(EmulatorRankText(-5), "-05");
    EXPECT_EQ(IntFromIni(EmulatorRankText(-5), 18), -5);
    EXPECT_EQ(EmulatorRankText(INT_MIN), "-02147483648");
    EXPECT_EQ(IntFromIni(EmulatorRankText(INT_MAX), 18), INT_MAX);
}

class EmulatorProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        GameFolder = dir_.Path();
        LauncherConfig = LauncherSettings();
    }
    std::string Path() const { return dir_.Path() + "\\rev.ini"; }
    void Write(const std::string& bytes) const { test::WriteFile(Path(), bytes); }
    std::string Read() const { return test::ReadFile(Path()); }
    // The values as the loader would find them.
    std::string Value(const char* section, const char* key) const {
        return IniDocument(Read()).Get(section, key, "<missing>");
    }
    static LauncherSettings Sample() {
        LauncherSettings c;
        c.GameLanguage = "English";
        c.GamePlayerName = "Игрок";
        c.GameClanTag = "vtl";
        c.GameProcName = "-console -novid";
        c.GameUseAvatar = "False";
        c.GameRankLevel = 5;
        c.GamePrivatRank = 12;
        return c;
    }

    test::ProcessStateGuard state_;
    test::TempDir dir_;
    std::vector<std::string>& messages_ = state_.messages;
};

TEST_F(EmulatorProfileTest, PathAndPlainCommandLine) {
    EXPECT_EQ(EmulatorProfilePath(), Path());
    LauncherConfig.GameProcName = "-novid -high";
    EXPECT_EQ(EmulatorProcNameLine(), std::string(GameCommandPrefix) + " -novid -high");
}

TEST_F(EmulatorProfileTest, MissingProfileGivesDefaultsAndIsNotCreated) {
    LauncherConfig = Sample();
    LauncherConfig.GameProcName = "-high";
    LoadEmulatorProfile();
    const LauncherSettings& c = LauncherConfig;
    EXPECT_EQ(c.GameLanguage, "Russian");
    EXPECT_EQ(c.GamePlayerName, TextFromIni(DefaultPlayerName()));
    EXPECT_EQ(c.GameClanTag, "vtl");
    EXPECT_EQ(c.GameProcName, "-console -novid");
    EXPECT_EQ(c.GameUseAvatar, "True");
    EXPECT_EQ(c.GameRankLevel, 18);
    EXPECT_EQ(c.GamePrivatRank, 40);
    EXPECT_FALSE(test::Exists(Path()));
}

TEST_F(EmulatorProfileTest, LoadTakesTheTableKeysWithTheirConversions) {
    std::string longTag;
    for (int i = 0; i < 130; ++i) longTag += "Ж";  // 260 bytes
    Write("[emulator]\n"
          "Language = English \n"
          "[SteamClient]\n"
          "PlayerName=  \"  Игрок  \"\n"
          "clantag=" + longTag + "\n"
          "Use_avatar=False\n"
          "RankLevel=018\n"
          "PrivatRank=05\n"
          "[Loader]\n"
          "ProcName=hl2.exe -game cstrike -high +connect 1.2.3.4\n");
    LauncherConfig.GameProcName = "-windowed";
    LoadEmulatorProfile();
    const LauncherSettings& c = LauncherConfig;
    EXPECT_EQ(c.GameLanguage, "English");
    EXPECT_EQ(c.GamePlayerName, "Игрок");
    EXPECT_EQ(c.GameClanTag, longTag.substr(0, 255));
    EXPECT_EQ(c.GameProcName, "-console -novid") << "the profile's run options are not taken over";
    EXPECT_EQ(c.GameUseAvatar, "False");
    EXPECT_EQ(c.GameRankLevel, 18) << "018 is decimal";
    EXPECT_EQ(c.GamePrivatRank, 5);

    // Missing keys and ranks that are no numbers give the defaults; keys outside their section count
    // for nothing.
    Write("PlayerName=Outside\r\n[steamclient]\r\nRankLevel=abc\r\nPrivatRank=0x10\r\n[Emulator]\r\n");
    LoadEmulatorProfile();
    EXPECT_EQ(c.GameLanguage, "Russian");
    EXPECT_EQ(c.GamePlayerName, TextFromIni(DefaultPlayerName()));
    EXPECT_EQ(c.GameClanTag, "vtl");
    EXPECT_EQ(c.GameUseAvatar, "True");
    EXPECT_EQ(c.GameRankLevel, 18);
    EXPECT_EQ(c.GamePrivatRank, 16);
}

TEST_F(EmulatorProfileTest, LoadRewritesAByteOrderMarkAwayButLeavesOtherFilesAlone) {
    Write("\xEF\xBB\xBF[Emulator]\nLanguage=English\rSteamId=123\n\n[steamclient]\nPlayerName=Игрок");
    LoadEmulatorProfile();
    EXPECT_EQ(Read(), "[Emulator]\r\nLanguage=English\r\nSteamId=123\r\n\r\n[steamclient]\r\nPlayerName=Игрок\r\n");
    EXPECT_EQ(LauncherConfig.GameLanguage, "English");
    EXPECT_EQ(LauncherConfig.GamePlayerName, "Игрок");

    const std::string lf = "[steamclient]\nClanTag=abc\n";
    Write(lf);
    LoadEmulatorProfile();
    EXPECT_EQ(Read(), lf) << "without a mark loading writes nothing";
    EXPECT_EQ(LauncherConfig.GameClanTag, "abc");
}

TEST_F(EmulatorProfileTest, AFailedLoadRaisesAndChangesNoField) {
    // A marked profile that cannot be rewritten (start-up makes it writable first, so this is the
    // platform refusing): the error goes to the caller and no value is half taken over.
    const std::string marked = "\xEF\xBB\xBF[Emulator]\r\nLanguage=English\r\n";
    Write(marked);
    test::SetReadOnly(Path(), true);
    LauncherConfig = Sample();
    LauncherConfig.GameLanguage = "Russian";
    EXPECT_THROW(LoadEmulatorProfile(), EOSError);
    test::SetReadOnly(Path(), false);
    EXPECT_EQ(Read(), marked);
    EXPECT_EQ(LauncherConfig.GameLanguage, "Russian");
    EXPECT_EQ(LauncherConfig.GameRankLevel, 5);
    EXPECT_TRUE(messages_.empty()) << "the caller shows the error";

#if defined(__linux__)
    // Reading /proc/self/mem from its start fails, which stands for a profile the platform will not read.
    test::TempDir other;
    GameFolder = other.Path();
    ASSERT_EQ(::symlink("/proc/self/mem", other.File("rev.ini").c_str()), 0);
    EXPECT_THROW(LoadEmulatorProfile(), EOSError);
    EXPECT_EQ(LauncherConfig.GameLanguage, "Russian");
    EXPECT_EQ(LauncherConfig.GamePlayerName, "Игрок");
#endif
}

TEST_F(EmulatorProfileTest, AFirstRunTakesTheValuesOverFromTheProfile) {
    Write("[Emulator]\r\nLanguage=English\r\n"
          "[steamclient]\r\nPlayerName=Игрок\r\nClanTag=abc\r\nUse_avatar=False\r\nRankLevel=07\r\nPrivatRank=033\r\n"
          "[Loader]\r\nProcName=hl2.exe -high\r\n");
    const std::string settingsPath = dir_.Path() + "\\" + SettingsFileName;
    ASSERT_FALSE(test::Exists(settingsPath));
    LoadLauncherSettings();
    LoadEmulatorProfile();
    const LauncherSettings& c = LauncherConfig;
    EXPECT_EQ(c.GameLanguage, "English");
    EXPECT_EQ(c.GamePlayerName, "Игрок");
    EXPECT_EQ(c.GameClanTag, "abc");
    EXPECT_EQ(c.GameProcName, "-console -novid");
    EXPECT_EQ(c.GameUseAvatar, "False");
    EXPECT_EQ(c.GameRankLevel, 7);
    EXPECT_EQ(c.GamePrivatRank, 33);
    // The settings' own fields keep their defaults.
    EXPECT_TRUE(c.GlobalShowNewVersionNotification);
    EXPECT_EQ(c.GameNamePosition, 1);
    EXPECT_EQ(c.GameVersionPosition, 1);
    EXPECT_FALSE(test::Exists(settingsPath));
    EXPECT_TRUE(messages_.empty());
}

TEST_F(EmulatorProfileTest, SaveCreatesTheProfileWithTheSevenKeysInOrder) {
    LauncherConfig = Sample();
    LauncherConfig.GameClanTag = "  vtl\t";
    SaveEmulatorProfile();
    EXPECT_EQ(Read(), "[Emulator]\r\n"
                      "Language=English\r\n"
                      "[steamclient]\r\n"
                      "PlayerName=Игрок\r\n"
                      "ClanTag=vtl\r\n"
                      "Use_avatar=False\r\n"
                      "RankLevel=05\r\n"
                      "PrivatRank=012\r\n"
                      "[Loader]\r\n"
                      "ProcName=" + std::string(GameCommandPrefix) + " -console -novid\r\n");

    // What was written reads back the same, Cyrillic nickname and ranks included.
    LauncherConfig = LauncherSettings();
    LoadEmulatorProfile();
    EXPECT_EQ(LauncherConfig.GamePlayerName, "Игрок");
    EXPECT_EQ(LauncherConfig.GameClanTag, "vtl");
    EXPECT_EQ(LauncherConfig.GameRankLevel, 5);
    EXPECT_EQ(LauncherConfig.GamePrivatRank, 12);

    LauncherConfig.GameRankLevel = 18;
    LauncherConfig.GamePrivatRank = 40;
    SaveEmulatorProfile();
    EXPECT_EQ(Value("steamclient", "RankLevel"), "018");
    EXPECT_EQ(Value("steamclient", "PrivatRank"), "040");
    LoadEmulatorProfile();
    EXPECT_EQ(LauncherConfig.GameRankLevel, 18);
    EXPECT_EQ(LauncherConfig.GamePrivatRank, 40);
}

TEST_F(EmulatorProfileTest, SaveLeavesTheLoadersKeysAndDropsTheMark) {
    Write("\xEF\xBB\xBF; revLoader profile\n"
          "[Emulator]\n"
          "SteamId=76561198000000000\n"
          "language = Russian\n"
          "\n"
          "[steamclient]\r\n"
          "AppId=240\r\n"
          "PlayerName=\"Old Name\"\r\n"
          "RankLevel=01\r"
          "Logging=  yes  \r\n"
          "[Loader]\n"
          "DllName=steamclient.dll\n"
          "ProcName=hl2.exe +connect 10.0.0.1:27015\n"
          "[Other]\n"
          "Use_avatar=keep");
    LauncherConfig = Sample();
    SaveEmulatorProfile();
    EXPECT_EQ(Read(), "; revLoader profile\r\n"
                      "[Emulator]\r\n"
                      "SteamId=76561198000000000\r\n"
                      "language=English\r\n"
                      "\r\n"
                      "[steamclient]\r\n"
                      "AppId=240\r\n"
                      "PlayerName=Игрок\r\n"
                      "RankLevel=05\r\n"
                      "Logging=  yes  \r\n"
                      "ClanTag=vtl\r\n"
                      "Use_avatar=False\r\n"
                      "PrivatRank=012\r\n"
                      "[Loader]\r\n"
                      "DllName=steamclient.dll\r\n"
                      "ProcName=" + std::string(GameCommandPrefix) + " -console -novid\r\n"
                      "[Other]\r\n"
                      "Use_avatar=keep\r\n");

    // Saving again changes nothing: the file is already in its settled form.
    const std::string settled = Read();
    SaveEmulatorProfile();
    EXPECT_EQ(Read(), settled);
}

TEST_F(EmulatorProfileTest, ProcNameIsTrimmedAndCutAsOneLine) {
    const std::string prefix = GameCommandPrefix;
    LauncherConfig = Sample();
    LauncherConfig.GameProcName = std::string(300, 'x');
    SaveEmulatorProfile();
    const std::string joined = prefix + " " + std::string(300, 'x');
    EXPECT_EQ(Value("Loader", "ProcName"), joined.substr(0, 255));
    EXPECT_EQ(Value("Loader", "ProcName").size(), 255u);

    LauncherConfig.GameProcName = "";
    SaveEmulatorProfile();
    EXPECT_NE(Read().find("ProcName=" + prefix + "\r\n"), std::string::npos) << "no blank left at the end";

    LauncherConfig.GameProcName = "  -novid  ";
    SaveEmulatorProfile();
    EXPECT_NE(Read().find("ProcName=" + prefix + "   -novid\r\n"), std::string::npos);
}

TEST_F(EmulatorProfileTest, ARefusedSaveRaisesThePlatformErrorAndChangesNothing) {
    const std::string before = "\xEF\xBB\xBF[steamclient]\nPlayerName=Old\nAppId=240\n";
    Write(before);
    test::SetReadOnly(Path(), true);
    LauncherConfig = Sample();
    try {
        SaveEmulatorProfile();
        ADD_FAILURE() << "the save did not fail";
    } catch (const EOSError& error) {
        EXPECT_NE(error.Code(), 0u);
        EXPECT_EQ(std::string(error.what()), PlatformErrorMessage(error.Code()));
    }
    EXPECT_THROW(WriteEmulatorProcName("hl2.exe +connect 1.2.3.4"), EOSError);
    EXPECT_THROW(ResetEmulatorProcName(), EOSError);
    test::SetReadOnly(Path(), false);
    EXPECT_EQ(Read(), before) << "not even the tidying of the lines was written";
    EXPECT_TRUE(messages_.empty()) << "the caller shows the error";
}

TEST_F(EmulatorProfileTest, NoValueCanAddALineToTheProfile) {
    LauncherConfig = Sample();
    LauncherConfig.GamePlayerName = "Player\r\nRankLevel=99\r\n[Loader]\nProcName=evil.exe\rX=1";
    LauncherConfig.GameClanTag = "tag\n[Emulator]\nLanguage=Evil";
    LauncherConfig.GameProcName = "-novid\r\n+exec evil";
    SaveEmulatorProfile();
    const std::string bytes = Read();
    size_t lines = 0;
    for (const char ch : bytes) lines += ch == '\n';
    EXPECT_EQ(lines, 10u) << bytes;
    EXPECT_EQ(bytes.find("\n[Loader]"), bytes.rfind("\n[Loader]"));
    EXPECT_EQ(Value("steamclient", "RankLevel"), "05");
    EXPECT_EQ(Value("Emulator", "Language"), "English");
    EXPECT_EQ(Value("steamclient", "X"), "<missing>");
    EXPECT_EQ(Value("steamclient", "PlayerName"), "Player  RankLevel=99  [Loader] ProcName=evil.exe X=1");
    EXPECT_EQ(Value("Loader", "ProcName"), std::string(GameCommandPrefix) + " -novid  +exec evil");

    // The same for a command line built from a web link's address.
    WriteEmulatorProcName(std::string(GameCommandPrefix) + " +connect 1.2.3.4\r\n[steamclient]\r\nRankLevel=99");
    EXPECT_EQ(Value("steamclient", "RankLevel"), "05");
    EXPECT_EQ(Value("Loader", "ProcName"),
              std::string(GameCommandPrefix) + " +connect 1.2.3.4  [steamclient]  RankLevel=99");
}

TEST_F(EmulatorProfileTest, WriteProcNameTouchesOnlyThatKey) {
    // Created when missing.
    WriteEmulatorProcName("hl2.exe +connect 1.2.3.4");
    EXPECT_EQ(Read(), "[Loader]\r\nProcName=hl2.exe +connect 1.2.3.4\r\n");

    const std::string head = "\xEF\xBB\xBF[Emulator]\nLanguage=English\n[Loader]\nDllName=x.dll\n";
    Write(head + "ProcName=old\n[steamclient]\nPlayerName=Игрок");
    // Written as given: no trimming, no cut.
    const std::string line = std::string(GameCommandPrefix) + " " + std::string(300, 'o') + " +connect 1.2.3.4";
    WriteEmulatorProcName(line);
    EXPECT_EQ(Read(), head + "ProcName=" + line + "\n[steamclient]\nPlayerName=Игрок");

    // The normal start puts back the plain line, as Save would write it.
    LauncherConfig.GameProcName = "-console -novid ";
    ResetEmulatorProcName();
    EXPECT_EQ(Read(), head + "ProcName=" + std::string(GameCommandPrefix) + " -console -novid\n[steamclient]\nPlayerName=Игрок");
}

}  // namespace
}  // namespace orv
