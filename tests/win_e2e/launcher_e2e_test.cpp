// The real Orvanta.exe as a player meets it: started from a game folder holding a published demo
// build, against nginx at the launcher's built-in update server address, and driven from outside
// through its windows (lists read, a nickname typed, Play clicked, boxes answered). The fake loader
// and game record how they were started.
//
// Run by tests/e2e/win_launcher.sh, which publishes the demo build, lays out the game folder and
// starts or stops the server around the cases. It passes:
//   ORVANTA_EXE        the launcher (host path)
//   ORVANTA_DEMO_GAME  a game folder with the demo build and no launcher (host path)
//   ORVANTA_ARTEFACTS  where screenshots go (host path)
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "game_profile.h"
#include "launcher/about_text.h"
#include "launcher/base/app_state.h"
#include "launcher/base/texts.h"
#include "launcher/config/ini_file.h"
#include "launcher/language_menu.h"
#include "launcher/main_window/layout_win.h"
#include "launcher/main_window/menus_win.h"
#include "launcher/platform/wide_win.h"
#include "support/test_files.h"
#include "tools/ui_driver/ui_driver_win.h"
#include "win/fake_records.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;

constexpr auto kTimeout = 20s;

std::string CatalogueAddress() { return std::string(UpdateServerBase) + GameCode + "/inf.ini"; }

// The control rectangles of the main window's layout that the driver needs.
constexpr RECT kGameList{23, 407, 23 + 237, 407 + 24};
constexpr RECT kBuildList{23, 451, 23 + 237, 451 + 24};
constexpr RECT kNickname{307, 409, 307 + 131, 409 + 24};
constexpr RECT kPlay{607, 472, 607 + 78, 472 + 79};
constexpr RECT kCheck{459, 502, 459 + 117, 502 + 52};
constexpr RECT kNewsPanel{0, 0, 700, 386};
constexpr RECT kServerBrowser{458, 407, 458 + 152, 407 + 52};

// The demo build is published as game version 34 / 7545.
const std::string kUpdateQuestion = "Вышла новая версия игры = 34 up7545 Выполнить обновление?";

// Every file below `root` (relative paths with "\\"), and its bytes.
std::map<std::string, std::string> FilesBelow(const std::string& root) {
    std::map<std::string, std::string> files;
    const std::filesystem::path base = test::FsPath(root);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(base)) {
        const std::string relative = Narrow(std::filesystem::relative(entry.path(), base).wstring());
        files[relative + (entry.is_directory() ? "\\" : "")] =
            entry.is_directory() ? std::string() : test::ReadFile(Narrow(entry.path().wstring()));
    }
    return files;
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

class LauncherEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        exe_ = test::HostPathFromEnvironment("ORVANTA_EXE");
        const std::string demo = test::HostPathFromEnvironment("ORVANTA_DEMO_GAME");
        ASSERT_FALSE(exe_.empty()) << "ORVANTA_EXE is not set";
        ASSERT_FALSE(demo.empty()) << "ORVANTA_DEMO_GAME is not set";
        std::filesystem::copy(test::FsPath(demo), test::FsPath(game_.Path()),
                              std::filesystem::copy_options::recursive);
        ASSERT_TRUE(::CopyFileW(Wide(exe_).c_str(), Wide(game_.File("Orvanta.exe")).c_str(), FALSE));
    }

    std::unique_ptr<ChildProcess> StartLauncher(const std::string& arguments = "") {
        return std::make_unique<ChildProcess>(game_.File("Orvanta.exe"), arguments, game_.Path());
    }

    // Waits for the launcher's next message box, checks that it shows `text` and presses `button`.
    void Answer(const ChildProcess& launcher, const std::string& text, int button) {
        const HWND box = test::WaitForWindow([&] { return test::FindDialogOf(launcher.Id()); }, kTimeout);
        ASSERT_NE(box, nullptr) << "no message box with: " << text;
        const std::vector<std::string> texts = test::ControlTexts(box);
        EXPECT_TRUE(Contains(texts, text)) << ::testing::PrintToString(texts);
        ASSERT_TRUE(test::PressButton(box, button));
        ASSERT_NE(test::WaitForWindow([&] { return ::IsWindow(box) ? nullptr : box; }, kTimeout), nullptr)
            << "the box did not close";
    }

    HWND WaitForMainWindow(const ChildProcess& launcher) {
        return test::WaitForWindow([&] { return test::FindWindowOf(launcher.Id(), "TForm1"); }, kTimeout);
    }

    // Saves a screenshot of the window as a PNG artefact (the script converts the BMP).
    void Shot(HWND window, const std::string& name, bool activate = true) {
        const std::string folder = test::HostPathFromEnvironment("ORVANTA_ARTEFACTS");
        if (folder.empty()) return;
        EXPECT_TRUE(test::SaveWindowShot(window, folder + "\\" + name + ".bmp", activate)) << name;
    }

    // After its last box the run saves the settings and the profile (each through a temporary file)
    // and puts the window back to idle, the check button last: the folder is read once that is done.
    void WaitForIdle(HWND window) {
        const ControlLayout& check = LayoutOf(MainControl::Image_Button_Check);
        const RECT checkBounds{check.left, check.top, check.left + check.width, check.top + check.height};
        ASSERT_NE(test::WaitForWindow(
                      [&] {
                          const HWND button = test::ChildWithBounds(window, "Orvanta.Picture", checkBounds);
                          return button && ::IsWindowVisible(button) ? button : nullptr;
                      },
                      kTimeout),
                  nullptr)
            << "the window did not go back to idle";
    }

    // Every file and folder of the demo build is in the game folder, byte for byte.
    void ExpectTheBuild() {
        const auto expected = FilesBelow(test::HostPathFromEnvironment("ORVANTA_DEMO_GAME"));
        const auto found = FilesBelow(game_.Path());
        for (const auto& [path, bytes] : expected) {
            const auto file = found.find(path);
            ASSERT_NE(file, found.end()) << path << " is missing after the repair";
            EXPECT_TRUE(file->second == bytes) << path << " differs from the build";
        }
    }

    test::TempDir game_;
    std::string exe_;
};

TEST_F(LauncherEndToEnd, OfflineStartShowsTheMessageAndThePlaceholderLists) {
    auto launcher = StartLauncher();
    const HWND box = test::WaitForWindow([&] { return test::FindDialogOf(launcher->Id()); }, kTimeout);
    ASSERT_NE(box, nullptr) << "no offline message";
    EXPECT_TRUE(Contains(test::ControlTexts(box), "Ошибка загрузки " + CatalogueAddress() +
                                                      " видимо сервер недоступен, либо интернет не работает"))
        << ::testing::PrintToString(test::ControlTexts(box));
    ASSERT_TRUE(test::PressButton(box, IDOK));

    const HWND window = WaitForMainWindow(*launcher);
    ASSERT_NE(window, nullptr);
    const HWND games = test::ChildWithBounds(window, "ComboBox", kGameList);
    ASSERT_NE(games, nullptr);
    // One placeholder game; the lists are locked and the check button is gone.
    EXPECT_EQ(test::ComboItems(games).size(), 1u);
    EXPECT_FALSE(::IsWindowEnabled(games));
    const HWND check = test::ChildWithBounds(window, "Orvanta.Picture", kCheck);
    ASSERT_NE(check, nullptr);
    EXPECT_FALSE(::IsWindowVisible(check));
    EXPECT_TRUE(test::Exists(game_.File("inf.ini")));
    Shot(window, "main-window-offline");

    ::PostMessageW(window, WM_CLOSE, 0, 0);
    const auto code = launcher->WaitForExit(kTimeout);
    ASSERT_TRUE(code.has_value()) << "the launcher did not end when its window closed";
    EXPECT_EQ(*code, 0u);
}

