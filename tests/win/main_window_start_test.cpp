// The main window with its start wired in, in this process: the creation sequence and the first
// show on a temporary game folder against a simulated update server, then the player's handlers
// (game and build picks, the edit boxes, Play) driven as the controls' notifications drive them.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "game_profile.h"
#include "gui_test_support.h"
#include "launcher/base/app_state.h"
#include "launcher/base/texts.h"
#include "launcher/config/ini_file.h"
#include "launcher/config/launcher_settings.h"
#include "launcher/main_window/main_window_win.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/platform/system_codepage_win.h"
#include "launcher/platform/wide_win.h"
#include "launcher/ui/message_loop_win.h"
#include "launcher/version_check.h"
#include "launcher/ui/web_view.h"

namespace orv {
namespace {

// Two games; the second has its own loader and three builds.
const std::string kCatalogue = std::string("[osn]\r\nver=") + LauncherVersion +
                               "\r\nkolnaz=2\r\n"
                               "[naz1]\r\nnaz=Counter-Strike: Source\r\nadr=http://news.example/css\r\nkolver=2\r\n"
                               "ver1=Build 1\r\nver2=Build 2\r\nrun=\\revLoader.exe\r\nappname=css\r\n"
                               "[naz2]\r\nnaz=Other game\r\nadr=about:blank\r\nkolver=3\r\n"
                               "ver1=A\r\nver2=B\r\nver3=C\r\nrun=\\bin\\other.exe\r\n";

class RecordingView : public WebView {
public:
    void Navigate(const std::string& url, bool) override { calls.push_back("Navigate " + url); }
    void Stop() override {}
    std::string DefaultUserAgent() override { return "Agent"; }
    void SetUserAgent(const std::string&) override {}
    void WriteHtml(const std::string&) override { calls.push_back("WriteHtml"); }
    std::vector<std::string> calls;
};

std::vector<std::string> Items(const DropDownList& list) {
    std::vector<std::string> items;
    for (int i = 0; i < list.Count(); ++i) items.push_back(list.Item(i));
    return items;
}

// What a text becomes after a trip through the system's ANSI code page.
std::string InSystemCodePage(const std::string& text) {
    const AnsiCodec codec = SystemAnsiCodec();
    return codec.toUtf8(codec.fromUtf8(text));
}

class MainWindowStartTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureApplication();
        ResetApplicationTermination();
        UiLanguage = UiRussian;
    }
    void TearDown() override {
        form_.reset();
        UiLanguage = UiRussian;
        ResetApplicationTermination();
    }

    // Creates the window in the simulated start's folder and shows it, as the launcher does.
    void Start(test::SimulatedStart& start, bool show = true) {
        form_ = std::make_unique<TForm1>();
        form_->SetNewsView(&news_);
        form_->Create();
        ASSERT_TRUE(form_->HandleAllocated());
        if (show) form_->Show();
        (void)start;
    }
    std::vector<std::string> Messages(const test::SimulatedStart& start) const { return start.state.messages; }

    TForm1& Form() { return *form_; }
    RecordingView news_;
    std::unique_ptr<TForm1> form_;
};

TEST_F(MainWindowStartTest, AFirstStartTakesTheProfileFillsTheListsAndEnablesPlay) {
    test::SimulatedStart start(test::SimulatedStart::Options::Serving(kCatalogue));
    test::WriteFile(start.File("rev.ini"),
                    "[Emulator]\r\nLanguage=english\r\n[steamclient]\r\nPlayerName=Gordon\r\nClanTag=bm\r\n");
    test::SetReadOnly(start.File("rev.ini"), true);
    Start(start);

    EXPECT_TRUE(Form().Startup().finished) << Form().Startup().error;
    EXPECT_TRUE(Messages(start).empty());
    EXPECT_EQ(start.probes, 1);
    // The profile's language chose the interface; its identity fills the boxes.
    EXPECT_EQ(UiLanguage, UiEnglish);
    EXPECT_EQ(Form().Caption(), std::string(GameShortTitle) + TextIn(TextId::MainCaptionSuffix, UiEnglish));
    EXPECT_EQ(Form().EditNickname.Text(), "Gordon");
    EXPECT_EQ(Form().EditClanTag.Text(), "bm");
    EXPECT_TRUE(Form().Image_Button_Play.Enabled());
    EXPECT_EQ(Form().Image_Button_Play.Source(), Form().Image_Button_Play_Static.Name());
    EXPECT_NE(LzmaAloneInstance, nullptr);

    EXPECT_EQ(Items(Form().ComboBox_GameName), (std::vector<std::string>{"Counter-Strike: Source", "Other game"}));
    EXPECT_EQ(Form().ComboBox_GameName.ItemIndex(), 0);
    EXPECT_EQ(Items(Form().ComboBox_GameVersion), (std::vector<std::string>{"Build 1", "Build 2"}));
    EXPECT_EQ(Form().ComboBox_GameVersion.ItemIndex(), 0);
    EXPECT_TRUE(Form().ComboBox_GameName.Enabled());
    EXPECT_TRUE(Form().Image_Button_Check.Shown());
    // English pages live under "/en/".
    ASSERT_FALSE(news_.calls.empty());
    EXPECT_EQ(news_.calls.back(), "Navigate http://news.example/css/en/");
    EXPECT_EQ(AppName, "css");
    EXPECT_TRUE(WindowShown);

    // The start made the profile writable and reset the loader's command line.
    const std::string revIni = test::ReadFile(start.File("rev.ini"));
    EXPECT_EQ(IniDocument(revIni).Get("Loader", "ProcName", ""),
              std::string(GameCommandPrefix) + " " + LauncherConfig.GameProcName);
    EXPECT_EQ(IniDocument(revIni).Get("steamclient", "PlayerName", ""), "Gordon");

    Form().Close();
    EXPECT_EQ(LzmaAloneInstance, nullptr);
}

