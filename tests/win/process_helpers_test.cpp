// The process and shell helpers against real processes: fake programs copied into a folder of
// their own, started, found by name, ended, and started through the shell; and the fakes
// themselves, whose records and output later tests rely on.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <tlhelp32.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "fake_records.h"
#include "launcher/base/errors.h"
#include "launcher/net/processes_win.h"
#include "launcher/net/shell_win.h"
#include "launcher/platform/scoped_win.h"
#include "launcher/platform/wide_win.h"
#include "support/test_files.h"
#include "tools/ui_driver/ui_driver_win.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using test::ChildProcess;

constexpr auto kTimeout = 10s;

// Copies the built fake `name` (beside win_tests.exe) into `folder` as `as`.
std::string CopyFake(const std::string& name, const test::TempDir& folder, const std::string& as = "") {
    return test::CopyFakeTo(name, folder.File(as.empty() ? name : as));
}

// The executable name that the process list reports for process `id`.
std::optional<std::wstring> ReportedExeName(DWORD id) {
    ScopedFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return std::nullopt;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more; more = ::Process32NextW(snapshot.Get(), &entry))
        if (entry.th32ProcessID == id) return std::wstring(entry.szExeFile);
    return std::nullopt;
}

// The fake game under a name of its own, so that no other program in the Wine prefix (another test
// run, the demo) can match; hl2.exe records under "hl2" whatever its file is called.
constexpr const char* kGameName = "OrvTest-Hl2.exe";

// A started copy of the fake game that has recorded its start, so it is certainly running. Ended by
// ChildProcess whatever the test asserted.
ChildProcess StartGame(const std::string& exe, const std::string& folder, size_t startsBefore) {
    ChildProcess game(exe, "-game cstrike", folder);
    const auto records = test::WaitForFakeRecords(folder + "\\hl2.log", startsBefore + 1, kTimeout);
    if (records.size() != startsBefore + 1) throw std::runtime_error("hl2.exe did not record its start");
    return game;
}

TEST(KillProcessByName, EndsEveryRunningCopyWhateverTheCaseOfTheName) {
    test::TempDir folder;
    const std::string exe = CopyFake("hl2.exe", folder, kGameName);
    ChildProcess first = StartGame(exe, folder.Path(), 0);
    ChildProcess second = StartGame(exe, folder.Path(), 1);
    ASSERT_TRUE(first.Running());
    ASSERT_TRUE(second.Running());

    EXPECT_NE(KillProcessByName("ORVTEST-hl2.EXE"), 0);
    // Exit code 0 is KillProcessByName's; the owners would end a survivor with 99.
    EXPECT_EQ(first.WaitForExit(kTimeout), std::optional<DWORD>(0));
    EXPECT_EQ(second.WaitForExit(kTimeout), std::optional<DWORD>(0));

    const auto records = test::ReadFakeRecords(folder.File("hl2.log"));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].program, "hl2");
    EXPECT_EQ(records[0].Get("pid"), std::to_string(first.Id()));
    EXPECT_EQ(records[1].Get("pid"), std::to_string(second.Id()));
    EXPECT_EQ(records[0].Get("command line"), "\"" + exe + "\" -game cstrike");
    EXPECT_EQ(records[0].Get("folder"), folder.Path());

    // Nothing left to end.
    EXPECT_EQ(KillProcessByName(kGameName), 0);
}

TEST(KillProcessByName, NoMatchEndsNothingAndGivesZero) {
    test::TempDir folder;
    ChildProcess game = StartGame(CopyFake("hl2.exe", folder, kGameName), folder.Path(), 0);

    EXPECT_EQ(KillProcessByName("orvanta-no-such-program.exe"), 0);
    EXPECT_EQ(KillProcessByName("OrvTest-Hl2"), 0);
    EXPECT_EQ(KillProcessByName("OrvTest-Hl2.exe.exe"), 0);
    EXPECT_EQ(KillProcessByName("OrvTest-H?2.exe"), 0);
    EXPECT_EQ(KillProcessByName("OrvTest_Hl2.exe"), 0);
    EXPECT_EQ(KillProcessByName(""), 0);
    EXPECT_TRUE(game.Running());
}