TEST_F(LauncherEndToEnd, PlayStartsTheLoaderWithTheProfileAndTheLauncherEnds) {
    auto launcher = StartLauncher();
    const HWND window = WaitForMainWindow(*launcher);
    ASSERT_NE(window, nullptr) << "no main window";
    // A new game folder has no installed version: the update is offered, and declined.
    Answer(*launcher, kUpdateQuestion, IDNO);
    Answer(*launcher, "Вы можете отключить оповещение о новой версии в настройках.", IDOK);

    // The lists show the published catalogue.
    const HWND games = test::ChildWithBounds(window, "ComboBox", kGameList);
    const HWND builds = test::ChildWithBounds(window, "ComboBox", kBuildList);
    ASSERT_TRUE(games && builds);
    EXPECT_EQ(test::ComboItems(games), std::vector<std::string>{"Counter-Strike: Source"});
    EXPECT_EQ(test::ComboItems(builds), std::vector<std::string>{"Demo build"});
    EXPECT_EQ(test::ComboSelection(games), 0);
    EXPECT_EQ(test::ComboSelection(builds), 0);
    EXPECT_EQ(test::TextOf(window), std::string(GameShortTitle) + TextIn(TextId::MainCaptionSuffix, UiRussian));
    Shot(window, "main-window-russian");

    const HWND nickname = test::ChildWithBounds(window, "Edit", kNickname);
    ASSERT_NE(nickname, nullptr);
    ASSERT_TRUE(test::SetEditText(nickname, "Tester"));

    // The language menu's "English" entry translates the window.
    const auto english = std::find_if(LanguageEntries.begin(), LanguageEntries.end(),
                                      [](const char* name) { return std::string(name) == "English"; });
    ASSERT_NE(english, LanguageEntries.end());
    ASSERT_TRUE(test::ChooseMenuCommand(window, menu_ids::FirstLanguage +
                                                    static_cast<int>(english - LanguageEntries.begin())));
    const std::string englishCaption = std::string(GameShortTitle) + TextIn(TextId::MainCaptionSuffix, UiEnglish);
    EXPECT_NE(test::WaitForWindow([&] { return test::TextOf(window) == englishCaption ? window : nullptr; }, kTimeout),
              nullptr);
    Shot(window, "main-window-english");

    const HWND play = test::ChildWithBounds(window, "Orvanta.Picture", kPlay);
    ASSERT_NE(play, nullptr);
    EXPECT_TRUE(::IsWindowEnabled(play));
    ASSERT_TRUE(test::ClickControl(play));
    const auto code = launcher->WaitForExit(kTimeout);
    ASSERT_TRUE(code.has_value()) << "the launcher did not close after Play";
    EXPECT_EQ(*code, 0u);

    const auto records = test::WaitForFakeRecords(game_.File("revLoader.log"), 1, kTimeout);
    ASSERT_EQ(records.size(), 1u) << "the loader was not started";
    EXPECT_EQ(records[0].Get("rev.ini from"), "working folder");
    const IniDocument profile(records[0].Get("rev.ini"));
    EXPECT_EQ(profile.Get("steamclient", "PlayerName", ""), "Tester");
    EXPECT_EQ(profile.Get("Emulator", "Language", ""), "English");
    EXPECT_EQ(profile.Get("Loader", "ProcName", ""), std::string(GameCommandPrefix) + " -console -novid");
    // The choices are kept for the next start.
    const IniDocument settings(test::ReadFile(game_.File(SettingsFileName)));
    EXPECT_EQ(settings.Get("GameSettings", "GameLanguage", ""), "English");
}

