// The launcher updating itself as a player meets it: the running Orvanta.exe (this build's version)
// against nginx serving a launcher release of the next version, published with orvanta-tool
// publish-launcher, together with the fake update installer. Driven from outside: the boxes are
// answered, the files of the game folder looked at, and the restarted launcher found by its window.
//
// Run by tests/e2e/win_launcher.sh after the other cases, with the release's server. It passes,
// besides what launcher_e2e_test.cpp reads:
//   ORVANTA_NEXT_EXE       the published next release, unpacked (host path)
//   ORVANTA_UPDATE_WWW     the folder nginx serves (host path); cases change and restore files there
//   ORVANTA_ACCESS_LOG     nginx's log: the user agent and the request line of every request
//   ORVANTA_KEYED_EXE      this build's launcher with the tests' update key (host path)
//   ORVANTA_NEXT_SIGNATURE the release's signature under that key, as version.txt carries it
// and, next to the served catalogue, its statement "inf.ini.sig" under the tests' key,
// "inf-installer.ini" with its statement (the same catalogue asking for the installer, signed with
// a higher version) and the installer's statement "upt.exe.sig".
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "game_profile.h"
#include "launcher/platform/scoped_win.h"
#include "launcher/platform/wide_win.h"
#include "support/test_files.h"
#include "tools/ui_driver/ui_driver_win.h"
#include "win/fake_records.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;

constexpr auto kTimeout = 30s;

const std::string kDirectWarning =
    "Ваша версия лаунчера устарела. Сейчас Вам будем загружено обновление до новой версии лаунчера.";
const std::string kInstallerQuestion =
    "Ваша версия лаунчера устарела. Загрузить установщик обновления до новой версии лаунчера?";
const std::string kFailureQuestion =
    "Произошла ошибка при автоматическом обновлении лаунчера. Перейти на страницу загрузки лаунчера, для "
    "обновления лаунчера вручную?";
const std::string kGameQuestion = "Вышла новая версия игры = 34 up7545 Выполнить обновление?";
const std::string kGameHint = "Вы можете отключить оповещение о новой версии в настройках.";
const std::string kNotSigned = "Каталог сервера обновлений " + std::string(UpdateServerBase) + GameCode +
                               "/inf.ini не подписан издателем лаунчера. Лаунчер работает без сервера.";

// A process the test did not start (the restarted launcher), ended when the test ends.
class ForeignProcess {
public:
    explicit ForeignProcess(DWORD id)
        : id_(id), handle_(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id)) {}
    ~ForeignProcess() {
        if (handle_ && ::WaitForSingleObject(handle_.Get(), 0) == WAIT_TIMEOUT) ::TerminateProcess(handle_.Get(), 1);
    }
    DWORD Id() const { return id_; }
    bool WaitForExit(std::chrono::milliseconds timeout) const {
        return handle_ && ::WaitForSingleObject(handle_.Get(), static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
    }

private:
    DWORD id_;
    ScopedHandle handle_;
};

// A visible main window of a launcher other than `except`.
HWND OtherLauncherWindow(DWORD except) {
    for (HWND w = ::FindWindowExW(nullptr, nullptr, L"TForm1", nullptr); w;
         w = ::FindWindowExW(nullptr, w, L"TForm1", nullptr)) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(w, &pid);
        if (pid != except && ::IsWindowVisible(w)) return w;
    }
    return nullptr;
}

class SelfUpdateEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string exe = test::HostPathFromEnvironment("ORVANTA_EXE");
        const std::string demo = test::HostPathFromEnvironment("ORVANTA_DEMO_GAME");
        next_ = test::HostPathFromEnvironment("ORVANTA_NEXT_EXE");
        www_ = test::HostPathFromEnvironment("ORVANTA_UPDATE_WWW");
        ASSERT_FALSE(exe.empty() || demo.empty() || next_.empty() || www_.empty())
            << "run by tests/e2e/win_launcher.sh";
        std::filesystem::copy(test::FsPath(demo), test::FsPath(game_.Path()), std::filesystem::copy_options::recursive);
        launcherBytes_ = test::ReadFile(exe);
        test::WriteFile(Exe(), launcherBytes_);
        description_ = test::ReadFile(ServerFile("version.txt"));
        catalogue_ = test::ReadFile(ServerFile("inf.ini"));
        statement_ = test::ReadFile(ServerFile("inf.ini.sig"));
        installer_ = test::ReadFile(ServerFile("upt.exe.lzma"));
    }

    void TearDown() override {
        test::WriteFile(ServerFile("version.txt"), description_);
        test::WriteFile(ServerFile("inf.ini"), catalogue_);
        test::WriteFile(ServerFile("inf.ini.sig"), statement_);
        test::WriteFile(ServerFile("upt.exe.lzma"), installer_);
    }

    // The launcher under test becomes this version built with the tests' key.
    void UseKeyedLauncher() {
        const std::string keyed = test::HostPathFromEnvironment("ORVANTA_KEYED_EXE");
        ASSERT_FALSE(keyed.empty());
        launcherBytes_ = test::ReadFile(keyed);
        test::WriteFile(Exe(), launcherBytes_);
    }

    // An installer the publisher did not sign: another program, packed as the server packs.
    void ForgeInstaller() { test::WriteFile(ServerFile("upt.exe.lzma"), test::ReadFile(ServerFile("Orvanta.exe.lzma"))); }

    // The launcher's window came up with nothing more to ask; it is closed.
    void CloseWhenShown(const ChildProcess& launcher) {
        const HWND window = test::WaitForWindow(
            [&] {
                const HWND w = test::FindWindowOf(launcher.Id(), "TForm1");
                return w && ::IsWindowVisible(w) ? w : nullptr;
            },
            kTimeout);
        ASSERT_NE(window, nullptr);
        ::PostMessageW(window, WM_CLOSE, 0, 0);
        EXPECT_TRUE(launcher.WaitForExit(kTimeout).has_value());
    }

    std::string Exe() const { return game_.File("Orvanta.exe"); }
    std::string ServerFile(const std::string& name) const { return www_ + "\\" + GameCode + "\\" + name; }

    std::unique_ptr<ChildProcess> StartLauncher() {
        return std::make_unique<ChildProcess>(Exe(), "", game_.Path());
    }

    // Waits for the process's next message box, checks its text and presses `button`.
    void Answer(DWORD process, const std::string& text, int button) {
        const HWND box = test::WaitForWindow([&] { return test::FindDialogOf(process); }, kTimeout);
        ASSERT_NE(box, nullptr) << "no message box with: " << text;
        const std::vector<std::string> texts = test::ControlTexts(box);
        EXPECT_NE(std::find(texts.begin(), texts.end(), text), texts.end()) << ::testing::PrintToString(texts);
        ASSERT_TRUE(test::PressButton(box, button));
        ASSERT_NE(test::WaitForWindow([&] { return ::IsWindow(box) ? nullptr : box; }, kTimeout), nullptr);
    }

    // The launcher went on with its own version: the game's update question, declined, then closed.
    void DeclineGameUpdateAndClose(const ChildProcess& launcher) {
        Answer(launcher.Id(), kGameQuestion, IDNO);
        Answer(launcher.Id(), kGameHint, IDOK);
        const HWND window = test::FindWindowOf(launcher.Id(), "TForm1");
        ASSERT_NE(window, nullptr);
        ::PostMessageW(window, WM_CLOSE, 0, 0);
        EXPECT_TRUE(launcher.WaitForExit(kTimeout).has_value());
    }

    // The names in the game folder that the self-update may leave: the launcher and its kin.
    std::vector<std::string> LauncherFiles() const {
        std::vector<std::string> names;
        for (const char* name : {"Orvanta.exe", "Orvanta.exe.old", "Orvanta.exe.new", "Orvanta.exe.lzma",
                                 "version.txt", "upt.exe", "upt.exe.lzma"})
            if (test::Exists(game_.File(name))) names.push_back(name);
        return names;
    }

    test::TempDir game_;
    std::string next_, www_, launcherBytes_, description_, catalogue_, statement_, installer_;
};

