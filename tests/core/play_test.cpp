#include "launcher/play.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "game_profile.h"
#include "launcher/base/app_state.h"
#include "launcher/base/codepage.h"
#include "launcher/base/errors.h"
#include "launcher/base/message_box.h"
#include "launcher/config/ini_file.h"
#include "launcher/config/launcher_settings.h"
#include "launcher/platform/files.h"
#include "support/process_state.h"
#include "support/test_files.h"

namespace orv {
namespace {

class PlayTest : public ::testing::Test {
protected:
    void SetUp() override {
        GameFolder = dir_.Path();
        UiLanguage = UiRussian;
        LauncherConfig = LauncherSettings();
        LauncherConfig.GameLanguage = "Russian";
        LauncherConfig.GamePlayerName = "Player";
        LauncherConfig.GameClanTag = "vtl";
        LauncherConfig.GameProcName = "-console -novid";
        LauncherConfig.GameUseAvatar = "True";
        LauncherConfig.GameRankLevel = 18;
        LauncherConfig.GamePrivatRank = 40;
        LauncherConfig.GlobalShowNewVersionNotification = true;
        LauncherConfig.GameNamePosition = 1;
        LauncherConfig.GameVersionPosition = 1;
        actions_.startLoader = [this](const std::string& path) {
            events_.push_back("start " + path);
            if (shellRefuses_) throw EOSError(2, "The system cannot find the file specified.");
        };
        actions_.closeMainWindow = [this] { events_.push_back("close"); };
    }

    PlayResult RunPlay(int selectedGame = 0) {
        return Play(selectedGame, actions_, CodePageCodec(CodePage::Windows1251));
    }
    std::string In(const std::string& name) const { return dir_.Path() + "\\" + name; }
    void WriteCatalogue(const std::string& utf8) const {
        test::WriteFile(In("inf.ini"), Utf8ToAnsi(utf8, CodePage::Windows1251).text);
    }
    void MakeGameConfig(const std::string& bytes) const {
        CreateDirectories(In("cstrike\\cfg"));
        test::WriteFile(In("cstrike\\cfg\\config.cfg"), bytes);
    }
    bool NothingSavedOrStarted() const {
        return !test::Exists(LauncherSettingsPath()) && !test::Exists(In("rev.ini")) && events_.empty();
    }
    std::string OnlyMessage() const { return messages_.size() == 1 ? messages_[0].text : "<" + std::to_string(messages_.size()) + " messages>"; }