TEST_F(LauncherEndToEnd, TheNewsPanelServerBrowserAboutBoxAndTrayWorkWithoutARenderingEngine) {
    // The test prefix has no rendering engine (mshtml disabled): the launcher must start anyway.
    const auto started = std::chrono::steady_clock::now();
    auto launcher = StartLauncher();
    const HWND window = WaitForMainWindow(*launcher);
    ASSERT_NE(window, nullptr) << "no main window";
    Answer(*launcher, kUpdateQuestion, IDNO);
    Answer(*launcher, "Вы можете отключить оповещение о новой версии в настройках.", IDOK);
    const HWND nickname = test::ChildWithBounds(window, "Edit", kNickname);
    ASSERT_NE(nickname, nullptr);
    ASSERT_TRUE(test::WaitForPostedMessages(nickname, kTimeout)) << "the launcher does not respond";
    std::printf("[ measured ] start to a responsive window without a rendering engine: %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - started)
                                           .count()));
    // The news panel is the real control: its window lies inside the panel.
    const HWND news = test::ChildWithBounds(window, "Orvanta.WebBrowser", kNewsPanel);
    ASSERT_NE(news, nullptr);
    EXPECT_FALSE(test::ChildWindows(news).empty()) << "no browser control in the news panel";

    // The about box, byte for byte, in both languages.
    ASSERT_TRUE(test::ChooseMenuCommand(window, menu_ids::About));
    HWND about = test::WaitForWindow([&] { return test::FindDialogOf(launcher->Id()); }, kTimeout);
    ASSERT_NE(about, nullptr) << "no about box";
    EXPECT_TRUE(Contains(test::ControlTexts(about), AboutText(UiRussian)))
        << ::testing::PrintToString(test::ControlTexts(about));
    EXPECT_EQ(test::TextOf(about), "Orvanta");
    Shot(about, "about-box-russian");
    ASSERT_TRUE(test::PressButton(about, IDOK));
    ASSERT_NE(test::WaitForWindow([&] { return ::IsWindow(about) ? nullptr : about; }, kTimeout), nullptr);

    // The server browser: made on the first click, the same window on the next.
    const HWND button = test::ChildWithBounds(window, "Orvanta.Picture", kServerBrowser);
    ASSERT_NE(button, nullptr);
    HWND servers = nullptr;
    for (int click = 0; click < 2; ++click) {
        ASSERT_TRUE(test::ClickControl(button));
        const HWND shown = test::WaitForWindow(
            [&] { return test::FindWindowOf(launcher->Id(), "TForm_ServerList", "Server Browser"); }, kTimeout);
        ASSERT_NE(shown, nullptr) << "no server browser at click " << click;
        if (click == 0) {
            servers = shown;
            EXPECT_FALSE(test::ChildWindows(shown).empty());
            EXPECT_FALSE(::IsWindowEnabled(window)) << "not modal";
            Shot(shown, "server-browser");
        }
        EXPECT_EQ(shown, servers) << "a second server browser";
        ::PostMessageW(shown, WM_CLOSE, 0, 0);
        ASSERT_NE(test::WaitForWindow([&] { return ::IsWindowVisible(shown) ? nullptr : shown; }, kTimeout), nullptr);
        ASSERT_NE(test::WaitForWindow([&] { return ::IsWindowEnabled(window) ? window : nullptr; }, kTimeout), nullptr);
    }

    const auto english = std::find_if(LanguageEntries.begin(), LanguageEntries.end(),
                                      [](const char* name) { return std::string(name) == "English"; });
    ASSERT_TRUE(test::ChooseMenuCommand(window, menu_ids::FirstLanguage +
                                                    static_cast<int>(english - LanguageEntries.begin())));
    ASSERT_TRUE(test::ChooseMenuCommand(window, menu_ids::About));
    about = test::WaitForWindow([&] { return test::FindDialogOf(launcher->Id()); }, kTimeout);
    ASSERT_NE(about, nullptr) << "no English about box";
    EXPECT_TRUE(Contains(test::ControlTexts(about), AboutText(UiEnglish)))
        << ::testing::PrintToString(test::ControlTexts(about));
    Shot(about, "about-box-english");
    ASSERT_TRUE(test::PressButton(about, IDOK));
    ASSERT_NE(test::WaitForWindow([&] { return ::IsWindow(about) ? nullptr : about; }, kTimeout), nullptr);

    // Minimised into the tray, back with a left click; then out through the tray menu.
    const auto hidden = [&] { return ::IsWindowVisible(window) ? nullptr : window; };
    const auto shown = [&] { return ::IsWindowVisible(window) ? window : nullptr; };
    ::PostMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_NE(test::WaitForWindow(hidden, kTimeout), nullptr) << "not hidden in the tray";
    EXPECT_FALSE(::IsIconic(window));
    ::PostMessageW(window, WM_USER + 1, 1, WM_LBUTTONUP);
    ASSERT_NE(test::WaitForWindow(shown, kTimeout), nullptr) << "not restored";
    ::PostMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_NE(test::WaitForWindow(hidden, kTimeout), nullptr);
    // Without a window manager Wine closes a pop-up menu whose owner is hidden when focus events
    // from the X server happen to cross it; the player would click the icon again, and so does
    // the test, a few times at most.
    std::optional<DWORD> code;
    bool menuSeen = false;
    for (int attempt = 0; attempt < 3 && !code; ++attempt) {
        ::PostMessageW(window, WM_USER + 1, 1, WM_RBUTTONUP);
        const HWND menu = test::WaitForWindow([&] { return test::FindWindowOf(launcher->Id(), "#32768"); }, 5s);
        if (!menu) continue;
        if (!menuSeen) Shot(menu, "tray-menu", false);
        menuSeen = true;
        ::PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
        ::PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
        code = launcher->WaitForExit(5s);
    }
    ASSERT_TRUE(menuSeen) << "no tray menu";
    ASSERT_TRUE(code.has_value()) << "\"Выход\" did not end the launcher";
    EXPECT_EQ(*code, 0u);
}

