// The main window's creation sequence with the Win32 services: real files and attributes, the real
// registry, the real probe against a port nobody listens on, and the fake loader started through
// the shell for a connect link. Only ending processes and ending the application are recorded
// instead of done.
#include "launcher/startup_sequence_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "fake_records.h"
#include "game_profile.h"
#include "gui_test_support.h"
#include "launcher/base/app_state.h"
#include "launcher/catalogue_reader.h"
#include "launcher/config/ini_file.h"
#include "launcher/config/launcher_settings.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/net/download_win.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/system_codepage_win.h"
#include "launcher/platform/wide_win.h"
#include "launcher/url_scheme_win.h"
#include "support/test_files.h"

namespace orv {
namespace {

using namespace std::chrono_literals;

// Port 1 on the loopback: refused at once.
constexpr const char* kUnreachableCatalogue = "http://127.0.0.1:1/cstrike/inf.ini";

class NullView : public CatalogueView {
public:
    void LoadNews(const NewsPageRequest& request) override { offlinePage = request.offlinePage; }
    void ShowGames(const std::vector<std::string>& names, int) override { games = names; }
    void ShowBuilds(const std::vector<std::string>&, int) override {}
    void RestrictToOffline() override { restricted = true; }
    void RunGameVersionCheck() override {}

    bool offlinePage = false;
    bool restricted = false;
    std::vector<std::string> games;
};

class StartupSequenceWinTest : public ::testing::Test {
protected:
    void SetUp() override {
        OfflineMode = false;
        ForceUpdateRequested = false;
        CreationFinished = false;
        UiLanguage = UiRussian;
        exe_ = dir_.File("Orvanta.exe");
        platform_ = SystemStartupPlatform();
        // The update server is simulated: it answers and serves a catalogue of the current version.
        platform_.probeUrl = [](const std::string&) { return true; };
        platform_.downloadFile = [](const std::string&, const std::string& path) {
            test::WriteFile(path, "[osn]\r\nver=" + std::string(LauncherVersion) + "\r\nkolnaz=1\r\n[naz1]\r\nnaz=game\r\n");
            return true;
        };
        platform_.connect.killProcessByName = [this](const std::string& name) {
            events_.push_back("kill " + name);
            return 1;
        };
        platform_.connect.terminateApplication = [this] { events_.push_back("terminate"); };
    }
    void TearDown() override {
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, Wide(UrlSchemeName()).c_str());
        GameFolder = folder_;
        LauncherConfig = config_;
        UiLanguage = language_;
        OfflineMode = offline_;
        ForceUpdateRequested = force_;
        CreationFinished = finished_;
        LzmaAloneInstance = lzma_;
    }

    StartupResult Run(const std::string& argument2 = "") {
        StartupContext context{exe_, {exe_}, {}};
        if (!argument2.empty()) context.arguments = {exe_, "vtlcstrike://", argument2};
        return RunFormCreate(context, StartupWindowHooks{}, platform_);
    }
    std::string ProcName() const {
        return IniDocument(test::ReadFile(dir_.File("rev.ini"))).Get("Loader", "ProcName", "<missing>");
    }
    std::string PlainProcName() const { return std::string(GameCommandPrefix) + " " + LauncherConfig.GameProcName; }