TEST(KillProcessByName, ANameWithAFolderMatchesOnlyTheWholeReportedName) {
    test::TempDir folder;
    const std::string exe = CopyFake("hl2.exe", folder, kGameName);
    ChildProcess game = StartGame(exe, folder.Path(), 0);
    const auto reported = ReportedExeName(game.Id());
    ASSERT_TRUE(reported.has_value());

    if (Narrow(*reported) == kGameName) {
        // The process list names the file only (as Windows and Wine do): a name with a folder
        // part matches nothing, not even the program's own full path.
        EXPECT_EQ(KillProcessByName(exe), 0);
        EXPECT_EQ(KillProcessByName(std::string("\\") + kGameName), 0);
        EXPECT_TRUE(game.Running());
    } else {
        // A process list that names whole paths: the full path matches, a different folder not.
        EXPECT_EQ(KillProcessByName(std::string("X:\\elsewhere\\") + kGameName), 0);
        EXPECT_TRUE(game.Running());
        EXPECT_NE(KillProcessByName(Narrow(*reported)), 0);
        EXPECT_EQ(game.WaitForExit(kTimeout), std::optional<DWORD>(0));
    }
}

TEST(KillProcessByName, ACallerThatMatchesEndsTheOthersAndItself) {
    test::TempDir folder;
    const std::string exe = CopyFake("killbyname.exe", folder, "OrvTest-Launcher.exe");
    // The caller starts first, so it comes first in the process list (ordered by process id), and
    // acts only once the others run: had it ended itself first, they would be left running.
    const std::string go = folder.File("go");
    ChildProcess caller(exe, "kill orvtest-launcher.EXE \"" + go + "\"", folder.Path());
    ChildProcess bystander(exe, "wait", folder.Path());
    ChildProcess bystander2(exe, "wait", folder.Path());
    ASSERT_TRUE(bystander.Running());
    ASSERT_TRUE(bystander2.Running());
    test::WriteFile(go, "");

    // 0: it ended itself (had it survived, it would exit with 100 + the result).
    EXPECT_EQ(caller.WaitForExit(kTimeout), std::optional<DWORD>(0));
    EXPECT_EQ(bystander.WaitForExit(kTimeout), std::optional<DWORD>(0));
    EXPECT_EQ(bystander2.WaitForExit(kTimeout), std::optional<DWORD>(0));
}

// The result of CoInitializeEx on the calling thread after `action`, which tells whether COM is
// still (S_FALSE, RPC_E_CHANGED_MODE) or no longer (S_OK) set up there.
template <typename Action>
HRESULT ComStateAfter(DWORD setUp, Action action) {
    HRESULT probe = E_FAIL;
    std::thread thread([&] {
        const bool own = setUp != DWORD(-1);
        if (own && FAILED(::CoInitializeEx(nullptr, setUp))) return;
        action();
        probe = ::CoInitializeEx(nullptr, own ? setUp : DWORD{COINIT_APARTMENTTHREADED});
        if (SUCCEEDED(probe)) ::CoUninitialize();
        if (own) ::CoUninitialize();
    });
    thread.join();
    return probe;
}

class ShellOpenTest : public ::testing::Test {
protected:
    // Runs ShellOpen on the fake installer and returns its record once it has ended.
    test::FakeRecord OpenInstaller(const std::string& parameters, const std::string& workDir, size_t runsBefore) {
        ShellOpen(nullptr, "open", upt_, parameters, workDir, SW_SHOWNORMAL);
        const auto records = test::WaitForFakeRecords(folder_.File("upt.log"), runsBefore + 1, kTimeout);
        if (records.size() != runsBefore + 1) throw std::runtime_error("upt.exe did not record its run");
        // The shell keeps no handle for us; take one so the folder is not removed under a running copy.
        const DWORD id = std::stoul(records.back().Get("pid"));
        ScopedHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id));
        if (process && ::WaitForSingleObject(process.Get(), 10000) != WAIT_OBJECT_0)
            ::TerminateProcess(process.Get(), 99);
        return records.back();
    }

    test::TempDir folder_;
    std::string upt_ = CopyFake("upt.exe", folder_);
};

