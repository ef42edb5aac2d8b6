// The Check button of the real main window against nginx serving a build published by the
// publisher: the window is started in a temporary game folder, the check run downloads, unpacks and
// repairs over HTTP with the unpack worker, and the Stop button is pressed from inside the run as
// the event pump would deliver it. Run through tests/rig/with-servers.sh.
#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <memory>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

#include "launcher/base/app_state.h"
#include "launcher/config/launcher_settings.h"
#include "launcher/main_window/check_win.h"
#include "launcher/main_window/main_window_win.h"
#include "launcher/main_window/menus_win.h"
#include "launcher/integrity/check_run.h"
#include "launcher/integrity/check_run_platform_win.h"
#include "launcher/integrity/crc32.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/net/download_win.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/files.h"
#include "launcher/platform/scoped_win.h"
#include "launcher/platform/wide_win.h"
#include "launcher/ui/gui_thread_win.h"
#include "launcher/ui/message_loop_win.h"
#include "launcher/ui/web_view.h"
#include "launcher/windows/form_settings_win.h"
#include "support/hooked_fetcher.h"
#include "support/process_state.h"
#include "support/test_files.h"
#include "tools/publish.h"
#include "win/fake_records.h"
#include "win/gui_test_support.h"
#include "win_net/check_run_window_fixture.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using test::Exists;
using test::ReadFile;
using test::WriteFile;

// Every file below `top` except those below `skip`, with its size: what a run must not change.
std::vector<std::string> Listing(const fs::path& top, const fs::path& skip) {
    std::vector<std::string> all;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(top, fs::directory_options::skip_permission_denied, error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (error) break;
        const fs::path& p = it->path();
        if (p == skip) {
            it.disable_recursion_pending();
            continue;
        }
        std::string line = p.generic_string();
        if (it->is_regular_file()) line.append(" ").append(std::to_string(it->file_size()));
        all.push_back(std::move(line));
    }
    return all;
}

// Wine keeps no junctions; it shows a symbolic link of the host as one. Such a link is made by the
// host's own "ln", which Wine runs as it runs any program. False outside Wine.
bool MakeHostLink(const std::string& link, const std::string& target) {
    using UnixName = char*(CDECL*)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName) return false;
    const auto hostPath = [&](const std::string& path) {
        char* name = unixName(Wide(path).c_str());
        std::string result = name ? name : "";
        if (name) ::HeapFree(::GetProcessHeap(), 0, name);
        return result;
    };
    std::wstring command = Wide("Z:\\bin\\ln -s \"" + hostPath(target) + "\" \"" + hostPath(link) + "\"");
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    // Wine does not wait on a host program: the caller watches for the link instead.
    const ScopedHandle thread(process.hThread), child(process.hProcess);
    return true;
}