TEST_F(LauncherEndToEnd, AConnectLinkRestartsTheGameConnectedAndEndsTheRunningLauncher) {
    ChildProcess game(game_.File("hl2.exe"), "", game_.Path());
    ASSERT_EQ(test::WaitForFakeRecords(game_.File("hl2.log"), 1, kTimeout).size(), 1u);
    auto first = StartLauncher();
    ASSERT_NE(WaitForMainWindow(*first), nullptr);

    // What the shell runs for vtlcstrike://1.2.3.4:27015/ ("%1" unquoted, so split at its blank).
    auto link = StartLauncher("vtlcstrike:// 1.2.3.4:27015/");
    const auto linkCode = link->WaitForExit(kTimeout);
    ASSERT_TRUE(linkCode.has_value()) << "the connect-link start did not end";
    EXPECT_TRUE(first->WaitForExit(kTimeout).has_value()) << "the running launcher was not ended";
    EXPECT_TRUE(game.WaitForExit(kTimeout).has_value()) << "the running game was not ended";

    const auto records = test::WaitForFakeRecords(game_.File("revLoader.log"), 1, kTimeout);
    ASSERT_EQ(records.size(), 1u) << "the loader was not started";
    const std::string procName = IniDocument(records[0].Get("rev.ini")).Get("Loader", "ProcName", "");
    EXPECT_EQ(procName, std::string(GameCommandPrefix) + " -console -novid +connect 1.2.3.4:27015");
}

