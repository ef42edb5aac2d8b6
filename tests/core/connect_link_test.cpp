#include "launcher/connect_link.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "game_profile.h"
#include "launcher/base/app_state.h"
#include "launcher/base/codepage.h"
#include "launcher/base/message_box.h"
#include "launcher/config/ini_file.h"
#include "launcher/config/launcher_settings.h"
#include "support/process_state.h"
#include "support/test_files.h"

namespace orv {
namespace {

TEST(ConnectAddress, TheArgumentLowerCasedWithoutItsLastCharacter) {
    EXPECT_EQ(ConnectAddress("1.2.3.4:27015/"), "1.2.3.4:27015");
    EXPECT_EQ(ConnectAddress("Play.Example.COM:27015/"), "play.example.com:27015");
    EXPECT_EQ(ConnectAddress("cs-1.example_net/"), "cs-1.example_net");
    EXPECT_EQ(ConnectAddress("[::1]:27015/"), "[::1]:27015");
    // Whatever the last character is, it goes; one character leaves an empty address.
    EXPECT_EQ(ConnectAddress("1.2.3.4:27015"), "1.2.3.4:2701");
    EXPECT_EQ(ConnectAddress("/"), "");
    EXPECT_EQ(ConnectAddress("1.2.3.4ж"), "1.2.3.4");  // a whole UTF-8 character, not one byte
}

TEST(ConnectAddress, AnythingThatIsNoServerAddressIsRefused) {
    for (const char* argument : {
             "1.2.3.4:27015 +exec evil/",    // a quoted argument with a blank
             "1.2.3.4\" -insecure \"/",      // quotes
             "-insecure/",                   // read by the game as an option of its own
             "+exec/",                       // a console command
             "1.2.3.4;quit/",
             "1.2.3.4\r\n[Loader]\r\nProcName=evil.exe/",
             "1.2.3.4\n+exec x/",
             "1.2.3.4\t+exec/",
             "1.2.3.4%20+exec/",
             "сервер.рф/",
             ".example/",
         }) {
        EXPECT_FALSE(ConnectAddress(argument)) << argument;
    }
    EXPECT_TRUE(IsServerAddress(""));
    EXPECT_TRUE(IsServerAddress("a"));
    EXPECT_FALSE(IsServerAddress("-"));
    EXPECT_FALSE(IsServerAddress("a b"));
}

TEST(ConnectCommandLine, CstrikePutsTheAddressLastOtherGamesBeforeTheRunOptions) {
    const std::string prefix = GameCommandPrefix;
    EXPECT_EQ(ConnectCommandLine("1.2.3.4:27015", "-console -novid", "cstrike"),
              prefix + " -console -novid +connect 1.2.3.4:27015");
    EXPECT_EQ(ConnectCommandLine("1.2.3.4:27015", "-console -novid", "CStrike"),
              prefix + " -console -novid +connect 1.2.3.4:27015");
    EXPECT_EQ(ConnectCommandLine("1.2.3.4:27015", "-console -novid", "tf"),
              prefix + " +connect 1.2.3.4:27015 -console -novid");
    EXPECT_EQ(ConnectCommandLine("", "", "cstrike"), prefix + "  +connect ");
}

class ConnectLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        GameFolder = dir_.Path();
        UiLanguage = UiEnglish;
        LauncherConfig = LauncherSettings();
        LauncherConfig.GameProcName = "-console -novid";
        actions_.killProcessByName = [this](const std::string& name) {
            events_.push_back("kill " + name);
            return 1;
        };
        actions_.startLoader = [this](const std::string& path) {
            // What the loader would find at its start.
            events_.push_back("start " + path + " with " + IniDocument(test::ReadFile(Profile())).Get("Loader", "ProcName", ""));
        };
        actions_.terminateApplication = [this] { events_.push_back("terminate"); };
    }
    std::string Profile() const { return dir_.Path() + "\\rev.ini"; }
    ConnectOutcome Start(const std::string& argument) {
        return StartConnectLink(argument, "C:\\Games\\CSS\\MyLauncher.exe", actions_,
                                CodePageCodec(CodePage::Windows1251));
    }