    test::ProcessStateGuard state_;
    test::TempDir dir_;
    PlayActions actions_;
    std::vector<MessageRequest>& messages_ = state_.requests;
    std::vector<std::string> events_;
    bool shellRefuses_ = false;
};

TEST_F(PlayTest, NicknameAndClanTagLimitsCountBytesAndRefuseWithoutSavingAnything) {
    // 31 bytes pass the check, 32 do not.
    EXPECT_FALSE(CheckPlayerValues(std::string(31, 'n'), "vtl"));
    ASSERT_TRUE(CheckPlayerValues(std::string(32, 'n'), "vtl"));

    // 16 Cyrillic letters are 32 bytes.
    LauncherConfig.GamePlayerName = "ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ";
    PlayResult r = RunPlay();
    EXPECT_EQ(r.outcome, PlayOutcome::Refused);
    EXPECT_EQ(r.focus, PlayFocus::Unchanged);
    EXPECT_EQ(OnlyMessage(), "Длина ника превышает 31 символ(ов).");
    EXPECT_TRUE(NothingSavedOrStarted());

    // Both too long: only the nickname is reported.
    messages_.clear();
    LauncherConfig.GameClanTag = std::string(32, 'c');
    RunPlay();
    EXPECT_EQ(OnlyMessage(), "Длина ника превышает 31 символ(ов).");

    // Blanks at either end count: the check runs before saving trims them.
    messages_.clear();
    UiLanguage = UiEnglish;
    LauncherConfig.GamePlayerName = "Player";
    LauncherConfig.GameClanTag = " " + std::string(30, 'c') + " ";
    r = RunPlay();
    EXPECT_EQ(r.outcome, PlayOutcome::Refused);
    EXPECT_EQ(r.focus, PlayFocus::ClanTag);
    EXPECT_EQ(OnlyMessage(), "ClanTag is longer than 31 characters.");
    EXPECT_TRUE(NothingSavedOrStarted());

    LauncherConfig.GameClanTag = "vtl";
    LauncherConfig.GamePlayerName = std::string(32, 'n');
    EXPECT_EQ(CheckPlayerValues(LauncherConfig.GamePlayerName, "")->message, "Nickname is longer than 31 characters.");
}

TEST_F(PlayTest, TheEditBoxDefaultNicknameIsRefusedOnlyAsItStands) {
    LauncherConfig.GamePlayerName = "You name";
    PlayResult r = RunPlay();
    EXPECT_EQ(r.outcome, PlayOutcome::Refused);
    EXPECT_EQ(r.focus, PlayFocus::Nickname);
    EXPECT_EQ(OnlyMessage(), "Пожалуйста смените ник.");
    EXPECT_TRUE(NothingSavedOrStarted());

    UiLanguage = UiEnglish;
    EXPECT_EQ(CheckPlayerValues("You name", "")->message, "Please change your nickname.");
    // Other letter case, the user-name fallback "You Name" among them, and an empty name pass.
    EXPECT_FALSE(CheckPlayerValues("You Name", ""));
    EXPECT_FALSE(CheckPlayerValues("you name", ""));
    EXPECT_FALSE(CheckPlayerValues("You name ", ""));
    EXPECT_FALSE(CheckPlayerValues("", ""));
}

TEST_F(PlayTest, SavesSettingsProfileAndConfigLineThenStartsTheLoaderAndCloses) {
    WriteCatalogue("[osn]\r\nkolnaz=2\r\n[naz1]\r\nnaz=a\r\n[naz2]\r\nnaz=b\r\nrun=\\bin\\loader.exe\r\n");
    MakeGameConfig("bind \"w\" \"+forward\"\r\nname \"old\"\r\n");
    LauncherConfig.GamePlayerName = "  Игрок ";
    LauncherConfig.GameNamePosition = 2;

    const PlayResult r = RunPlay(1);
    EXPECT_EQ(r.outcome, PlayOutcome::Started);
    EXPECT_TRUE(messages_.empty());
    // A "run" naming a file in a subfolder starts that file below the game folder.
    EXPECT_EQ(events_, (std::vector<std::string>{"start " + dir_.Path() + "\\bin\\loader.exe", "close"}));

    const IniDocument settings(test::ReadFile(LauncherSettingsPath()));
    EXPECT_EQ(settings.Get("GameSettings", "GamePlayerName", ""), "Игрок");
    EXPECT_EQ(settings.Get("LauncherSettings", "GameNamePosition", ""), "2");
    const IniDocument profile(test::ReadFile(In("rev.ini")));
    EXPECT_EQ(profile.Get("steamclient", "PlayerName", ""), "Игрок");
    EXPECT_EQ(profile.Get("Loader", "ProcName", ""), std::string(GameCommandPrefix) + " -console -novid");
    EXPECT_EQ(test::ReadFile(In("cstrike\\cfg\\config.cfg")), "bind \"w\" \"+forward\"\r\nname \"Игрок\"\r\n");
}

TEST_F(PlayTest, WithNoGameSelectedTheDefaultLoaderIsStarted) {
    WriteCatalogue("[osn]\r\nkolnaz=1\r\n[naz1]\r\nrun=\\other.exe\r\n");
    EXPECT_EQ(RunPlay(-1).outcome, PlayOutcome::Started);
    EXPECT_EQ(events_.front(), "start " + dir_.Path() + "\\revLoader.exe");
    // Nor is a config file created when the game has none.
    EXPECT_FALSE(test::Exists(In("cstrike\\cfg\\config.cfg")));
}

TEST_F(PlayTest, AFailedSaveStopsPlayWithTheErrorBoxAndStartsNothing) {
    test::WriteFile(LauncherSettingsPath(), "[GameSettings]\r\n");
    test::SetReadOnly(LauncherSettingsPath(), true);
    MakeGameConfig("name \"old\"\r\n");

    const PlayResult r = RunPlay();
    test::SetReadOnly(LauncherSettingsPath(), false);
    EXPECT_EQ(r.outcome, PlayOutcome::Failed);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, "Unable to write to " + LauncherSettingsPath() + ".");
    EXPECT_EQ(messages_[0].flags, mb::Ok | mb::IconError);
    // The settings come first: the profile and the config line were not written, nothing started.
    EXPECT_FALSE(test::Exists(In("rev.ini")));
    EXPECT_EQ(test::ReadFile(In("cstrike\\cfg\\config.cfg")), "name \"old\"\r\n");
    EXPECT_TRUE(events_.empty());