TEST_F(MainWindowStartTest, AnOfflineStartShowsTheMessageThePlaceholderAndRestrictsTheWindow) {
    test::SimulatedStart start;
    Start(start);

    const std::string address = std::string(UpdateServerBase) + GameCode + "/inf.ini";
    ASSERT_EQ(Messages(start).size(), 1u);
    EXPECT_EQ(Messages(start)[0], "Ошибка загрузки " + address + " видимо сервер недоступен, либо интернет не работает");
    EXPECT_TRUE(OfflineMode);
    // The placeholder is written in the system's code page: Cyrillic under a Russian one.
    EXPECT_EQ(Items(Form().ComboBox_GameName), std::vector<std::string>{InSystemCodePage("Название программы")});
    EXPECT_EQ(Items(Form().ComboBox_GameVersion), std::vector<std::string>{InSystemCodePage("Название версии")});
    if (::GetACP() == 1251) {
        EXPECT_EQ(Form().ComboBox_GameName.Item(0), "Название программы");
    }
    EXPECT_FALSE(Form().ComboBox_GameName.Enabled());
    EXPECT_FALSE(Form().ComboBox_GameVersion.Enabled());
    EXPECT_FALSE(Form().Image_Button_Check.Shown());
    EXPECT_FALSE(Form().Image_Button_Check.Enabled());
    EXPECT_FALSE(Form().Image_Button_ServerBrowser.Shown());
    // Play stays: the installed game can still be started.
    EXPECT_TRUE(Form().Image_Button_Play.Enabled());
    ASSERT_FALSE(news_.calls.empty());
    EXPECT_EQ(news_.calls.back(), "WriteHtml");
    EXPECT_TRUE(test::Exists(start.File("inf.ini")));
}