TEST_F(ShellOpenTest, StartsAProgramWithItsParametersAndFolderAndDoesNotWait) {
    const auto plain = OpenInstaller("", "", 0);
    EXPECT_NE(plain.Get("command line").find("upt.exe"), std::string::npos) << plain.Get("command line");

    test::TempDir other;
    const auto full = OpenInstaller("/silent \"two words\"", other.Path(), 1);
    const std::string commandLine = full.Get("command line");
    EXPECT_TRUE(commandLine.ends_with("/silent \"two words\"")) << commandLine;
    EXPECT_EQ(full.Get("folder"), other.Path());
}

TEST_F(ShellOpenTest, AMissingFileRaisesThePlatformMessage) {
    try {
        ShellOpen(nullptr, "open", folder_.File("revLoader.exe"), "", "", SW_SHOWNORMAL);
        FAIL() << "a missing program was reported as started";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.Code(), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
        EXPECT_EQ(std::string(e.what()), PlatformErrorMessage(ERROR_FILE_NOT_FOUND));
        EXPECT_STRNE(e.what(), "");
    }
    EXPECT_THROW(ShellOpen(nullptr, "", folder_.File("no folder\\upt.exe"), "", "", SW_SHOWNORMAL), EOSError);
}

TEST_F(ShellOpenTest, LeavesTheCallersComAsItFoundIt) {
    const auto open = [this] { ShellOpen(nullptr, "open", upt_, "", "", SW_SHOWNORMAL); };
    const auto refused = [this] {
        try {
            ShellOpen(nullptr, "open", folder_.File("missing.exe"), "", "", SW_SHOWNORMAL);
        } catch (const EOSError&) {
        }
    };
    // A thread without COM gets none back, also when the shell refuses.
    EXPECT_EQ(ComStateAfter(DWORD(-1), open), S_OK);
    EXPECT_EQ(ComStateAfter(DWORD(-1), refused), S_OK);
    // A thread with its own apartment keeps it, single- or multithreaded.
    EXPECT_EQ(ComStateAfter(COINIT_APARTMENTTHREADED, open), S_FALSE);
    EXPECT_EQ(ComStateAfter(COINIT_MULTITHREADED, open), S_FALSE);
    EXPECT_EQ(ComStateAfter(COINIT_MULTITHREADED, refused), S_FALSE);
    EXPECT_EQ(test::WaitForFakeRecords(folder_.File("upt.log"), 3, kTimeout).size(), 3u);
    // Let the started copies end before the folder goes.
    for (const auto& record : test::ReadFakeRecords(folder_.File("upt.log"))) {
        ScopedHandle process(::OpenProcess(SYNCHRONIZE, FALSE, std::stoul(record.Get("pid"))));
        if (process) ::WaitForSingleObject(process.Get(), 10000);
    }
}

// A console program run with its standard output and error each read through a pipe of its own.
struct Captured {
    std::string out, err;
    std::optional<DWORD> exitCode;
};

std::string ReadToEnd(HANDLE pipe) {
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(pipe, buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes.append(buffer, got);
    return bytes;
}

Captured RunCaptured(const std::string& exe, const std::string& arguments) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    ScopedHandle outRead, outWrite, errRead, errWrite;
    if (!::CreatePipe(outRead.Put(), outWrite.Put(), &inherit, 0) ||
        !::CreatePipe(errRead.Put(), errWrite.Put(), &inherit, 0))
        RaiseLastPlatformError();
    ::SetHandleInformation(outRead.Get(), HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(errRead.Get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = outWrite.Get();
    startup.hStdError = errWrite.Get();
    std::wstring commandLine = L"\"" + Wide(exe) + L"\" " + Wide(arguments);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &info))
        RaiseLastPlatformError();
    ScopedHandle process(info.hProcess), thread(info.hThread);
    // Ends the program if the test leaves early; a no-op once it has ended.
    struct EndOnExit {
        HANDLE h;
        ~EndOnExit() {
            if (::WaitForSingleObject(h, 0) == WAIT_TIMEOUT) {
                ::TerminateProcess(h, 99);
                ::WaitForSingleObject(h, 5000);
            }
        }
    } end{process.Get()};
    // Only the child holds the write ends now, so the reads end when it does.
    outWrite.Reset();
    errWrite.Reset();

    Captured result;
    std::thread errReader([&] { result.err = ReadToEnd(errRead.Get()); });
    result.out = ReadToEnd(outRead.Get());
    errReader.join();
    DWORD code = 0;
    if (::WaitForSingleObject(process.Get(), 10000) == WAIT_OBJECT_0 && ::GetExitCodeProcess(process.Get(), &code))
        result.exitCode = code;
    return result;
}