TEST_F(SelfUpdateEndToEnd, TheDirectUpdateReplacesTheLauncherAndStartsTheNewOne) {
    // An .old from an earlier update, read-only, gives way to the running launcher.
    test::WriteFile(game_.File("Orvanta.exe.old"), "an earlier launcher");
    test::SetReadOnly(game_.File("Orvanta.exe.old"), true);
    // A game file to repair, so that the new launcher downloads under its own name and version.
    ASSERT_TRUE(::DeleteFileW(Wide(game_.File("cstrike\\gameinfo.txt")).c_str()));

    auto launcher = StartLauncher();
    Answer(launcher->Id(), kDirectWarning, IDOK);
    ASSERT_TRUE(launcher->WaitForExit(kTimeout).has_value()) << "the updated launcher did not end";

    const HWND window = test::WaitForWindow([&] { return OtherLauncherWindow(launcher->Id()); }, kTimeout);
    ASSERT_NE(window, nullptr) << "the new launcher did not start";
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    ForeignProcess restarted(pid);

    EXPECT_TRUE(test::ReadFile(Exe()) == test::ReadFile(next_)) << "Orvanta.exe is not the release";
    EXPECT_TRUE(test::ReadFile(game_.File("Orvanta.exe.old")) == launcherBytes_) << ".old is not the old launcher";
    EXPECT_EQ(LauncherFiles(), (std::vector<std::string>{"Orvanta.exe", "Orvanta.exe.old"}));

    // The new launcher is the next version: it does not update again, and names its version to the
    // server when it repairs the game.
    Answer(pid, kGameQuestion, IDYES);
    Answer(pid, "Проверка файлов прошла успешно", IDOK);
    EXPECT_TRUE(test::Exists(game_.File("cstrike\\gameinfo.txt")));
    const std::string log = test::ReadFile(test::HostPathFromEnvironment("ORVANTA_ACCESS_LOG"));
    EXPECT_NE(log.find(std::string("Updater vtl ") + GameCode + " 1.3 | GET /cstrike/demo/cstrike/gameinfo.txt.lzma"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find(" 1.3 | GET /" + std::string(GameCode) + "/Orvanta.exe.lzma"), std::string::npos) << log;
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(restarted.WaitForExit(kTimeout));
}

// Each failure: the dialog offers the manual page, No goes on with the running launcher, and what
// the failure leaves is as described; the launcher under its name is the old one and starts again.
TEST_F(SelfUpdateEndToEnd, AFailedDirectUpdateLeavesAWorkingLauncher) {
    const std::string url = std::string(UpdateServerBase) + GameCode + "/";
    const struct {
        const char* name;
        std::string description;
        std::vector<std::string> left;
    } cases[] = {
        {"CRC-32 differs",
         "{\"DownloadURL\": \"" + url + "Orvanta.exe.lzma\", \"LzmaFileSize\": 1, \"LzmaFileCRC32\": 1, "
         "\"FileCRC32\": 1}",
         {"Orvanta.exe", "Orvanta.exe.new", "version.txt"}},
        {"a key missing",
         "{\"DownloadURL\": \"" + url + "Orvanta.exe.lzma\", \"LzmaFileSize\": 1, \"FileCRC32\": 1}",
         {"Orvanta.exe", "version.txt"}},
        {"a damaged .lzma",
         "{\"DownloadURL\": \"" + url + "damaged.exe.lzma\", \"LzmaFileSize\": 1, \"LzmaFileCRC32\": 1, "
         "\"FileCRC32\": 1}",
         {"Orvanta.exe", "version.txt"}},
        {"a file: address",
         "{\"DownloadURL\": \"file:///Z:/tmp/x.lzma\", \"LzmaFileSize\": 1, \"LzmaFileCRC32\": 1, \"FileCRC32\": 1}",
         {"Orvanta.exe", "version.txt"}},
    };
    // Not a ".lzma" container: a header that claims more than there is.
    test::WriteFile(ServerFile("damaged.exe.lzma"), std::string("\x5d\0\0\x10\0\xff\xff\xff\xff\xff\xff\xff\xff", 13) + "junk");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::WriteFile(ServerFile("version.txt"), c.description);
        auto launcher = StartLauncher();
        Answer(launcher->Id(), kDirectWarning, IDOK);
        Answer(launcher->Id(), kFailureQuestion, IDNO);
        DeclineGameUpdateAndClose(*launcher);
        std::vector<std::string> left = LauncherFiles();
        // A partial unpack may remain; it is not what this case is about.
        if (std::string(c.name) == "a damaged .lzma") std::erase(left, std::string("Orvanta.exe.new"));
        EXPECT_EQ(left, c.left);
        EXPECT_TRUE(test::ReadFile(Exe()) == launcherBytes_);

        auto again = StartLauncher();
        Answer(again->Id(), kDirectWarning, IDOK);
        Answer(again->Id(), kFailureQuestion, IDNO);
        DeclineGameUpdateAndClose(*again);
        for (const char* name : {"Orvanta.exe.new", "version.txt"}) ::DeleteFileW(Wide(game_.File(name)).c_str());
    }
}