    // The profile second: settings saved, config line untouched.
    messages_.clear();
    test::WriteFile(In("rev.ini"), "[Loader]\r\nProcName=x\r\n");
    test::SetReadOnly(In("rev.ini"), true);
    EXPECT_EQ(RunPlay().outcome, PlayOutcome::Failed);
    test::SetReadOnly(In("rev.ini"), false);
    EXPECT_EQ(messages_.size(), 1u);
    EXPECT_TRUE(test::Exists(LauncherSettingsPath()));
    EXPECT_EQ(test::ReadFile(In("rev.ini")), "[Loader]\r\nProcName=x\r\n");
    EXPECT_EQ(test::ReadFile(In("cstrike\\cfg\\config.cfg")), "name \"old\"\r\n");
    EXPECT_TRUE(events_.empty());
}

TEST_F(PlayTest, ALoaderTheShellRefusesLeavesTheWindowOpenAfterTheSaves) {
    shellRefuses_ = true;
    const PlayResult r = RunPlay();
    EXPECT_EQ(r.outcome, PlayOutcome::Failed);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, "The system cannot find the file specified.");
    EXPECT_EQ(events_, std::vector<std::string>{"start " + dir_.Path() + "\\revLoader.exe"});
    EXPECT_TRUE(test::Exists(In("rev.ini")));
}

TEST_F(PlayTest, ALoaderOutsideTheGameFolderIsRefusedBeforeAnythingIsSaved) {
    const std::vector<std::string> hostile = {
        "\\..\\..\\Windows\\System32\\cmd.exe",
        "\\bin\\..\\..\\x.exe",
        "C:\\Windows\\notepad.exe",
        "\\C:\\x.exe",
        "\\\\server\\share\\x.exe",
        "revLoader.exe",  // no leading "\": a file beside the game folder
        "\\revLoader.exe:stream",
        "\\bin\\.",
        "\\bin\\",
        "\\NUL",
        "",
        "\\\"x.exe\" -evil",
    };
    for (const std::string& run : hostile) {
        EXPECT_FALSE(IsSafeLoaderPath(run)) << run;
        messages_.clear();
        events_.clear();
        WriteCatalogue("[osn]\r\nkolnaz=1\r\n[naz1]\r\nrun=" + run + "\r\n");
        const std::string stored = IniDocument(test::ReadFile(In("inf.ini"))).Get("naz1", "run", "\\revLoader.exe");
        if (stored == "\\revLoader.exe") continue;  // the INI reading itself dropped the value
        const PlayResult r = RunPlay();
        EXPECT_EQ(r.outcome, PlayOutcome::Refused) << run;
        EXPECT_EQ(OnlyMessage(), "Загрузчик игры \"" + stored +
                                     "\" из каталога сервера лежит вне папки игры и не будет запущен.")
            << run;
        EXPECT_TRUE(NothingSavedOrStarted()) << run;
    }
    EXPECT_FALSE(IsSafeLoaderPath("\\x.exe\r\n"));
    EXPECT_FALSE(IsSafeLoaderPath("\\x\x01.exe"));
    for (const char* run : {"\\revLoader.exe", "\\bin\\loader.exe", "\\Игра\\rev Loader.exe"})
        EXPECT_TRUE(IsSafeLoaderPath(run)) << run;
}

TEST_F(PlayTest, TheEditBoxesStoreTheirWholeText) {
    EditNicknameChange("  Игрок с пробелами  ");
    EditClanTagChange(std::string(300, 'c'));
    EXPECT_EQ(LauncherConfig.GamePlayerName, "  Игрок с пробелами  ");
    EXPECT_EQ(LauncherConfig.GameClanTag, std::string(300, 'c'));
}

}  // namespace
}  // namespace orv