TEST_F(LauncherEndToEnd, TheUpdateQuestionRepairsADamagedFolderToThePublishedBuild) {
    // Damage: a missing map, a texture with one byte changed, a config folder gone, a read-only
    // file that is good, and an empty file that has grown.
    ::DeleteFileW(Wide(game_.File("cstrike\\maps\\de_demo.bsp")).c_str());
    std::string texture = test::ReadFile(game_.File("cstrike\\materials\\demo\\crate.vtf"));
    texture[texture.size() / 2] ^= 0x5A;
    test::WriteFile(game_.File("cstrike\\materials\\demo\\crate.vtf"), texture);
    std::filesystem::remove_all(test::FsPath(game_.File("cstrike\\cfg")));
    test::SetReadOnly(game_.File("cstrike\\gameinfo.txt"), true);
    test::WriteFile(game_.File("cstrike\\mine.txt"), "the player's own file");

    auto launcher = StartLauncher();
    const HWND window = WaitForMainWindow(*launcher);
    ASSERT_NE(window, nullptr) << "no main window";
    Answer(*launcher, kUpdateQuestion, IDYES);
    Answer(*launcher, "Проверка файлов прошла успешно", IDOK);
    WaitForIdle(window);

    // Every file and folder of the build is back, byte for byte; the player's own file stays.
    ExpectTheBuild();
    const auto repaired = FilesBelow(game_.Path());
    EXPECT_EQ(test::ReadFile(game_.File("cstrike\\mine.txt")), "the player's own file");
    // Nothing of the run is left behind.
    for (const auto& [path, bytes] : repaired) {
        EXPECT_EQ(path.find(".lzma"), std::string::npos) << path;
        EXPECT_EQ(path.find(".dim"), std::string::npos) << path;
    }
    // The version is recorded: the next start asks nothing.
    const IniDocument settings(test::ReadFile(game_.File(SettingsFileName)));
    EXPECT_EQ(settings.Get("cstrikeClientVersion", "BaseVersion", ""), "34");
    EXPECT_EQ(settings.Get("cstrikeClientVersion", "BuildVersion", ""), "7545");
    Shot(window, "main-window-after-repair");

    ::PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(launcher->WaitForExit(kTimeout).has_value());
    auto again = StartLauncher();
    const HWND second = WaitForMainWindow(*again);
    ASSERT_NE(second, nullptr);
    // The question is posted before the window shows. Once the launcher has handled what was posted
    // before now, its box would exist, shown or not.
    const HWND nickname = test::ChildWithBounds(second, "Edit", kNickname);
    ASSERT_NE(nickname, nullptr);
    ASSERT_TRUE(test::WaitForPostedMessages(nickname, kTimeout));
    EXPECT_EQ(test::AnyDialogOf(again->Id()), nullptr) << "asked again after a complete repair";
    ::PostMessageW(second, WM_CLOSE, 0, 0);
    EXPECT_TRUE(again->WaitForExit(kTimeout).has_value());
}

// The same question against a signed copy of the server whose catalogue sends the game files
// through a LAN cache in front of it (tests/rig/nginx.sh's caching proxy, which keeps whatever it
// fetched once). The script passes besides:
//   ORVANTA_KEYED_EXE   this build's launcher with the tests' publisher key (host path)
//   ORVANTA_CACHE_LOG   the cache's log: the user agent and the request line of every request
//   ORVANTA_FORGED_MAP  for the forgery cases: the map as the origin and the cache now serve it,
//                       other bytes of the same size and CRC-32 (host path)
const char* const kMap = "cstrike\\maps\\de_demo.bsp";

class SignedRepairEndToEnd : public LauncherEndToEnd {
protected:
    void UseKeyedLauncher() {
        const std::string keyed = test::HostPathFromEnvironment("ORVANTA_KEYED_EXE");
        ASSERT_FALSE(keyed.empty()) << "ORVANTA_KEYED_EXE is not set";
        ASSERT_TRUE(::CopyFileW(Wide(keyed).c_str(), Wide(game_.File("Orvanta.exe")).c_str(), FALSE));
    }

    // One byte of the map changed, so that the run fetches it; the damaged bytes are returned.
    std::string DamageMap() {
        std::string map = test::ReadFile(game_.File(kMap));
        map[map.size() / 2] ^= 0x5A;
        test::WriteFile(game_.File(kMap), map);
        return map;
    }