// Sets an environment variable for the test's lifetime; children started meanwhile inherit it.
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const std::string& value) : name_(name) {
        ::SetEnvironmentVariableW(name_, Wide(value).c_str());
    }
    ~ScopedEnvironment() { ::SetEnvironmentVariableW(name_, nullptr); }

private:
    const wchar_t* name_;
};

TEST(FakeSteamCmd, WritesTheScriptedBytesExactlyAndEndsWithItsCode) {
    test::TempDir folder;
    const std::string exe = CopyFake("steamcmd.exe", folder);
    test::WriteFile(folder.File("steamcmd.script"),
                    "# a comment, then an empty line\r\n"
                    "\r\n"
                    "crlf Loading Steam API...OK\r\n"
                    "lf only LF\n"
                    "cr 50%\n"
                    "cr@50 60%\n"
                    "none unfinished \n"
                    "crlf \n"
                    "err-crlf to standard error\n"
                    "sleep 30\n"
                    "lf \\\\ \\r\\n \\t \\0 \\x41\\xff\\xC3\\xA9 \xD0\x98\n"
                    "crlf   leading and trailing blanks  \n"
                    "exit 7\n"
                    "crlf never written\n");
    const std::string arguments = "+login anonymous +force_install_dir C:\\GAMES +app_update 740 validate  +quit";
    const Captured run = RunCaptured(exe, arguments);
    EXPECT_EQ(run.out, "Loading Steam API...OK\r\n"
                       "only LF\n"
                       "50%\r"
                       "60%\r"
                       "unfinished \r\n"
                       "\\ \r\n \t \0 A\xff\xC3\xA9 \xD0\x98\n"
                       "  leading and trailing blanks  \r\n"s);
    EXPECT_EQ(run.err, "to standard error\r\n");
    EXPECT_EQ(run.exitCode, std::optional<DWORD>(7));

    const auto records = test::ReadFakeRecords(folder.File("steamcmd.log"));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].program, "steamcmd");
    EXPECT_EQ(records[0].Get("command line"), "\"" + exe + "\" " + arguments);
    EXPECT_EQ(records[0].Get("script"), folder.File("steamcmd.script"));
}

TEST(FakeSteamCmd, TheEnvironmentNamesAnotherScriptAndBadScriptsFail) {
    test::TempDir folder;
    const std::string exe = CopyFake("steamcmd.exe", folder);
    test::WriteFile(folder.File("steamcmd.script"), "lf beside\n");
    test::WriteFile(folder.File("other.script"), "lf named\nexit 4294967295");
    {
        ScopedEnvironment env(L"ORVANTA_FAKE_STEAMCMD_SCRIPT", folder.File("other.script"));
        const Captured run = RunCaptured(exe, "");
        EXPECT_EQ(run.out, "named\n");
        EXPECT_EQ(run.exitCode, std::optional<DWORD>(0xFFFFFFFF));
    }
    {
        ScopedEnvironment env(L"ORVANTA_FAKE_STEAMCMD_SCRIPT", folder.File("missing.script"));
        const Captured run = RunCaptured(exe, "");
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("missing.script"), std::string::npos) << run.err;
        EXPECT_EQ(run.exitCode, std::optional<DWORD>(2));
    }
    for (const char* bad : {"crlf@x text\n", "lf\\q\n", "lf \\x4\n", "print text\n", "exit -1\n", "sleep\n"}) {
        test::WriteFile(folder.File("steamcmd.script"), std::string("lf before\n") + bad + "lf after\n");
        const Captured run = RunCaptured(exe, "");
        EXPECT_EQ(run.out, "before\n") << bad;
        EXPECT_NE(run.err.find("line 2"), std::string::npos) << bad << run.err;
        EXPECT_EQ(run.exitCode, std::optional<DWORD>(2)) << bad;
    }
    const auto records = test::ReadFakeRecords(folder.File("steamcmd.log"));
    ASSERT_EQ(records.size(), 8u);
    EXPECT_EQ(records[0].Get("script"), folder.File("other.script"));
    EXPECT_EQ(records[1].Get("script"), folder.File("missing.script"));
    EXPECT_EQ(records[2].Get("script"), folder.File("steamcmd.script"));
}

