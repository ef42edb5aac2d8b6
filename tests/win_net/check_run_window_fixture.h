// The real main window in a temporary game folder, its check run against nginx serving a build
// published by the publisher: what the check run's window tests share. Run through
// tests/rig/with-servers.sh.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "launcher/base/app_state.h"
#include "launcher/config/launcher_settings.h"
#include "launcher/integrity/check_run.h"
#include "launcher/integrity/check_run_platform_win.h"
#include "launcher/main_window/check_win.h"
#include "launcher/main_window/main_window_win.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/files.h"
#include "launcher/ui/message_loop_win.h"
#include "launcher/ui/web_view.h"
#include "launcher/windows/form_settings_win.h"
#include "support/process_state.h"
#include "support/test_files.h"
#include "tools/publish.h"
#include "win/fake_records.h"
#include "win/gui_test_support.h"

namespace orv {

inline std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

class SilentView : public WebView {
public:
    void Navigate(const std::string&, bool) override {}
    void Stop() override {}
    std::string DefaultUserAgent() override { return "Agent"; }
    void SetUserAgent(const std::string&) override {}
    void WriteHtml(const std::string&) override {}
};

class CheckRunWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (Env("ORVANTA_NGINX_URL").empty()) GTEST_SKIP() << "run through tests/rig/with-servers.sh";
        test::EnsureApplication();
        ResetApplicationTermination();
        UiLanguage = UiRussian;
        savedStop_ = StopFlag;
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        serverBase_ = Env("ORVANTA_NGINX_URL") + "check-" + name + "/";
        serverRoot_ = "Z:" + Env("ORVANTA_NGINX_ROOT") + "/check-" + name;
        files_ = {
            {"hl2.exe", test::MakeData(150000, 1, false)},
            {"cstrike\\maps\\de_dust2.bsp", test::MakeData(400000, 2, true)},
            {"cstrike\\cfg\\autoexec.cfg", "bind w +forward\r\n"},
            {"cstrike\\cfg\\empty.cfg", ""},
            {"cstrike\\new\\deeper\\inner.txt", "nested"},
            {"bin\\client.dll", test::MakeData(5000, 3, false)},
        };
        for (const auto& [relative, bytes] : files_) {
            const std::string path = build_.File(relative);
            CreateDirectories(path.substr(0, path.find_last_of('\\')));
            test::WriteFile(path, bytes);
        }
        publish_.buildDir = build_.Path();
        publish_.serverRoot = serverRoot_;
        publish_.serverBase = serverBase_;
        publish_.gameName = "Counter-Strike: Source";
        publish_.buildName = "Build 34";
        publish_.checklistName = "css34";
        publish_.downloadPath = "cstrike/builds/v34";
        publish_.appName = "css";
        publish_.baseVersion = "34";
        publish_.buildVersion = "7";
        publish_.jobs = 1;
        Publish();
        SetCheckRunPlatformSetup([this](CheckRunPlatform& platform) {
            platform.serverBase = serverBase_;
            if (adjust) adjust(platform);
        });
    }
    void TearDown() override {
        SetCheckRunPlatformSetup(nullptr);
        settings_.reset();
        form_.reset();
        start_.reset();
        StopFlag = savedStop_;
        UiLanguage = UiRussian;
        ResetApplicationTermination();
    }

    // Publishes the build folder again, after a test has added to it.
    void Publish() { publish::Publish(publish_, [](const std::string&) {}); }
    void PutBuild(const std::string& relative, const std::string& bytes) {
        const std::string path = build_.File(relative);
        CreateDirectories(path.substr(0, path.find_last_of('\\')));
        test::WriteFile(path, bytes);
        files_[relative] = bytes;
    }

    std::string ServerFile(const std::string& entryPath) const {
        return ServerRootFile(GameFileUrl("cstrike/builds/v34", entryPath));
    }
    std::string ServerRootFile(const std::string& relative) const { return serverRoot_ + "/" + relative; }
    std::string Game(const std::string& relative) const { return start_->File(relative); }
    void PutGame(const std::string& relative, const std::string& bytes) {
        const std::string path = Game(relative);
        CreateDirectories(path.substr(0, path.find_last_of('\\')));
        test::WriteFile(path, bytes);
    }

    // The catalogue asks for the Steam console client before each check.
    void UseSteamCmdInCatalogue() {
        const std::string path = serverRoot_ + "/" + CataloguePath();
        std::string catalogue = test::ReadFile(path);
        const std::string section = "[cssserverversion]\r\n";
        const size_t at = catalogue.find(section);
        ASSERT_NE(at, std::string::npos) << catalogue;
        catalogue.insert(at + section.size(), "usesteamcmd=1\r\n");
        test::WriteFile(path, catalogue);
    }
    // The fake client where the launcher looks for it, with its script.
    std::string PutSteamCmd(const std::string& script) {
        CreateDirectories(Game("orvanta\\tools\\steamcmd"));
        test::WriteFile(Game("orvanta\\tools\\steamcmd\\steamcmd.script"), script);
        return test::CopyFakeTo("steamcmd.exe", Game("orvanta\\tools\\steamcmd\\steamcmd.exe"));
    }

    // Starts the window on the published catalogue, with the installed version the server's, so
    // that the start asks nothing; then makes the server's version a new one for the run to record.
    void Start() {
        start_ = std::make_unique<test::SimulatedStart>(
            test::SimulatedStart::Options::Serving(test::ReadFile(serverRoot_ + "/" + CataloguePath())));
        test::WriteFile(start_->File(SettingsFileName),
                  "[LauncherSettings]\r\nGlobalShowNewVersionNotification=0\r\n"
                  "[cssClientVersion]\r\nBaseVersion=34\r\nBuildVersion=7\r\n");
        form_ = std::make_unique<TForm1>();
        form_->SetNewsView(&news_);
        form_->Create();
        settings_ = std::make_unique<TForm_Settings>();
        settings_->Create(form_->Handle());
        form_->Show();
        ASSERT_TRUE(test::PumpUntil(test::NothingQueued, test::kGuiWait)) << "the start's messages kept coming";
        ASSERT_EQ(AppName, "css");
        ServerBuildVersion = "8";
        messagesBefore_ = start_->state.messages.size();
    }
    // The window is gone once a close that was asked for has been carried out.
    bool WindowClosed() const { return !(form_->HandleAllocated() && ::IsWindow(form_->Handle())); }
    std::vector<std::string> Messages() const {
        return {start_->state.messages.begin() + static_cast<ptrdiff_t>(messagesBefore_), start_->state.messages.end()};
    }
    void ExpectIdle() {
        TForm1& f = *form_;
        EXPECT_EQ(StopFlag, 1);
        EXPECT_TRUE(f.Image_Button_Check.Shown());
        EXPECT_TRUE(f.Image_Button_Check.Enabled());
        EXPECT_FALSE(f.Image_Button_Stop.Shown());
        EXPECT_TRUE(f.Image_Button_Play.Enabled());
        EXPECT_EQ(f.Image_Button_Play.Source(), f.Image_Button_Play_Static.Name());
        EXPECT_EQ(f.Image_Button_Check.Source(),
                  (UiLanguage == UiRussian ? f.Image_Button_Check_Static_RU : f.Image_Button_Check_Static_EN).Name());
        EXPECT_TRUE(f.ComboBox_GameName.Enabled());
        EXPECT_TRUE(f.ComboBox_GameVersion.Enabled());
        EXPECT_EQ(f.Image3.Width(), 417);
        EXPECT_EQ(f.Image9.Width(), 417);
        EXPECT_EQ(f.Label4.Text(), "");
        EXPECT_TRUE(settings_->Button_CleanGameFolder.Enabled());
        EXPECT_EQ(CheckThread, nullptr);
    }
    void ExpectUnchangedOrRepaired(const std::map<std::string, std::string>& expected) {
        for (const auto& [relative, bytes] : expected) {
            ASSERT_TRUE(test::Exists(Game(relative))) << relative;
            EXPECT_TRUE(test::ReadFile(Game(relative)) == bytes) << relative;
        }
    }

    std::function<void(CheckRunPlatform&)> adjust;
    std::map<std::string, std::string> files_;
    std::unique_ptr<test::SimulatedStart> start_;
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<TForm_Settings> settings_;

    test::TempDir build_;

    std::string serverBase_, serverRoot_;
    publish::PublishOptions publish_;

private:
    SilentView news_;
    size_t messagesBefore_ = 0;
    int32_t savedStop_ = 1;
};

}  // namespace orv