// Makes `link` a junction to `target` (both absolute), or where the system keeps no junctions a
// folder link that it shows as one; false when it can make neither.
bool MakeJunction(const std::string& link, const std::string& target) {
    if (!::CreateDirectoryW(Wide(link).c_str(), nullptr)) return false;
    ScopedFileHandle folder(::CreateFileW(Wide(link).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    bool made = false;
    if (folder) {
        std::wstring substitute(L"\\??\\");
        substitute.append(Wide(target));
        const std::wstring print = Wide(target);
        // The mount point layout of a reparse buffer: tag, lengths, then both names, each ending in NUL.
        std::vector<BYTE> buffer(8 + 8 + (substitute.size() + print.size() + 2) * sizeof(wchar_t));
        auto put16 = [&](size_t at, size_t value) {
            buffer[at] = static_cast<BYTE>(value);
            buffer[at + 1] = static_cast<BYTE>(value >> 8);
        };
        const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
        std::memcpy(buffer.data(), &tag, 4);
        put16(4, buffer.size() - 8);
        put16(8, 0);
        put16(10, substitute.size() * sizeof(wchar_t));
        put16(12, (substitute.size() + 1) * sizeof(wchar_t));
        put16(14, print.size() * sizeof(wchar_t));
        std::memcpy(buffer.data() + 16, substitute.c_str(), (substitute.size() + 1) * sizeof(wchar_t));
        std::memcpy(buffer.data() + 16 + (substitute.size() + 1) * sizeof(wchar_t), print.c_str(),
                    (print.size() + 1) * sizeof(wchar_t));
        DWORD returned = 0;
        made = ::DeviceIoControl(folder.Get(), FSCTL_SET_REPARSE_POINT, buffer.data(), static_cast<DWORD>(buffer.size()),
                                 nullptr, 0, &returned, nullptr) != 0;
    }
    const auto isLink = [&] {
        const DWORD attributes = ::GetFileAttributesW(Wide(link).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    };
    folder.Reset();
    if (made && isLink()) return true;
    ::RemoveDirectoryW(Wide(link).c_str());
    return MakeHostLink(link, target) && test::PumpUntil(isLink, test::kGuiWait);
}

TEST_F(CheckRunWindowTest, RepairsTheFolderShowsItsProgressTextsAndRecordsTheVersion) {
    Start();
    PutGame("cstrike\\maps\\de_dust2.bsp", "short");
    std::string sameSize = files_["cstrike\\cfg\\autoexec.cfg"];
    sameSize[0] = 'B';
    PutGame("cstrike\\cfg\\autoexec.cfg", sameSize);
    PutGame("cstrike\\cfg\\empty.cfg", "not empty");
    PutGame("cstrike\\cfg\\mine.cfg", "the player's own");
    PutGame("hl2.exe", files_["hl2.exe"]);
    test::SetReadOnly(Game("hl2.exe"), true);
    PutGame("bin\\client.dll", files_["bin\\client.dll"]);

    // What the window shows while the run works.
    struct Seen {
        bool checkShown, stopShown, playEnabled, listsEnabled, cleanEnabled;
        int32_t stopFlag;
    };
    std::vector<Seen> during;
    std::mutex fetchedMutex;
    std::vector<std::string> fetched;
    adjust = [&](CheckRunPlatform& platform) {
        test::HookWaits(platform, [&](const std::string& name) {
            if (name != "wait: download") return;
            TForm1& f = *form_;
            during.push_back({f.Image_Button_Check.Shown(), f.Image_Button_Stop.Shown(), f.Image_Button_Play.Enabled(),
                              f.ComboBox_GameName.Enabled() || f.ComboBox_GameVersion.Enabled(),
                              settings_->Button_CleanGameFolder.Enabled(), StopFlag});
        });
        test::HookFetches(platform, [&](const std::string& url, const std::string&) {
            const std::lock_guard<std::mutex> lock(fetchedMutex);
            fetched.push_back(url);
            return url;
        });
    };
    form_->Events.Image_Button_CheckClick();

    ExpectUnchangedOrRepaired(files_);
    EXPECT_EQ(ReadFile(Game("cstrike\\cfg\\mine.cfg")), "the player's own");
    EXPECT_EQ(::GetFileAttributesW(Wide(Game("hl2.exe")).c_str()) & FILE_ATTRIBUTE_READONLY, 0u)
        << "a good file is only made writable";
    ASSERT_EQ(fetched.size(), 3u) << "missing, wrong size, wrong checksum";
    ASSERT_EQ(during.size(), 3u);
    for (const Seen& s : during) {
        EXPECT_FALSE(s.checkShown);
        EXPECT_TRUE(s.stopShown);
        EXPECT_FALSE(s.playEnabled);
        EXPECT_FALSE(s.listsEnabled);
        EXPECT_FALSE(s.cleanEnabled);
        EXPECT_EQ(s.stopFlag, 0);
    }
    EXPECT_EQ(Messages(), std::vector<std::string>{"Проверка файлов прошла успешно"});
    EXPECT_EQ(form_->lbl2.Text(), "Всего/Проверено/Загруженно файлов: 6 / 6 / 3");
    EXPECT_EQ(ReadLauncherSetting("cssClientVersion", "BuildVersion", ""), "8");
    EXPECT_EQ(LocalBuildVersion, "8");
    ExpectIdle();
    for (const char* left : {"css34.dim", "css34.dim.lzma", "hl2.exe.lzma", "cstrike\\maps\\de_dust2.bsp.lzma",
                             "cstrike\\maps\\de_dust2.bsp.orvanta-unpack"})
        EXPECT_FALSE(Exists(Game(left))) << left;
    // The settings were saved by the stop procedure.
    EXPECT_TRUE(Exists(Game("rev.ini")));
}

TEST_F(CheckRunWindowTest, StopDuringAChecksumKeepsTheGoodFileAndShowsNoSuccess) {
    Start();
    for (const auto& [relative, bytes] : files_) PutGame(relative, bytes);
    UiLanguage = UiEnglish;
    adjust = [&](CheckRunPlatform& platform) {
        auto lower = platform.lowerCase;
        platform.lowerCase = [&, lower](const std::string& path) {
            // The player presses Stop as the large file comes up, while it is summed.
            if (path.find("de_dust2") != std::string::npos) form_->Events.Image_Button_StopClick();
            return lower(path);
        };
    };
    form_->Events.Image_Button_CheckClick();
    ExpectUnchangedOrRepaired(files_);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(ReadLauncherSetting("cssClientVersion", "BuildVersion", ""), "7");
    EXPECT_FALSE(Exists(Game("cstrike\\maps\\de_dust2.bsp.lzma")));
    EXPECT_EQ(form_->lbl2.Text().rfind("Total/Checked/Downloaded files: 6 / ", 0), 0u);
    EXPECT_EQ(form_->lbl2.Text().substr(form_->lbl2.Text().size() - 4), " / 1") << "the stopped transfer counts";
}

TEST_F(CheckRunWindowTest, StopDuringADownloadLeavesTheOldFile) {
    Start();
    PutGame("hl2.exe", "an old hl2");
    adjust = [&](CheckRunPlatform& platform) {
        test::HookWaits(platform, [&](const std::string& name) {
            if (name == "wait: download") form_->Events.Image_Button_StopClick();
        });
    };
    form_->Events.Image_Button_CheckClick();
    EXPECT_TRUE(Messages().empty());
    EXPECT_FALSE(Exists(Game("hl2.exe.lzma")));
    ExpectIdle();
    // Whichever file came first, nothing was replaced.
    EXPECT_EQ(ReadFile(Game("hl2.exe")), "an old hl2");
}

// A server that sends the headers and part of a game file, then nothing, without closing: the
// window keeps answering and repainting while the run waits, and Stop ends the run.
TEST_F(CheckRunWindowTest, AStalledBodyLeavesTheWindowAnsweringAndStopEndsTheRun) {
    using Clock = std::chrono::steady_clock;
    Start();
    for (const auto& [relative, bytes] : files_) PutGame(relative, bytes);
    PutGame("hl2.exe", "an old hl2");
    // Two whole blocks arrive, then the body stalls with most of it still announced.
    constexpr int64_t kArrived = 8192;
    const std::string stalled = Env("ORVANTA_FAULT_URL") + "stall/150000/" + std::to_string(kArrived);
    adjust = [&](CheckRunPlatform& platform) {
        test::HookFetches(platform, [stalled](const std::string&, const std::string&) { return stalled; });
    };
    const std::string partial = Game("hl2.exe.lzma");
    const HWND window = form_->Handle();
    std::atomic<bool> stalledSeen{false}, answered{false}, repainted{false};
    Clock::time_point stopPosted{};
    std::thread player([&] {
        // The bytes that came are on disk: from here on the run waits for a server that says nothing.
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (Clock::now() < deadline && !stalledSeen) {
            WIN32_FILE_ATTRIBUTE_DATA data{};
            stalledSeen = ::GetFileAttributesExW(Wide(partial).c_str(), GetFileExInfoStandard, &data) &&
                          data.nFileSizeLow == kArrived;
            if (!stalledSeen) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        DWORD_PTR result = 0;
        answered = ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &result) != 0;
        // A repaint asked for from outside is carried out.
        ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE);
        const auto paintDeadline = Clock::now() + std::chrono::seconds(2);
        while (Clock::now() < paintDeadline && !repainted) {
            repainted = !::GetUpdateRect(window, nullptr, FALSE);
            if (!repainted) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        stopPosted = Clock::now();
        PostToGuiThread([this] { form_->Events.Image_Button_StopClick(); });
    });
    form_->Events.Image_Button_CheckClick();
    const Clock::time_point runEnded = Clock::now();
    player.join();

    EXPECT_TRUE(stalledSeen) << "the first bytes never reached the disk";
    EXPECT_TRUE(answered) << "the window did not answer while the body stalled";
    EXPECT_TRUE(repainted) << "the window did not repaint while the body stalled";
    const auto stopMs = std::chrono::duration_cast<std::chrono::milliseconds>(runEnded - stopPosted).count();
    std::printf("stalled body: run ended %lld ms after Stop was posted\n", static_cast<long long>(stopMs));
    // The network thread comes back from its read when the server has been silent for the
    // download's time-out at the latest; the run has ended it by then.
    EXPECT_LT(stopMs, static_cast<long long>(kGameDownloadTimeoutMs) + 3000) << "Stop did not end the run";
    EXPECT_EQ(CheckEngine::RunningThreads(), 0) << "a thread of the run outlived it";
    EXPECT_EQ(ReadFile(Game("hl2.exe")), "an old hl2");
    EXPECT_FALSE(Exists(partial));
    EXPECT_FALSE(Exists(Game("hl2.exe.orvanta-unpack")));
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(ReadLauncherSetting("cssClientVersion", "BuildVersion", ""), "7");
    ExpectIdle();
}

TEST_F(CheckRunWindowTest, TheCloseBoxDuringARunStopsItAndClosesTheWindowAfterIt) {
    Start();
    PutGame("hl2.exe", "an old hl2");
    bool stayedDuringRun = false;
    adjust = [&](CheckRunPlatform& platform) {
        test::HookWaits(platform, [&](const std::string& name) {
            if (name != "wait: download") return;
            ::SendMessageW(form_->Handle(), WM_CLOSE, 0, 0);
            stayedDuringRun = form_->HandleAllocated() && ::IsWindow(form_->Handle());
        });
    };
    form_->Events.Image_Button_CheckClick();
    EXPECT_TRUE(stayedDuringRun) << "the window was destroyed under the run";
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(StopFlag, 1);
    EXPECT_EQ(ReadFile(Game("hl2.exe")), "an old hl2");
    test::PumpUntil([this] { return WindowClosed(); }, test::kGuiWait);
    EXPECT_FALSE(form_->HandleAllocated() && ::IsWindow(form_->Handle())) << "the close was forgotten";
}

TEST_F(CheckRunWindowTest, ASaveThatFailsAtTheEndIsReportedAndTheWindowStillGoesIdle) {
    Start();
    for (const auto& [relative, bytes] : files_) PutGame(relative, bytes);
    PutGame("rev.ini", "[Emulator]\r\n");
    test::SetReadOnly(Game("rev.ini"), true);
    form_->Events.Image_Button_CheckClick();
    test::SetReadOnly(Game("rev.ini"), false);
    const std::vector<std::string> messages = Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "Проверка файлов прошла успешно");
    EXPECT_NE(messages[1], "") << "the refused write, in the error box";
    EXPECT_EQ(ReadFile(Game("rev.ini")), "[Emulator]\r\n");
    ExpectIdle();
}

class UnpackQuestionWindowTest : public CheckRunWindowTest {
protected:
    // A new answer starts a new record.
    void Answer(MsgResult answer) {
        answers_.reset();
        answers_.emplace(answer);
    }
    void TearDown() override {
        answers_.reset();
        CheckRunWindowTest::TearDown();
    }
    const std::vector<MessageRequest>& Seen() const { return answers_->seen; }
    std::vector<std::string> Texts() const { return answers_->Texts(); }
    std::optional<test::QuestionAnswers> answers_;
};

TEST_F(UnpackQuestionWindowTest, AbortOnAnErrorPageStopsAndKeepsTheOldFile) {
    WriteFile(ServerFile("\\hl2.exe"), "<html><body><h1>502 Bad Gateway</h1></body></html>");
    Start();
    for (const auto& [relative, bytes] : files_) PutGame(relative, bytes);
    PutGame("hl2.exe", "the old copy");
    Answer(MsgResult::Abort);
    form_->Events.Image_Button_CheckClick();
    ASSERT_EQ(Seen().size(), 1u);
    EXPECT_EQ(Seen()[0].text, "Error while unpacking the file, what should I do ??");
    EXPECT_EQ(Seen()[0].caption, "Think please :)");
    EXPECT_EQ(Seen()[0].flags, mb::AbortRetryIgnore | mb::IconError);
    EXPECT_EQ(Seen()[0].owner, static_cast<void*>(form_->Handle()));
    EXPECT_EQ(ReadFile(Game("hl2.exe")), "the old copy");
    EXPECT_FALSE(Exists(Game("hl2.exe.lzma")));
    EXPECT_FALSE(Exists(Game("hl2.exe.orvanta-unpack")));
    EXPECT_EQ(ReadLauncherSetting("cssClientVersion", "BuildVersion", ""), "7");
    ExpectIdle();
}

TEST_F(UnpackQuestionWindowTest, RetryAndIgnoreSkipAndATruncatedStreamNeverReplacesTheFile) {
    WriteFile(ServerFile("\\hl2.exe"), "<html><body><h1>502 Bad Gateway</h1></body></html>");
    std::string truncated = ReadFile(ServerFile("\\cstrike\\maps\\de_dust2.bsp"));
    truncated.resize(truncated.size() / 2);
    WriteFile(ServerFile("\\cstrike\\maps\\de_dust2.bsp"), truncated);
    Start();
    for (const auto& [relative, bytes] : files_) PutGame(relative, bytes);
    PutGame("hl2.exe", "the old copy");
    PutGame("cstrike\\maps\\de_dust2.bsp", "the old map");
    for (const MsgResult answer : {MsgResult::Retry, MsgResult::Ignore}) {
        Answer(answer);
        UiLanguage = UiEnglish;
        form_->Events.Image_Button_CheckClick();
        const std::string question = "Error while unpacking the file, what should I do ??";
        if (answer == MsgResult::Retry)
            EXPECT_EQ(Texts(), (std::vector<std::string>{question, "Retry Error! Skipped.", question,
                                                         "Retry Error! Skipped.", "File checker was successful"}));
        else
            EXPECT_EQ(Texts(), (std::vector<std::string>{question, question, "File checker was successful"}));
        EXPECT_EQ(ReadFile(Game("hl2.exe")), "the old copy");
        EXPECT_EQ(ReadFile(Game("cstrike\\maps\\de_dust2.bsp")), "the old map");
        EXPECT_EQ(form_->lbl2.Text(), "Total/Checked/Downloaded files: 6 / 4 / 2") << "skipped files are not counted";
        ExpectIdle();
    }
}

TEST_F(CheckRunWindowTest, AnUnreachableChecklistIsReportedAndTheLauncherCloses) {
    Start();
    adjust = [](CheckRunPlatform& platform) { platform.serverBase = Env("ORVANTA_CLOSED_URL"); };
    form_->Events.Image_Button_CheckClick();
    const std::vector<std::string> messages = Messages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[0].rfind("Ошибка загрузки http://", 0), 0u) << messages[0];
    EXPECT_NE(messages[0].find("/cstrike/builds/v34/css34.dim.lzma видимо сервер недоступен"), std::string::npos);
    EXPECT_EQ(messages[1].rfind("Ошибка распаковки ", 0), 0u) << messages[1];
    ExpectIdle();
    EXPECT_TRUE(form_->HandleAllocated()) << "the window closes only once the run is over";
    test::PumpUntil([this] { return WindowClosed(); }, test::kGuiWait);
    EXPECT_FALSE(form_->HandleAllocated() && ::IsWindow(form_->Handle()));
}

TEST_F(CheckRunWindowTest, AHostileChecklistWritesNothingOutsideTheGameFolder) {
    const std::string inner = files_["cstrike\\cfg\\autoexec.cfg"];
    const std::string crc = Crc32Text(Crc32Of(inner));
    std::string dim;
    for (const char* path : {"\\..\\escaped.txt", "\\cstrike\\..\\..\\escaped2.txt", "C:\\escaped3.txt",
                             "\\\\127.0.0.1\\share\\x.txt", "\\hl2.exe:stream", "Z:\\tmp\\escaped4.txt"})
        dim += std::to_string(inner.size()) + "\r\n" + path + "\r\n" + crc + "\r\n";
    dim += "0\r\n\\..\\escaped-empty.txt\r\n0\r\n0\r\n\\..\\escaped-folder\\.\r\n0\r\n";
    dim += "0\r\n\\cstrike\\.\r\n0\r\n0\r\n\\cstrike\\cfg\\.\r\n0\r\n";
    dim += std::to_string(inner.size()) + "\r\n\\cstrike\\cfg\\autoexec.cfg\r\n" + crc;
    const std::string plain = build_.File("hostile.dim");
    WriteFile(plain, dim);
    ASSERT_TRUE(TLZMAAlone().Main(plain, ServerRootFile(ChecklistPath("css34")), "e"));
    // The files the entries name lie on the server, so that following one would write something.
    WriteFile(ServerFile("\\..\\escaped.txt"), ReadFile(ServerFile("\\cstrike\\cfg\\autoexec.cfg")));
    Start();
    const fs::path game = test::FsPath(start_->Folder());
    const fs::path parent = game.parent_path();
    const std::vector<std::string> before = Listing(parent, game);

    form_->Events.Image_Button_CheckClick();

    EXPECT_EQ(Listing(parent, game), before) << "nothing outside the game folder was created or changed";
    EXPECT_EQ(ReadFile(Game("cstrike\\cfg\\autoexec.cfg")), inner) << "the safe entries are repaired";
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_NE(Messages()[0].find("\\..\\escaped.txt\n\\cstrike\\..\\..\\escaped2.txt\nC:\\escaped3.txt"),
              std::string::npos)
        << Messages()[0];
    EXPECT_EQ(ReadLauncherSetting("cssClientVersion", "BuildVersion", ""), "7") << "that folder is not version 8";
    ExpectIdle();
}


// With the catalogue's usesteamcmd set, Check runs the Steam console client first, shows its
// lines, and the check-and-repair run follows the client's own end, whatever its exit code.
TEST_F(CheckRunWindowTest, TheSteamConsoleClientInstallsFirstAndTheCheckFollowsItsEnd) {
    UseSteamCmdInCatalogue();
    Start();
    ASSERT_TRUE(UseSteamCmd);
    PutGame("cstrike\\maps\\de_dust2.bsp", "short");
    PutSteamCmd("crlf Loading Steam API...OK\n"
                "cr  Update state (0x5) verifying install, progress: 50.00 (4000 / 8000)\n"
                "crlf Success! App '740' fully installed.\n"
                "exit 7\n");
    std::vector<std::string> shown;
    auto showLine = form_->DosCommand1.OnNewLine;
    form_->DosCommand1.OnNewLine = [&, showLine](TDosCommand& sender, const std::string& line, TOutputType type) {
        showLine(sender, line, type);
        shown.push_back(form_->lbl2.Text());
    };

    form_->Events.Image_Button_CheckClick();
    EXPECT_EQ(form_->lbl2.Text(), "Starting");
    EXPECT_TRUE(form_->lbl2.WordWrap());
    EXPECT_TRUE(form_->Image_Button_Stop.Shown()) << "the window is in its checking state while the client runs";
    ASSERT_TRUE(test::PumpUntil([&] { return Messages().size() == 1; }, std::chrono::seconds(60)));

    EXPECT_EQ(Messages(), std::vector<std::string>{"Проверка файлов прошла успешно"});
    ExpectUnchangedOrRepaired(files_);
    EXPECT_EQ(shown, (std::vector<std::string>{"Loading Steam API...OK",
                                               " Update state (0x5) verifying install, progress: 50.00 (4000 / 8000)",
                                               "Success! App '740' fully installed."}));
    EXPECT_FALSE(form_->lbl2.WordWrap());
    EXPECT_TRUE(form_->ToolRunFinished);
    EXPECT_FALSE(form_->ToolRunAborted);
    const auto records = test::ReadFakeRecords(Game("orvanta\\tools\\steamcmd\\steamcmd.log"));
    ASSERT_EQ(records.size(), 1u);
    const std::string line = records[0].Get("command line");
    EXPECT_NE(line.find("steamcmd.exe +login anonymous +force_install_dir "), std::string::npos) << line;
    EXPECT_EQ(line.substr(line.size() - 32), " +app_update 740 validate  +quit") << line;
    ExpectIdle();
}

TEST_F(CheckRunWindowTest, StopDuringTheInstallKillsTheClientAndNoCheckFollows) {
    UseSteamCmdInCatalogue();
    Start();
    PutGame("cstrike\\maps\\de_dust2.bsp", "short");
    PutSteamCmd("crlf Connecting anonymously to Steam Public...\nhang\n");
    int downloads = 0;
    adjust = [&](CheckRunPlatform& platform) {
        test::HookWaits(platform, [&](const std::string& name) { downloads += name == "wait: download"; });
    };

    form_->Events.Image_Button_CheckClick();
    ASSERT_TRUE(test::PumpUntil([&] { return form_->lbl2.Text() == "Connecting anonymously to Steam Public..."; },
                                test::kGuiWait));
    const DWORD pid = form_->DosCommand1.ProcessInformation().dwProcessId;
    ScopedHandle client(::OpenProcess(SYNCHRONIZE, FALSE, pid));
    ASSERT_TRUE(client.Valid());
    form_->Events.Image_Button_StopClick();

    EXPECT_EQ(::WaitForSingleObject(client.Get(), 10000), WAIT_OBJECT_0) << "the client was killed";
    EXPECT_TRUE(form_->ToolRunAborted);
    EXPECT_TRUE(form_->ToolRunFinished);
    EXPECT_FALSE(form_->DosCommand1.IsRunning());
    EXPECT_EQ(downloads, 0);
    EXPECT_EQ(ReadFile(Game("cstrike\\maps\\de_dust2.bsp")), "short") << "no check ran";
    EXPECT_TRUE(Messages().empty());
    ExpectIdle();
    EXPECT_TRUE(Exists(Game("rev.ini"))) << "the stop procedure saved the settings";
}

// The tray's Exit (or a window close) that comes while the Stop button waits for the runner is
// carried out once that wait is over: the window's end stops the runner only after that, and the
// stop procedure finishes unharmed.
TEST_F(CheckRunWindowTest, TheTraysExitDuringTheInstallsStopClosesTheWindowAfterTheStop) {
    struct Case {
        const char* what;
        UINT message;
        WPARAM wParam;
    };
    UseSteamCmdInCatalogue();
    for (const Case& c : {Case{"tray exit", WM_COMMAND, menu_ids::Exit}, Case{"close", WM_CLOSE, 0}}) {
        SCOPED_TRACE(c.what);
        Start();
        PutSteamCmd("crlf Connecting anonymously to Steam Public...\nhang\n");
        bool asked = false;
        auto ask = form_->DosCommand1.OnTerminateProcess;
        form_->DosCommand1.OnTerminateProcess = [&, ask, c](TDosCommand& sender, bool& canTerminate) {
            ask(sender, canTerminate);
            asked = true;
            ::PostMessageW(form_->Handle(), c.message, c.wParam, 0);
        };

        form_->Events.Image_Button_CheckClick();
        ASSERT_TRUE(test::PumpUntil([&] { return form_->lbl2.Text() == "Connecting anonymously to Steam Public..."; },
                                    test::kGuiWait));
        form_->Events.Image_Button_StopClick();
        EXPECT_TRUE(asked);
        EXPECT_FALSE(form_->DosCommand1.IsRunning());
        EXPECT_TRUE(form_->ToolRunAborted);
        EXPECT_TRUE(Messages().empty()) << "the stop failed: " << (Messages().empty() ? "" : Messages()[0]);
        EXPECT_TRUE(test::PumpUntil([this] { return WindowClosed(); }, test::kGuiWait)) << "the exit was forgotten";
        EXPECT_TRUE(ApplicationTerminated());
        EXPECT_TRUE(Messages().empty());
        settings_.reset();
        form_.reset();
        start_.reset();
        ResetApplicationTermination();
    }
}

// A client that is not there: the check runs at once, then the runner's error box names the error.
TEST_F(CheckRunWindowTest, AMissingClientRunsTheCheckThenShowsTheRunnersError) {
    UseSteamCmdInCatalogue();
    Start();
    PutGame("cstrike\\maps\\de_dust2.bsp", "short");

    form_->Events.Image_Button_CheckClick();
    ASSERT_TRUE(test::PumpUntil([&] { return Messages().size() == 2; }, std::chrono::seconds(60)));

    EXPECT_EQ(Messages()[0], "Проверка файлов прошла успешно");
    EXPECT_EQ(Messages()[1].rfind("ECreateProcessError\r\nError creating Process: ", 0), 0u) << Messages()[1];
    ExpectUnchangedOrRepaired(files_);
    EXPECT_TRUE(form_->ToolRunAborted);
    ExpectIdle();
}


// The player opens the settings from the main window and presses "Repair game": everything the
// keep list does not name goes (links as links, never what they point to), and the check that
// follows brings the build back.
TEST_F(CheckRunWindowTest, TheCleanerThenTheCheckLeaveTheBuildPlusTheKeptFilesAndNothingOutsideChanges) {
    Start();
    for (const auto& [relative, bytes] : files_) PutGame(relative, bytes);
    PutGame("cstrike\\cfg\\mine.cfg", "the player's own");
    PutGame("foreign\\deeper\\x.txt", "foreign");
    PutGame("readonly.txt", "read-only");
    test::SetReadOnly(Game("readonly.txt"), true);
    PutGame("list.json", "a copy of an earlier run");
    PutGame("sub\\rev.bak", "not at the top");
    PutGame("rev.bak", "kept at the top");
    // A folder outside the game folder, reached through junctions inside it.
    const std::string outside = build_.File("outside");
    CreateDirectories(outside + "\\inner");
    WriteFile(outside + "\\precious.txt", "not the game's");
    WriteFile(outside + "\\inner\\deep.txt", "not the game's either");
    const bool topLink = MakeJunction(Game("linked"), outside);
    const bool innerLink = MakeJunction(Game("cstrike\\linked"), outside);
    const std::vector<std::string> outsideBefore = Listing(test::FsPath(outside), {});
    settings_->ServerBase = serverBase_;

    // A file that another program holds open cannot go: it stays, and nothing is said about it.
    PutGame("inuse.txt", "held open");
    ScopedFileHandle held(::CreateFileW(Wide(Game("inuse.txt")).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.Valid());

    bool cleanerRan = false;
    PostToGuiThread([&] {
        ASSERT_TRUE(test::PumpUntil([&] { return settings_->CheckBoxArmed(); }, test::kGuiWait));
        cleanerRan = true;
        ::SendMessageW(settings_->Button_CleanGameFolder.ControlHandle(), BM_CLICK, 0, 0);
    });
    form_->Image_Settings.OnClick();
    held.Reset();

    ASSERT_TRUE(cleanerRan);
    EXPECT_FALSE(settings_->Visible());
    EXPECT_EQ(Messages(), std::vector<std::string>{"Проверка файлов прошла успешно"}) << "the check followed";
    ExpectUnchangedOrRepaired(files_);
    std::vector<std::string> expected;
    for (const char* kept : {"hl2.exe", "rev.bak", "rev.ini", "inf.ini", SettingsFileName, "inuse.txt"})
        expected.push_back(kept);
    for (const auto& [relative, bytes] : files_) expected.push_back(relative);
    for (const char* folder : {"bin", "cstrike", "cstrike\\cfg", "cstrike\\maps", "cstrike\\new", "cstrike\\new\\deeper"})
        expected.push_back(folder);
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    std::vector<std::string> left;
    const fs::path game = test::FsPath(start_->Folder());
    for (const std::string& entry : Listing(game, {})) {
        std::string relative = entry.substr(game.generic_string().size() + 1);
        relative = relative.substr(0, relative.find(' '));
        std::replace(relative.begin(), relative.end(), '/', '\\');
        left.push_back(relative);
    }
    // Wine cannot take away the host link it shows as a junction; the cleaner leaves what it cannot
    // remove, and what lies behind it is the outside folder, checked below.
    const bool wine = ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    if (wine)
        left.erase(std::remove_if(left.begin(), left.end(),
                                  [](const std::string& p) {
                                      return p.rfind("linked", 0) == 0 || p.rfind("cstrike\\linked", 0) == 0;
                                  }),
                   left.end());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, expected);
    EXPECT_EQ(Listing(test::FsPath(outside), {}), outsideBefore) << "nothing outside the game folder changed";
    EXPECT_EQ(ReadFile(outside + "\\precious.txt"), "not the game's");
    EXPECT_TRUE(topLink && innerLink) << "the links to the outside folder were not made";
}

TEST_F(CheckRunWindowTest, AFolderWithoutTheGameOrAKeepListThatIsNotThereDeletesNothing) {
    Start();
    PutGame("cstrike\\maps\\de_dust2.bsp", files_["cstrike\\maps\\de_dust2.bsp"]);
    PutGame("foreign.txt", "foreign");
    const fs::path game = test::FsPath(start_->Folder());
    const struct {
        const char* what;
        bool withGame;
        std::string base;
        std::string message;
    } cases[] = {
        {"no hl2.exe", false, serverBase_,
         "hl2.exe not found in folder. Clearing can be dangerous, check folder with launcher or reinstall the game."},
        {"a server error page", true, serverBase_ + "missing/",
         "Error downloading URL: " + serverBase_ + "missing/cstrike/cstrikeclean.json."},
        {"an unreachable server", true, Env("ORVANTA_CLOSED_URL"),
         "Error downloading URL: " + Env("ORVANTA_CLOSED_URL") + "cstrike/cstrikeclean.json."},
    };
    for (const auto& c : cases) {
        if (c.withGame) PutGame("hl2.exe", files_["hl2.exe"]);
        const std::vector<std::string> before = Listing(game, {});
        const size_t seen = Messages().size();
        settings_->ServerBase = c.base;
        int result = 0;
        PostToGuiThread([&] {
            ::SendMessageW(settings_->Button_CleanGameFolder.ControlHandle(), BM_CLICK, 0, 0);
            if (settings_->Visible()) ::PostMessageW(settings_->Handle(), WM_CLOSE, 0, 0);
        });
        result = settings_->ShowModal();
        EXPECT_EQ(result, mr::Cancel) << c.what << ": the window stayed open until closed";
        const std::vector<std::string> messages = Messages();
        ASSERT_EQ(messages.size(), seen + 1) << c.what;
        EXPECT_EQ(messages.back(), c.message) << c.what;
        EXPECT_EQ(Listing(game, {}), before) << c.what;
    }
}

}  // namespace
}  // namespace orv
