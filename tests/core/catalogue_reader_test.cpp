#include "launcher/catalogue_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "game_profile.h"
#include "launcher/base/app_state.h"
#include "launcher/base/codepage.h"
#include "launcher/config/launcher_settings.h"
#include "support/process_state.h"
#include "support/test_files.h"

namespace orv {
namespace {

std::string Cp1251(const std::string& utf8) { return Utf8ToAnsi(utf8, CodePage::Windows1251).text; }

// Records what chtenie asks of the window, in order.
class RecordingView : public CatalogueView {
public:
    void LoadNews(const NewsPageRequest& request) override {
        calls.push_back("news");
        news = request;
    }
    void ShowGames(const std::vector<std::string>& names, int selected) override {
        calls.push_back("games");
        games = names;
        selectedGame = selected;
    }
    void ShowBuilds(const std::vector<std::string>& names, int selected) override {
        calls.push_back("builds");
        builds = names;
        selectedBuild = selected;
    }
    void RestrictToOffline() override { calls.push_back("offline"); }
    void RunGameVersionCheck() override { calls.push_back("version check"); }

    std::vector<std::string> calls;
    NewsPageRequest news;
    std::vector<std::string> games;
    int selectedGame = -2;
    std::vector<std::string> builds;
    int selectedBuild = -2;
};

class CatalogueReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        GameFolder = dir_.Path();
        LauncherConfig = LauncherSettings();
        LauncherConfig.GameNamePosition = 1;
        LauncherConfig.GameVersionPosition = 1;
        OfflineMode = false;
        UiLanguage = UiRussian;
        NewsUrl = "about:blank";
    }
    std::string CataloguePath() const { return dir_.Path() + "\\inf.ini"; }
    void WriteCatalogue(const std::string& utf8) const { test::WriteFile(CataloguePath(), Cp1251(utf8)); }
    void WriteSettings(const std::string& bytes) const { test::WriteFile(LauncherSettingsPath(), bytes); }

    CatalogueReading Read(int game, int build) {
        return ReadCatalogue(game, build, OfflineMode, UiLanguage, CodePageCodec(CodePage::Windows1251));
    }
    CatalogueReading Chtenie() {
        return chtenie(LauncherConfig.GameNamePosition, LauncherConfig.GameVersionPosition, view_,
                       CodePageCodec(CodePage::Windows1251));
    }

    test::ProcessStateGuard state_;
    test::TempDir dir_;
    RecordingView view_;
};

const char* const kThreeGames =
    "[osn]\r\nver=1.2\r\nkolnaz=3\r\n"
    "[naz1]\r\nnaz=Контр-Страйк\r\nadr=http://news.example/cs\r\nkolver=2\r\nver1=Сборка 1\r\nver2=Сборка 2\r\n"
    "appname= cs2 \r\n"
    "[naz2]\r\nnaz=Second\r\nadr=http://news.example/second\r\nkolver=3\r\nver1=a\r\nver2=b\r\nver3=c\r\n"
    "appname=cs2\r\n"
    "[naz3]\r\nnaz=Third\r\nkolver=1\r\nver1=only\r\n"
    "[cs2serverversion]\r\nbaseversion= 5 \r\nbuilserverdversion=123 \r\nusesteamcmd=1\r\n";