    test::ProcessStateGuard state_;
    test::TempDir dir_;
    ConnectActions actions_;
    std::vector<std::string> events_;
    std::vector<std::string>& messages_ = state_.messages;
};

const char* const kProfile =
    "[Emulator]\r\nLanguage=English\r\n[steamclient]\r\nPlayerName=Player\r\n[Loader]\r\nProcName=old\r\n";

TEST_F(ConnectLinkTest, WritesTheConnectLineEndsTheGameStartsTheFirstLoaderAndEndsTheLaunchersLast) {
    test::WriteFile(Profile(), kProfile);
    test::WriteFile(dir_.Path() + "\\inf.ini",
                    "[osn]\r\nkolnaz=2\r\n[naz1]\r\nrun=\\first.exe\r\n[naz2]\r\nrun=\\second.exe\r\n");
    LauncherConfig.GameNamePosition = 2;  // the link starts game 1 whatever was selected

    EXPECT_EQ(Start("Play.Example.com:27015/"), ConnectOutcome::Started);
    const std::string line = std::string(GameCommandPrefix) + " -console -novid +connect play.example.com:27015";
    EXPECT_EQ(events_, (std::vector<std::string>{
                           "kill hl2.exe",
                           "start " + dir_.Path() + "\\first.exe with " + line,
                           "kill MyLauncher.exe",
                           "terminate",
                       }));
    EXPECT_TRUE(messages_.empty());
    // Only ProcName changes; the settings file is not written.
    EXPECT_EQ(test::ReadFile(Profile()),
              "[Emulator]\r\nLanguage=English\r\n[steamclient]\r\nPlayerName=Player\r\n[Loader]\r\nProcName=" + line +
                  "\r\n");
    EXPECT_FALSE(test::Exists(LauncherSettingsPath()));
}

TEST_F(ConnectLinkTest, WithoutACatalogueTheDefaultLoaderIsStarted) {
    EXPECT_EQ(Start("/"), ConnectOutcome::Started);
    ASSERT_EQ(events_.size(), 4u);
    EXPECT_EQ(events_[1].substr(0, events_[1].find(" with ")), "start " + dir_.Path() + "\\revLoader.exe");
    // An empty address after "+connect", written as it is (the loader's reading drops the blank).
    EXPECT_EQ(test::ReadFile(Profile()),
              "[Loader]\r\nProcName=" + std::string(GameCommandPrefix) + " -console -novid +connect \r\n");
}

TEST_F(ConnectLinkTest, ALinkWithLineBreaksOrOptionsChangesNothingAndStartsNothing) {
    test::WriteFile(Profile(), kProfile);
    for (const std::string& argument : {
             std::string("1.2.3.4\r\n[Loader]\r\nProcName=evil.exe/"),
             std::string("1.2.3.4\rProcName=evil/"),
             std::string("1.2.3.4:27015 +exec evil/"),
             std::string("1.2.3.4\" -insecure/"),
         }) {
        events_.clear();
        messages_.clear();
        EXPECT_EQ(Start(argument), ConnectOutcome::Refused);
        EXPECT_EQ(events_, std::vector<std::string>{"terminate"});
        ASSERT_EQ(messages_.size(), 1u);
        EXPECT_NE(messages_[0].find("in the link is not valid"), std::string::npos) << messages_[0];
        EXPECT_EQ(test::ReadFile(Profile()), kProfile);
    }
}

TEST_F(ConnectLinkTest, AFirstGameLoaderOutsideTheGameFolderIsRefused) {
    test::WriteFile(Profile(), kProfile);
    test::WriteFile(dir_.Path() + "\\inf.ini", "[osn]\r\nkolnaz=1\r\n[naz1]\r\nrun=\\..\\..\\evil.exe\r\n");
    EXPECT_EQ(Start("1.2.3.4:27015/"), ConnectOutcome::Refused);
    EXPECT_EQ(events_, std::vector<std::string>{"terminate"});
    EXPECT_EQ(messages_, std::vector<std::string>{"The game loader \"\\..\\..\\evil.exe\" named by the server "
                                                  "catalogue lies outside the game folder and will not be started."});
    EXPECT_EQ(test::ReadFile(Profile()), kProfile);
}

}  // namespace
}  // namespace orv