// A launcher with an update key built in takes only a release whose signature verifies under it:
// none and a wrong one fail as a CRC-32 mismatch does; the right one updates.
TEST_F(SelfUpdateEndToEnd, ALauncherWithAKeyUpdatesOnlyToASignedRelease) {
    const char* signature = std::getenv("ORVANTA_NEXT_SIGNATURE");
    ASSERT_TRUE(signature && std::strlen(signature) == 128);
    UseKeyedLauncher();
    std::string wrong = signature;
    wrong[70] = wrong[70] == '0' ? '1' : '0';
    const auto signedWith = [&](const std::string& value) {
        std::string description = description_;
        description.insert(description.rfind('}'), ", \"Signature\": \"" + value + "\"");
        return description;
    };
    for (const std::string& description : {description_, signedWith(wrong)}) {
        SCOPED_TRACE(description);
        test::WriteFile(ServerFile("version.txt"), description);
        auto launcher = StartLauncher();
        Answer(launcher->Id(), kDirectWarning, IDOK);
        Answer(launcher->Id(), kFailureQuestion, IDNO);
        DeclineGameUpdateAndClose(*launcher);
        EXPECT_EQ(LauncherFiles(), (std::vector<std::string>{"Orvanta.exe", "Orvanta.exe.new", "version.txt"}));
        EXPECT_TRUE(test::ReadFile(Exe()) == launcherBytes_);
    }

    test::WriteFile(ServerFile("version.txt"), signedWith(signature));
    auto launcher = StartLauncher();
    Answer(launcher->Id(), kDirectWarning, IDOK);
    ASSERT_TRUE(launcher->WaitForExit(kTimeout).has_value()) << "the signed update did not end the launcher";
    const HWND window = test::WaitForWindow([&] { return OtherLauncherWindow(launcher->Id()); }, kTimeout);
    ASSERT_NE(window, nullptr) << "the new launcher did not start";
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    ForeignProcess restarted(pid);
    EXPECT_TRUE(test::ReadFile(Exe()) == test::ReadFile(next_));
    EXPECT_TRUE(test::ReadFile(game_.File("Orvanta.exe.old")) == launcherBytes_);
    EXPECT_EQ(LauncherFiles(), (std::vector<std::string>{"Orvanta.exe", "Orvanta.exe.old"}));
    Answer(pid, kGameQuestion, IDNO);
    Answer(pid, kGameHint, IDOK);
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(restarted.WaitForExit(kTimeout));
}

// A catalogue changed after it was signed, here to fetch an installer that the publisher never
// made, leaves a launcher with the key offline: nothing downloaded, nothing started. The catalogue
// as signed is taken.
TEST_F(SelfUpdateEndToEnd, ALauncherWithAKeyFollowsOnlyASignedCatalogue) {
    UseKeyedLauncher();
    std::string changed = catalogue_;
    const size_t at = changed.find("typeofselfupdate=2");
    ASSERT_NE(at, std::string::npos) << changed;
    changed.replace(at, 18, "typeofselfupdate=1");
    test::WriteFile(ServerFile("inf.ini"), changed);
    ForgeInstaller();

    auto refused = StartLauncher();
    Answer(refused->Id(), kNotSigned, IDOK);
    CloseWhenShown(*refused);
    EXPECT_FALSE(test::Exists(game_.File("upt.log"))) << "an installer was started";
    EXPECT_EQ(LauncherFiles(), (std::vector<std::string>{"Orvanta.exe"}));
    EXPECT_FALSE(test::Exists(game_.File("inf.ini.sig")));
    EXPECT_FALSE(test::Exists(game_.File("inf.ini.download")));
    EXPECT_FALSE(test::Exists(game_.File("inf.ini.sig.download")));
    EXPECT_FALSE(test::ReadFile(game_.File("inf.ini")) == changed);

    test::WriteFile(ServerFile("inf.ini"), catalogue_);
    // A player's settings file takes the version at once; a first run would keep it for its first
    // save instead, so that the next start still counts as a first run.
    test::WriteFile(game_.File(SettingsFileName), "");
    auto taken = StartLauncher();
    // The signed catalogue asks for the direct update, whose release this key did not sign.
    Answer(taken->Id(), kDirectWarning, IDOK);
    Answer(taken->Id(), kFailureQuestion, IDNO);
    DeclineGameUpdateAndClose(*taken);
    EXPECT_TRUE(test::ReadFile(game_.File("inf.ini")) == catalogue_);
    EXPECT_TRUE(test::ReadFile(game_.File("inf.ini.sig")) == statement_);
    EXPECT_NE(test::ReadFile(game_.File(SettingsFileName)).find("CatalogueVersion=1"), std::string::npos);
}