TEST_F(CatalogueReaderTest, AMissingCatalogueIsReplacedByThePlaceholderWrittenExactly) {
    const CatalogueReading r = Chtenie();

    const std::string expected = "[osn]\r\nver=" + std::string(LauncherVersion) +
                                 "\r\nkolnaz=1\r\n[naz1]\r\nnaz=" + Cp1251("Название программы") +
                                 "\r\nadr=about:blank\r\nkolver=1\r\nver1=" + Cp1251("Название версии") +
                                 "\r\nnazcek1=" + Cp1251("Название чек листа") +
                                 "\r\nkolf1=0\r\nadrskach1=about:blank\r\nrun=\\revLoader.exe\r\n";
    EXPECT_EQ(test::ReadFile(CataloguePath()), expected);

    // Then read like any other catalogue.
    EXPECT_EQ(view_.games, std::vector<std::string>{"Название программы"});
    EXPECT_EQ(view_.builds, std::vector<std::string>{"Название версии"});
    EXPECT_EQ(view_.selectedGame, 0);
    EXPECT_EQ(view_.selectedBuild, 0);
    EXPECT_FALSE(view_.news.offlinePage);
    EXPECT_EQ(view_.news.address, "about:blank");
    EXPECT_EQ(r.appName, "cstrike");
    EXPECT_EQ(AppName, "cstrike");
    EXPECT_EQ(ServerBaseVersion, "0");
    EXPECT_EQ(ServerBuildVersion, "0");
    EXPECT_FALSE(UseSteamCmd);
    EXPECT_EQ(view_.calls, (std::vector<std::string>{"news", "games", "builds", "version check"}));

    // An existing catalogue is never replaced.
    WriteCatalogue("[osn]\r\nkolnaz=0\r\n");
    EXPECT_FALSE(EnsureLocalCatalogue(CodePageCodec(CodePage::Windows1251)));
    EXPECT_EQ(test::ReadFile(CataloguePath()), Cp1251("[osn]\r\nkolnaz=0\r\n"));
}