TEST_F(MainWindowStartTest, PicksRereadTheCatalogueAndOnlyTheFirstGameShowsTheIdentityBoxes) {
    test::SimulatedStart start(test::SimulatedStart::Options::Serving(kCatalogue));
    Start(start);
    ASSERT_TRUE(Messages(start).empty()) << Messages(start)[0];

    Form().ComboBox_GameName.SetItemIndex(1);
    Form().Events.ComboBox_GameNameClick();
    EXPECT_EQ(LauncherConfig.GameNamePosition, 2);
    EXPECT_EQ(LauncherConfig.GameVersionPosition, 1);
    EXPECT_EQ(Items(Form().ComboBox_GameVersion), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(Form().ComboBox_GameName.ItemIndex(), 1);
    for (const Control* c : std::vector<const Control*>{&Form().Label_Nickname, &Form().Label_Clantag,
                                                        &Form().EditNickname, &Form().EditClanTag})
        EXPECT_FALSE(c->Shown()) << c->Name();
    EXPECT_EQ(news_.calls.back(), "Navigate about:blank");

    Form().ComboBox_GameVersion.SetItemIndex(2);
    Form().Events.ComboBox_GameVersionClick();
    EXPECT_EQ(LauncherConfig.GameNamePosition, 2);
    EXPECT_EQ(LauncherConfig.GameVersionPosition, 3);
    EXPECT_EQ(Form().ComboBox_GameVersion.ItemIndex(), 2);

    Form().ComboBox_GameName.SetItemIndex(0);
    Form().Events.ComboBox_GameNameClick();
    EXPECT_TRUE(Form().EditNickname.Shown());
    EXPECT_TRUE(Form().Label_Clantag.Shown());
    EXPECT_EQ(Items(Form().ComboBox_GameVersion), (std::vector<std::string>{"Build 1", "Build 2"}));
    EXPECT_TRUE(Messages(start).empty());
}

TEST_F(MainWindowStartTest, PlayRefusesTheDefaultNameThenSavesAndStartsTheSelectedGamesLoader) {
    test::SimulatedStart start(test::SimulatedStart::Options::Serving(kCatalogue));
    Start(start);
    ASSERT_TRUE(Messages(start).empty()) << Messages(start)[0];

    // The box's own notification stores what is typed.
    Form().EditNickname.SetText("You name");
    EXPECT_EQ(LauncherConfig.GamePlayerName, "You name");
    Form().Image_Button_Play.OnClick();
    ASSERT_EQ(Messages(start).size(), 1u);
    EXPECT_TRUE(start.loaders.empty());
    EXPECT_EQ(::GetFocus(), Form().EditNickname.ControlHandle());
    EXPECT_TRUE(Form().HandleAllocated());

    Form().EditNickname.SetText("Игрок");
    Form().EditClanTag.SetText("[tag]");
    ASSERT_TRUE(::CreateDirectoryW(Wide(start.File("cstrike")).c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(Wide(start.File("cstrike\\cfg")).c_str(), nullptr));
    test::WriteFile(start.File("cstrike\\cfg\\config.cfg"), "name \"old\"\r\nrate \"1\"\r\n");
    Form().ComboBox_GameVersion.SetItemIndex(1);
    Form().Events.ComboBox_GameVersionClick();
    Form().Image_Button_Play.OnClick();

    ASSERT_EQ(start.loaders, std::vector<std::string>{start.Folder() + "\\revLoader.exe"});
    EXPECT_EQ(Messages(start).size(), 1u);
    const IniDocument revIni(test::ReadFile(start.File("rev.ini")));
    EXPECT_EQ(revIni.Get("steamclient", "PlayerName", ""), "Игрок");
    EXPECT_EQ(revIni.Get("steamclient", "ClanTag", ""), "[tag]");
    EXPECT_EQ(test::ReadFile(start.File("cstrike\\cfg\\config.cfg")), "name \"Игрок\"\r\nrate \"1\"\r\n");
    const IniDocument settings(test::ReadFile(LauncherSettingsPath()));
    EXPECT_EQ(settings.Get("LauncherSettings", "GameVersionPosition", ""), "2");
    // Play closes the launcher.
    EXPECT_FALSE(Form().HandleAllocated());
    EXPECT_TRUE(ApplicationTerminated());
}

TEST_F(MainWindowStartTest, PlayRefusesALoaderOutsideTheGameFolderAndSavesNothing) {
    const std::string hostile = std::string("[osn]\r\nver=") + LauncherVersion +
                                "\r\nkolnaz=1\r\n[naz1]\r\nnaz=Game\r\nkolver=1\r\nver1=B\r\nrun=\\..\\..\\x.exe\r\n";
    test::SimulatedStart start(test::SimulatedStart::Options::Serving(hostile));
    Start(start);
    Form().EditNickname.SetText("Player");
    Form().Image_Button_Play.OnClick();
    ASSERT_EQ(Messages(start).size(), 1u);
    EXPECT_NE(Messages(start)[0].find("\\..\\..\\x.exe"), std::string::npos) << Messages(start)[0];
    EXPECT_TRUE(start.loaders.empty());
    EXPECT_FALSE(test::Exists(LauncherSettingsPath()));
    EXPECT_TRUE(Form().HandleAllocated());
}

TEST_F(MainWindowStartTest, AForcedUpdateStartLeavesTheLoaderLineAndAConnectLinkEndsTheLauncher) {
    {
        test::SimulatedStart start(test::SimulatedStart::Options::Serving(kCatalogue, {"Orvanta.exe", "x", "forceupdate"}));
        test::WriteFile(start.File("rev.ini"), "[Loader]\r\nProcName=hl2.exe +connect 1.2.3.4:27015\r\n");
        Start(start);
        EXPECT_TRUE(ForceUpdateRequested);
        EXPECT_EQ(test::ReadFile(start.File("rev.ini")), "[Loader]\r\nProcName=hl2.exe +connect 1.2.3.4:27015\r\n");
        form_.reset();
    }
    ResetApplicationTermination();
    test::SimulatedStart start(test::SimulatedStart::Options::Serving(kCatalogue, {"Orvanta.exe", "x", "5.6.7.8:27016/"}));
    Start(start, /*show=*/false);
    EXPECT_EQ(Form().Startup().connect, ConnectOutcome::Started);
    EXPECT_TRUE(start.terminated);
    EXPECT_EQ(start.loaders, std::vector<std::string>{start.Folder() + "\\revLoader.exe"});
    EXPECT_NE(IniDocument(test::ReadFile(start.File("rev.ini"))).Get("Loader", "ProcName", "").find("+connect 5.6.7.8:27016"),
              std::string::npos);
}

// A catalogue whose game the server holds at version 34 / 7545 (written with blanks, read trimmed).
std::string VersionedCatalogue(const std::string& serverBase) {
    return std::string("[osn]\r\nver=") + LauncherVersion +
           "\r\nkolnaz=1\r\n[naz1]\r\nnaz=Game\r\nkolver=2\r\nver1=A\r\nver2=B\r\nappname=css\r\n"
           "[cssserverversion]\r\nbaseversion= " + serverBase + " \r\nbuilserverdversion=7545\r\n";
}

class GameVersionAtStartTest : public MainWindowStartTest {
protected:
    // The settings file as a check run leaves it: the installed version, the second build picked.
    void Installed(const test::SimulatedStart& start, const std::string& base) {
        test::WriteFile(start.File(SettingsFileName),
                        "[LauncherSettings]\r\nGameNamePosition=1\r\nGameVersionPosition=2\r\n"
                        "GlobalShowNewVersionNotification=" + std::string(notify_ ? "1" : "0") +
                            "\r\n[cssClientVersion]\r\nBaseVersion=" + base + "\r\nBuildVersion=7545\r\n");
    }
    // Shows the window, lets the event loop deliver what the start posted, and records the
    // check action's starts.
    void StartAndPump(test::SimulatedStart& start) {
        Start(start, /*show=*/false);
        Form().Events.Image_Button_CheckClick = [this] { ++updates_; };
        Form().Show();
        EXPECT_TRUE(test::PumpUntil(test::NothingQueued, test::kGuiWait)) << "the start's messages kept coming";
    }
    bool notify_ = true;
    int updates_ = 0;
};

TEST_F(GameVersionAtStartTest, ADifferentVersionIsAskedAboutOnceTheWindowIsOnScreen) {
    test::SimulatedStart start(test::SimulatedStart::Options::Serving(VersionedCatalogue("34")));
    Installed(start, "1.0");
    StartAndPump(start);
    ASSERT_EQ(start.state.requests.size(), 1u) << ::testing::PrintToString(Messages(start));
    EXPECT_EQ(start.state.requests[0].text, "Вышла новая версия игры = 34 up7545 Выполнить обновление?");
    EXPECT_EQ(start.state.requests[0].owner, Form().Handle());
    // The guard answers OK, neither Yes nor No: nothing is updated and no hint follows.
    EXPECT_EQ(updates_, 0);
    // The first build is selected for the update; the remembered position stays.
    EXPECT_EQ(Form().ComboBox_GameVersion.ItemIndex(), 0);
    EXPECT_EQ(LauncherConfig.GameVersionPosition, 2);
    EXPECT_FALSE(VersionPromptPending);

    // Once shown, a pick asks at once.
    Form().ComboBox_GameVersion.SetItemIndex(1);
    Form().Events.ComboBox_GameVersionClick();
    EXPECT_EQ(start.state.requests.size(), 2u);
}

TEST_F(GameVersionAtStartTest, TrimmedEqualVersionsOrASwitchedOffNotificationAskNothing) {
    {
        test::SimulatedStart start(test::SimulatedStart::Options::Serving(VersionedCatalogue("34")));
        Installed(start, "34");
        StartAndPump(start);
        EXPECT_TRUE(Messages(start).empty()) << Messages(start)[0];
        EXPECT_EQ(Form().ComboBox_GameVersion.ItemIndex(), 1);
        form_.reset();
    }
    notify_ = false;
    test::SimulatedStart start(test::SimulatedStart::Options::Serving(VersionedCatalogue("1.00")));
    Installed(start, "1.0");
    StartAndPump(start);
    EXPECT_TRUE(Messages(start).empty()) << Messages(start)[0];
    EXPECT_EQ(Form().ComboBox_GameVersion.ItemIndex(), 1);
}

TEST_F(GameVersionAtStartTest, AForcedUpdateStartRunsTheCheckWithoutAQuestion) {
    test::SimulatedStart start(
        test::SimulatedStart::Options::Serving(VersionedCatalogue("35"), {"Orvanta.exe", "x", "forceupdate"}));
    Installed(start, "34");
    StartAndPump(start);
    EXPECT_TRUE(Messages(start).empty()) << Messages(start)[0];
    EXPECT_EQ(updates_, 1);
    EXPECT_FALSE(ForceUpdateRequested);
}

}  // namespace
}  // namespace orv