    std::string RecordedBuildVersion() {
        const std::string path = game_.File(SettingsFileName);
        if (!test::Exists(path)) return "";
        return IniDocument(test::ReadFile(path)).Get("cstrikeClientVersion", "BuildVersion", "");
    }
};

TEST_F(SignedRepairEndToEnd, AKeyedLauncherRepairsThroughALanCacheToThePublishedBuild) {
    UseKeyedLauncher();
    ::DeleteFileW(Wide(game_.File(kMap)).c_str());
    std::string texture = test::ReadFile(game_.File("cstrike\\materials\\demo\\crate.vtf"));
    texture[texture.size() / 3] ^= 0x5A;
    test::WriteFile(game_.File("cstrike\\materials\\demo\\crate.vtf"), texture);

    auto launcher = StartLauncher();
    const HWND window = WaitForMainWindow(*launcher);
    ASSERT_NE(window, nullptr) << "no main window";
    Answer(*launcher, kUpdateQuestion, IDYES);
    Answer(*launcher, "Проверка файлов прошла успешно", IDOK);
    WaitForIdle(window);
    ExpectTheBuild();
    EXPECT_EQ(RecordedBuildVersion(), "7545");
    // The files came from the cache, not from the update server's own address.
    const std::string log = test::ReadFile(test::HostPathFromEnvironment("ORVANTA_CACHE_LOG"));
    for (const char* file : {"/cstrike/demo/cstrike/maps/de_demo.bsp.lzma ",
                             "/cstrike/demo/cstrike/materials/demo/crate.vtf.lzma "})
        EXPECT_NE(log.find(std::string("GET ") + file), std::string::npos) << file << " not through the cache:\n" << log;

    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(launcher->WaitForExit(kTimeout).has_value());
}

TEST_F(SignedRepairEndToEnd, AKeyedLauncherKeepsItsOwnFileWhenTheCacheServesAForgery) {
    UseKeyedLauncher();
    const std::string damaged = DamageMap();

    auto launcher = StartLauncher();
    ASSERT_NE(WaitForMainWindow(*launcher), nullptr) << "no main window";
    Answer(*launcher, kUpdateQuestion, IDYES);
    Answer(*launcher, "Файл \\" + std::string(kMap) + " с сервера не совпадает с подписью издателя", IDOK);
    // The file was not put in place, as for any file that does not unpack: the player stops here.
    Answer(*launcher, "Error while unpacking the file, what should I do ??", IDABORT);
    ASSERT_TRUE(launcher->WaitForExit(kTimeout).has_value()) << "the launcher did not close after the refusal";

    EXPECT_TRUE(test::ReadFile(game_.File(kMap)) == damaged) << "the map was replaced";
    EXPECT_EQ(RecordedBuildVersion(), "") << "a folder with a refused file was recorded as the build";
}

// Without a key the size and the CRC-32 are all that is checked: the forgery passes, which is what
// the key is for.
TEST_F(SignedRepairEndToEnd, AnUnkeyedLauncherTakesAForgeryOfTheSameSizeAndCrc) {
    DamageMap();
    const std::string forged = test::ReadFile(test::HostPathFromEnvironment("ORVANTA_FORGED_MAP"));
    ASSERT_FALSE(forged.empty()) << "ORVANTA_FORGED_MAP is not set";

    auto launcher = StartLauncher();
    const HWND window = WaitForMainWindow(*launcher);
    ASSERT_NE(window, nullptr) << "no main window";
    Answer(*launcher, kUpdateQuestion, IDYES);
    Answer(*launcher, "Проверка файлов прошла успешно", IDOK);
    WaitForIdle(window);
    EXPECT_TRUE(test::ReadFile(game_.File(kMap)) == forged) << "the forgery was not installed";

    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(launcher->WaitForExit(kTimeout).has_value());
}

}  // namespace
}  // namespace orv