TEST_F(CatalogueReaderTest, ListsAndValuesOfTheSelectedGameWithCyrillicNamesIn1251) {
    WriteCatalogue(kThreeGames);
    WriteSettings("[cs2ClientVersion]\r\nBaseVersion= 4 \r\nBuildVersion=120\r\n");
    LauncherConfig.GameNamePosition = 1;
    LauncherConfig.GameVersionPosition = 2;
    Chtenie();

    EXPECT_EQ(view_.games, (std::vector<std::string>{"Контр-Страйк", "Second", "Third"}));
    EXPECT_EQ(view_.builds, (std::vector<std::string>{"Сборка 1", "Сборка 2"}));
    EXPECT_EQ(view_.selectedGame, 0);
    EXPECT_EQ(view_.selectedBuild, 1);
    EXPECT_EQ(NewsUrl, "http://news.example/cs");
    EXPECT_EQ(view_.news.address, "http://news.example/cs");
    // "appname" is trimmed before it names the sections; the versions are trimmed too.
    EXPECT_EQ(AppName, "cs2");
    EXPECT_EQ(ServerBaseVersion, "5");
    EXPECT_EQ(ServerBuildVersion, "123");
    EXPECT_TRUE(UseSteamCmd);
    EXPECT_EQ(LocalBaseVersion, "4");
    EXPECT_EQ(LocalBuildVersion, "120");
    EXPECT_EQ(LauncherConfig.GameNamePosition, 1);
    EXPECT_EQ(LauncherConfig.GameVersionPosition, 2);

    // Game 2 shares the appname, so it shares both version sections.
    LauncherConfig.GameNamePosition = 2;
    LauncherConfig.GameVersionPosition = 3;
    Chtenie();
    EXPECT_EQ(view_.builds, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(view_.selectedGame, 1);
    EXPECT_EQ(view_.selectedBuild, 2);
    EXPECT_EQ(AppName, "cs2");
    EXPECT_EQ(ServerBaseVersion, "5");
    EXPECT_EQ(LocalBuildVersion, "120");
}

TEST_F(CatalogueReaderTest, PositionsOutsideTheListsFallBackToTheFirstEntry) {
    WriteCatalogue(kThreeGames);

    // A saved game position beyond the catalogue resets both positions.
    for (const int game : {5, 4, 0, -3}) {
        LauncherConfig.GameNamePosition = game;
        LauncherConfig.GameVersionPosition = 2;
        Chtenie();
        EXPECT_EQ(LauncherConfig.GameNamePosition, 1) << game;
        EXPECT_EQ(LauncherConfig.GameVersionPosition, 1) << game;
        EXPECT_EQ(view_.selectedGame, 0) << game;
        EXPECT_EQ(view_.selectedBuild, 0) << game;
    }
    // A build position of 0 or beyond the game's builds resets only itself.
    for (const int build : {0, 2, 99, -1}) {
        LauncherConfig.GameNamePosition = 3;
        LauncherConfig.GameVersionPosition = build;
        Chtenie();
        EXPECT_EQ(LauncherConfig.GameNamePosition, 3) << build;
        EXPECT_EQ(LauncherConfig.GameVersionPosition, 1) << build;
        EXPECT_EQ(view_.selectedGame, 2) << build;
        EXPECT_EQ(view_.selectedBuild, 0) << build;
    }
}

TEST_F(CatalogueReaderTest, MissingKeysGiveTheirDefaults) {
    WriteCatalogue("[osn]\r\nkolnaz=2\r\n[naz1]\r\nkolver=2\r\nver2=second\r\n");
    const CatalogueReading r = Read(1, 1);
    EXPECT_EQ(r.gameNames, (std::vector<std::string>{"No parameter", "No parameter"}));
    EXPECT_EQ(r.buildNames, (std::vector<std::string>{"No parameter", "second"}));
    EXPECT_EQ(r.newsUrl, "about:blank");
    EXPECT_EQ(r.news.address, "about:blank");
    EXPECT_EQ(r.appName, "cstrike");
    EXPECT_EQ(r.serverBaseVersion, "0");
    EXPECT_EQ(r.serverBuildVersion, "0");
    EXPECT_FALSE(r.useSteamCmd);
    EXPECT_EQ(r.localBaseVersion, "0");
    EXPECT_EQ(r.localBuildVersion, "0");
}

TEST_F(CatalogueReaderTest, EmptyFileAndCountsThatAreNoNumbersGiveEmptyLists) {
    for (const char* catalogue :
         {"", "[osn]\r\nkolnaz=abc\r\n", "[osn]\r\nkolnaz=\r\n", "[osn]\r\nkolnaz=-4\r\n"}) {
        WriteCatalogue(catalogue);
        const CatalogueReading r = Read(3, 2);
        EXPECT_TRUE(r.gameNames.empty()) << catalogue;
        EXPECT_EQ(r.selectedGame, -1) << catalogue;
        EXPECT_TRUE(r.buildNames.empty()) << catalogue;
        EXPECT_EQ(r.selectedBuild, -1) << catalogue;
        EXPECT_EQ(r.gamePosition, 1) << catalogue;
        EXPECT_EQ(r.buildPosition, 1) << catalogue;
        EXPECT_EQ(r.newsUrl, "about:blank") << catalogue;
        EXPECT_EQ(r.appName, "cstrike") << catalogue;
    }
    // A build count that is no number.
    WriteCatalogue("[osn]\r\nkolnaz=1\r\n[naz1]\r\nnaz=g\r\nkolver=two\r\nver1=x\r\n");
    const CatalogueReading r = Read(1, 1);
    EXPECT_EQ(r.gameNames, std::vector<std::string>{"g"});
    EXPECT_TRUE(r.buildNames.empty());
    EXPECT_EQ(r.selectedBuild, -1);
}

TEST_F(CatalogueReaderTest, WithNoGamesListedTheFirstGameSectionStillGivesBuildsAndValues) {
    WriteCatalogue(
        "[osn]\r\nkolnaz=0\r\n[naz1]\r\nnaz=hidden\r\nadr=http://n.example\r\nkolver=1\r\nver1=b1\r\n"
        "appname=x\r\n[xserverversion]\r\nbaseversion=7\r\n");
    LauncherConfig.GameNamePosition = 2;
    LauncherConfig.GameVersionPosition = 1;
    Chtenie();
    EXPECT_TRUE(view_.games.empty());
    EXPECT_EQ(view_.selectedGame, -1);
    EXPECT_EQ(view_.builds, std::vector<std::string>{"b1"});
    EXPECT_EQ(view_.selectedBuild, 0);
    EXPECT_EQ(NewsUrl, "http://n.example");
    EXPECT_EQ(AppName, "x");
    EXPECT_EQ(ServerBaseVersion, "7");
    EXPECT_EQ(LauncherConfig.GameNamePosition, 1);
}

TEST_F(CatalogueReaderTest, AHugeCountIsCutInsteadOfFillingTheListForever) {
    WriteCatalogue("[osn]\r\nkolnaz=2147483647\r\n[naz1]\r\nkolver=99999999\r\n");
    const CatalogueReading r = Read(1, 1);
    EXPECT_EQ(r.gameNames.size(), static_cast<size_t>(MaxCatalogueListEntries));
    EXPECT_EQ(r.buildNames.size(), static_cast<size_t>(MaxCatalogueListEntries));
    // A position beyond the cut falls back like any other.
    EXPECT_EQ(Read(MaxCatalogueListEntries + 1, 1).gamePosition, 1);
    EXPECT_EQ(Read(MaxCatalogueListEntries, 1).gamePosition, MaxCatalogueListEntries);
}

TEST_F(CatalogueReaderTest, EnglishInterfaceGetsTheEnglishNewsPageExceptForABlankOne) {
    WriteCatalogue(kThreeGames);
    UiLanguage = UiEnglish;
    EXPECT_EQ(Read(1, 1).news.address, "http://news.example/cs/en/");
    EXPECT_EQ(Read(1, 1).newsUrl, "http://news.example/cs");
    // Game 3 has no "adr".
    EXPECT_EQ(Read(3, 1).news.address, "about:blank");
    UiLanguage = UiRussian;
    EXPECT_EQ(Read(1, 1).news.address, "http://news.example/cs");
}

TEST_F(CatalogueReaderTest, OfflineShowsTheOfflinePageRestrictsTheWindowAndSkipsTheVersionCheck) {
    WriteCatalogue(kThreeGames);
    OfflineMode = true;
    NewsUrl = "http://previous.example";
    Chtenie();
    EXPECT_TRUE(view_.news.offlinePage);
    EXPECT_EQ(view_.calls, (std::vector<std::string>{"news", "games", "builds", "offline"}));
    // The lists and the version values are still read; only the news address is left alone.
    EXPECT_EQ(view_.games.size(), 3u);
    EXPECT_EQ(NewsUrl, "http://previous.example");
    EXPECT_EQ(ServerBaseVersion, "5");
}

TEST_F(CatalogueReaderTest, PickingAGameSelectsItsFirstBuildAndShowsTheNicknameOnlyForTheFirstGame) {
    WriteCatalogue(kThreeGames);
    LauncherConfig.GameVersionPosition = 2;
    const AnsiCodec codec = CodePageCodec(CodePage::Windows1251);

    EXPECT_FALSE(CatalogueGamePicked(1, view_, codec));
    EXPECT_EQ(LauncherConfig.GameNamePosition, 2);
    EXPECT_EQ(LauncherConfig.GameVersionPosition, 1);
    EXPECT_EQ(view_.selectedGame, 1);
    EXPECT_EQ(view_.builds.size(), 3u);
    EXPECT_EQ(NewsUrl, "http://news.example/second");

    EXPECT_TRUE(CatalogueGamePicked(0, view_, codec));
    EXPECT_EQ(LauncherConfig.GameNamePosition, 1);

    // Picking a build keeps the game, rereads everything and reruns the check.
    view_.calls.clear();
    CatalogueBuildPicked(0, 1, view_, codec);
    EXPECT_EQ(LauncherConfig.GameNamePosition, 1);
    EXPECT_EQ(LauncherConfig.GameVersionPosition, 2);
    EXPECT_EQ(view_.selectedBuild, 1);
    EXPECT_EQ(view_.calls.back(), "version check");

    // With no game selected the positions fall back to the first game.
    CatalogueBuildPicked(-1, 0, view_, codec);
    EXPECT_EQ(LauncherConfig.GameNamePosition, 1);
    EXPECT_EQ(LauncherConfig.GameVersionPosition, 1);
}

}  // namespace
}  // namespace orv