// With the key the unpacked installer runs only when its statement names it; another is deleted
// unstarted and the failure dialog follows.
TEST_F(SelfUpdateEndToEnd, ALauncherWithAKeyStartsOnlyTheSignedInstaller) {
    UseKeyedLauncher();
    test::WriteFile(ServerFile("inf.ini"), test::ReadFile(ServerFile("inf-installer.ini")));
    test::WriteFile(ServerFile("inf.ini.sig"), test::ReadFile(ServerFile("inf-installer.ini.sig")));
    ForgeInstaller();

    auto forged = StartLauncher();
    Answer(forged->Id(), kInstallerQuestion, IDYES);
    Answer(forged->Id(), kFailureQuestion, IDNO);
    DeclineGameUpdateAndClose(*forged);
    EXPECT_FALSE(test::Exists(game_.File("upt.log"))) << "the forged installer was started";
    EXPECT_EQ(LauncherFiles(), (std::vector<std::string>{"Orvanta.exe"}));
    EXPECT_FALSE(test::Exists(game_.File("upt.exe.sig")));

    test::WriteFile(ServerFile("upt.exe.lzma"), installer_);
    auto launcher = StartLauncher();
    Answer(launcher->Id(), kInstallerQuestion, IDYES);
    ASSERT_TRUE(launcher->WaitForExit(kTimeout).has_value()) << "the launcher did not end";
    const auto records = test::WaitForFakeRecords(game_.File("upt.log"), 1, kTimeout);
    ASSERT_EQ(records.size(), 1u) << "the signed installer was not started";
    EXPECT_EQ(LauncherFiles(), (std::vector<std::string>{"Orvanta.exe", "upt.exe"}));
    ForeignProcess installer(static_cast<DWORD>(std::stoul(records[0].Get("pid"))));
    EXPECT_TRUE(installer.WaitForExit(kTimeout));
}

TEST_F(SelfUpdateEndToEnd, TheInstallerPathStartsTheInstallerAndEndsTheLauncher) {
    std::string catalogue = catalogue_;
    const size_t at = catalogue.find("typeofselfupdate=2");
    ASSERT_NE(at, std::string::npos) << catalogue;
    catalogue.replace(at, 18, "typeofselfupdate=1");
    test::WriteFile(ServerFile("inf.ini"), catalogue);

    auto launcher = StartLauncher();
    Answer(launcher->Id(), kInstallerQuestion, IDYES);
    ASSERT_TRUE(launcher->WaitForExit(kTimeout).has_value()) << "the launcher did not end";
    const auto records = test::WaitForFakeRecords(game_.File("upt.log"), 1, kTimeout);
    ASSERT_EQ(records.size(), 1u) << "the installer was not started";
    EXPECT_EQ(LauncherFiles(), (std::vector<std::string>{"Orvanta.exe", "upt.exe"}));
    EXPECT_TRUE(test::ReadFile(Exe()) == launcherBytes_);
    // It ends by itself; its record is all it does.
    ForeignProcess installer(static_cast<DWORD>(std::stoul(records[0].Get("pid"))));
    EXPECT_TRUE(installer.WaitForExit(kTimeout));
}

}  // namespace
}  // namespace orv