TEST(FakeSteamCmd, HangsUntilEndedAndHasABuiltInInstall) {
    test::TempDir folder;
    const std::string exe = CopyFake("steamcmd.exe", folder);
    {
        test::WriteFile(folder.File("steamcmd.script"), "hang\n");
        ChildProcess hanging(exe, "", folder.Path());
        // The record is written just before the script runs, and "hang" is its only line: a
        // program that did not hang would end right after it.
        ASSERT_EQ(test::WaitForFakeRecords(folder.File("steamcmd.log"), 1, kTimeout).size(), 1u);
        EXPECT_FALSE(hanging.WaitForExit(300ms).has_value());
    }
    ASSERT_TRUE(::DeleteFileW(Wide(folder.File("steamcmd.script")).c_str()));
    const Captured run = RunCaptured(exe, "");
    EXPECT_EQ(run.exitCode, std::optional<DWORD>(0)) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(run.out.starts_with("Redirecting stderr to 'logs\\stderr.txt'\r\n")) << run.out;
    EXPECT_NE(run.out.find("progress: 50.00 (4000 / 8000)\r"), std::string::npos) << run.out;
    EXPECT_TRUE(run.out.ends_with("Success! App '740' fully installed.\r\n")) << run.out;
    const auto records = test::ReadFakeRecords(folder.File("steamcmd.log"));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].Get("script"), "built-in");
}

TEST(FakeRevLoader, RecordsItsStartAndTheProfileItWouldRead) {
    test::TempDir game, current;
    const std::string exe = CopyFake("revLoader.exe", game);
    // A profile with line breaks, Cyrillic and a line that looks like a record's end.
    const std::string beside =
        "[steamclient]\r\nPlayerName=\xD0\x98\xD0\xB3\xD1\x80\xD0\xBE\xD0\xBA\r\n=== end ===\r\n";
    const std::string inCurrent = "[Loader]\nProcName=hl2.exe -game cstrike\n\0tail"s;
    test::WriteFile(game.File("rev.ini"), beside);

    const auto run = [&](const std::string& workDir, const std::string& arguments) {
        ChildProcess loader(exe, arguments, workDir);
        EXPECT_EQ(loader.WaitForExit(kTimeout), std::optional<DWORD>(0));
    };
    run(current.Path(), "");  // the working folder has no profile: the one beside the loader
    test::WriteFile(current.File("rev.ini"), inCurrent);
    run(current.Path(), "-one \"two words\"");  // the working folder's profile wins
    ASSERT_TRUE(::DeleteFileW(Wide(game.File("rev.ini")).c_str()));
    ASSERT_TRUE(::DeleteFileW(Wide(current.File("rev.ini")).c_str()));
    run(current.Path(), "");

    const auto records = test::ReadFakeRecords(game.File("revLoader.log"));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].program, "revLoader");
    EXPECT_EQ(records[0].Get("command line"), "\"" + exe + "\"");
    EXPECT_EQ(records[0].Get("folder"), current.Path());
    EXPECT_EQ(records[0].Get("rev.ini from"), "own folder");
    EXPECT_EQ(records[0].Get("rev.ini path"), game.File("rev.ini"));
    EXPECT_EQ(records[0].Get("rev.ini"), beside);

    EXPECT_EQ(records[1].Get("command line"), "\"" + exe + "\" -one \"two words\"");
    EXPECT_EQ(records[1].Get("rev.ini from"), "working folder");
    EXPECT_EQ(records[1].Get("rev.ini path"), current.File("rev.ini"));
    EXPECT_EQ(records[1].Get("rev.ini"), inCurrent);

    EXPECT_EQ(records[2].Get("rev.ini from"), "missing");
    EXPECT_EQ(records[2].Get("rev.ini path"), "");
    EXPECT_EQ(records[2].Get("rev.ini"), "");
    EXPECT_TRUE(records[2].fields.count("rev.ini"));
}

}  // namespace
}  // namespace orv