    test::TempDir dir_;
    std::string exe_;
    StartupPlatform platform_;
    std::vector<std::string> events_;

private:
    std::string folder_ = GameFolder;
    LauncherSettings config_ = LauncherConfig;
    int language_ = UiLanguage;
    bool offline_ = OfflineMode;
    bool force_ = ForceUpdateRequested;
    bool finished_ = CreationFinished;
    TLZMAAlone* lzma_ = LzmaAloneInstance;
};

TEST_F(StartupSequenceWinTest, FirstStartWithAReadOnlyHiddenRevIniMakesItWritableAndTakesItsValues) {
    const std::string profile = dir_.File("rev.ini");
    test::WriteFile(profile,
                    "[Emulator]\r\nLanguage=English\r\n[steamclient]\r\nPlayerName=Rev\r\nClanTag=revclan\r\n"
                    "[Loader]\r\nProcName=hl2.exe +connect 1.2.3.4:27015\r\n");
    ASSERT_TRUE(::SetFileAttributesW(Wide(profile).c_str(),
                                     FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    test::RecordedMessages messages;

    const StartupResult r = Run();
    EXPECT_TRUE(r.finished) << r.error;
    EXPECT_TRUE(messages.Seen().empty());
    EXPECT_EQ(::GetFileAttributesW(Wide(profile).c_str()) &
                  (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
              0u);
    EXPECT_EQ(GameFolder, dir_.Path());
    EXPECT_EQ(LauncherConfig.GameLanguage, "English");
    EXPECT_EQ(LauncherConfig.GamePlayerName, "Rev");
    EXPECT_EQ(LauncherConfig.GameClanTag, "revclan");
    EXPECT_EQ(ProcName(), PlainProcName());
    EXPECT_FALSE(SelfUpdateNeeded);

    // The scheme points at this launcher.
    wchar_t command[512] = {};
    LONG size = sizeof(command);
    ASSERT_EQ(::RegQueryValueW(HKEY_CLASSES_ROOT, Wide(UrlSchemeName() + "\\shell\\open\\command").c_str(), command,
                               &size),
              ERROR_SUCCESS);
    EXPECT_EQ(Narrow(command), "\"" + exe_ + "\" %1");
}

TEST_F(StartupSequenceWinTest, FirstStartWithoutRevIniWritesOnlyThePlainCommandLine) {
    test::RecordedMessages messages;
    EXPECT_TRUE(Run().finished);
    EXPECT_EQ(LauncherConfig.GameClanTag, "vtl");
    EXPECT_EQ(LauncherConfig.GameProcName, "-console -novid");
    EXPECT_EQ(LauncherConfig.GamePlayerName, DefaultPlayerName());
    EXPECT_EQ(test::ReadFile(dir_.File("rev.ini")), "[Loader]\r\nProcName=" + PlainProcName() + "\r\n");
    EXPECT_FALSE(test::Exists(LauncherSettingsPath()));
}

TEST_F(StartupSequenceWinTest, AnUnreachableServerGivesTheOfflineMessageAndThenThePlaceholderAtTheFirstShow) {
    platform_.probeUrl = [](const std::string&) { return ProbeUrl(kUnreachableCatalogue); };
    test::RecordedMessages messages;
    EXPECT_TRUE(Run().finished);
    EXPECT_TRUE(OfflineMode);
    ASSERT_EQ(messages.Seen().size(), 1u);
    EXPECT_EQ(messages.Seen()[0].text,
              "Ошибка загрузки " + CatalogueUrl() + " видимо сервер недоступен, либо интернет не работает");
    EXPECT_FALSE(test::Exists(dir_.File("inf.ini")));

    NullView view;
    chtenie(LauncherConfig.GameNamePosition, LauncherConfig.GameVersionPosition, view, SystemAnsiCodec());
    EXPECT_TRUE(test::Exists(dir_.File("inf.ini")));
    EXPECT_TRUE(view.offlinePage);
    EXPECT_TRUE(view.restricted);
    EXPECT_EQ(view.games.size(), 1u);
}

TEST_F(StartupSequenceWinTest, ForceUpdateLeavesProcNameAndANormalStartAfterAConnectStartResetsIt) {
    const std::string loader = dir_.File("revLoader.exe");
    const std::string source = test::TestProgramFolder() + "\\revLoader.exe";
    ASSERT_TRUE(::CopyFileW(Wide(source).c_str(), Wide(loader).c_str(), FALSE)) << source;
    test::RecordedMessages messages;

    const StartupResult connect = Run("1.2.3.4:27015/");
    EXPECT_TRUE(connect.finished) << connect.error;
    EXPECT_EQ(connect.connect, ConnectOutcome::Started);
    const std::string connectLine = PlainProcName() + " +connect 1.2.3.4:27015";
    EXPECT_EQ(ProcName(), connectLine);
    EXPECT_EQ(events_, (std::vector<std::string>{"kill " + std::string(GameExeName), "kill Orvanta.exe", "terminate"}));
    // The shell started the loader from the game folder, and it found the connect line.
    const auto records = test::WaitForFakeRecords(dir_.File("revLoader.log"), 1, 10s);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(IniDocument(records[0].Get("rev.ini")).Get("Loader", "ProcName", ""), connectLine);

    EXPECT_TRUE(Run("forceupdate").finished);
    EXPECT_TRUE(ForceUpdateRequested);
    EXPECT_EQ(ProcName(), connectLine);

    EXPECT_TRUE(Run().finished);
    EXPECT_EQ(ProcName(), PlainProcName());
    EXPECT_TRUE(messages.Seen().empty());
}

}  // namespace
}  // namespace orv
