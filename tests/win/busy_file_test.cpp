// Files that another program holds for a moment, under Windows: a helper process
// (tests/fakes/fileholder.cpp) opens the file as a scanner does, sharing it for reading only. A
// save, repair or swap that meets it waits until it lets go; one that it holds longer than the
// wait is refused as before, the old file unchanged.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>

#include "fake_records.h"
#include "launcher/base/app_state.h"
#include "launcher/base/errors.h"
#include "launcher/integrity/check_run_platform_win.h"
#include "launcher/platform/busy_file_retry.h"
#include "launcher/platform/files.h"
#include "launcher/platform/scoped_win.h"
#include "launcher/platform/wide_win.h"
#include "launcher/selfupdate/self_update_platform_win.h"
#include "support/process_state.h"
#include "support/saved_files.h"
#include "support/test_files.h"

namespace orv {
namespace {

// Let go a second after it took hold: the save that starts then has a second of its wait to spare.
constexpr DWORD kShortHoldMs = 1000;
constexpr DWORD kLongHoldMs = kBusyFileLimitMs + 3000;

// Starts the helper on `path`: it holds the file `holdMs` and sets the named `event` once it does.
ScopedHandle StartHolder(const std::string& path, DWORD holdMs, const std::wstring& event) {
    std::wstring commandLine = L"\"" + Wide(test::TestProgramFolder() + "\\fileholder.exe") + L"\" \"" + Wide(path) +
                               L"\" " + std::to_wstring(holdMs) + L" " + event;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &info))
        RaiseLastPlatformError();
    const ScopedHandle thread(info.hThread);
    return ScopedHandle(info.hProcess);
}

DWORD ExitCodeOf(HANDLE process) {
    ::WaitForSingleObject(process, 30000);
    DWORD code = 0;
    ::GetExitCodeProcess(process, &code);
    return code;
}

// The helper holding `path`; the constructor returns once it holds the file.
class FileHolder {
public:
    FileHolder(const std::string& path, DWORD holdMs) {
        static int count = 0;
        const std::wstring event = L"orvanta-fileholder-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                   std::to_wstring(++count);
        held_ = ScopedHandle(::CreateEventW(nullptr, TRUE, FALSE, event.c_str()));
        if (!held_) RaiseLastPlatformError();
        process_ = StartHolder(path, holdMs, event);
        const HANDLE either[] = {held_.Get(), process_.Get()};
        if (::WaitForMultipleObjects(2, either, FALSE, 30000) != WAIT_OBJECT_0)
            throw std::runtime_error("the holder did not take hold of " + path + ", exit code " +
                                     std::to_string(ExitCode()));
    }
    ~FileHolder() {
        if (Holding()) ::TerminateProcess(process_.Get(), 99);
        ::WaitForSingleObject(process_.Get(), 10000);
    }
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;

    bool Holding() const { return ::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT; }
    DWORD ExitCode() const { return ExitCodeOf(process_.Get()); }

private:
    ScopedHandle held_;
    ScopedHandle process_;
};

// The helper's exit code on a file that this process holds: 1 when it cannot open it.
DWORD HolderExitOn(const std::string& path) {
    const std::wstring event = L"orvanta-fileholder-refused-" + std::to_wstring(::GetCurrentProcessId());
    const ScopedHandle held(::CreateEventW(nullptr, TRUE, FALSE, event.c_str()));
    const ScopedHandle process = StartHolder(path, 0, event);
    return ExitCodeOf(process.Get());
}

class BusyFileTest : public ::testing::TestWithParam<size_t> {
protected:
    test::ProcessStateGuard state_;
    test::TempDir dir_;
};

// Each rewritten file (settings, rev.ini, the game's config, a repaired game file): held for a
// moment, the save goes through once the holder lets go; held too long, it is refused as before.
TEST_P(BusyFileTest, ASaveWaitsForAHolderThatLetsGoAndReportsOneThatDoesNot) {
    GameFolder = dir_.Path();
    const auto files = test::SavedFiles(SystemCheckRunPlatform({}).replaceFile);
    const test::SavedFile& file = files[GetParam()];
    SCOPED_TRACE(file.what);
    file.prepare();
    file.save(0);
    const std::string first = ReadFileBytes(file.path());
    {
        FileHolder holder(file.path(), kShortHoldMs);
        // Without the wait this save meets the held file and fails.
        ASSERT_TRUE(holder.Holding());
        file.save(1);
        EXPECT_EQ(holder.ExitCode(), 0u);
    }
    const std::string second = ReadFileBytes(file.path());
    EXPECT_NE(second, first);

    {
        FileHolder holder(file.path(), kLongHoldMs);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_ANY_THROW(file.save(0));
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_TRUE(holder.Holding());
        EXPECT_GE(waited, std::chrono::milliseconds(kBusyFileLimitMs - 100));
    }
    EXPECT_EQ(ReadFileBytes(file.path()), second);
    for (const std::string& name : test::LeftoverPaths(file.path())) EXPECT_FALSE(FileExists(name)) << name;
}

INSTANTIATE_TEST_SUITE_P(EveryRewrittenFile, BusyFileTest, ::testing::Range<size_t>(0, 4));

// A read-only file is refused at once, not waited for.
TEST(BusyFile, AReadOnlyFileIsRefusedWithoutWaiting) {
    test::TempDir dir;
    const std::string path = dir.File("settings.ini");
    test::WriteFile(path, "[a]\r\nb=c\r\n");
    test::SetReadOnly(path, true);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(WriteFileReplacing(path, "x"), EOSError);
    EXPECT_FALSE(RemoveFile(path));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kBusyFileLimitMs / 2));
    test::SetReadOnly(path, false);
    EXPECT_EQ(test::ReadFile(path), "[a]\r\nb=c\r\n");
}

// The swap's calls: a held executable is waited for before anything moves; once the launcher holds
// the new executable, a scanner can no longer open it in a way that would refuse its move.
TEST(BusyFile, TheSelfUpdateSwapWaitsForHoldersAndHoldsTheNewExecutable) {
    test::TempDir dir;
    const std::string exe = dir.File("Orvanta.exe");
    const std::string fresh = exe + ".new";
    const std::string old = exe + ".old";
    test::WriteFile(exe, "MZ running");
    test::WriteFile(fresh, "MZ new");
    test::WriteFile(old, "MZ earlier");
    Win32SelfUpdatePlatform platform(nullptr, nullptr);
    {
        FileHolder holder(fresh, kShortHoldMs);
        ASSERT_TRUE(holder.Holding());
        EXPECT_TRUE(platform.Hold(fresh));
    }
    EXPECT_EQ(HolderExitOn(fresh), 1u) << "a scanner opened the held file without delete sharing";
    {
        FileHolder holder(old, kShortHoldMs);
        ASSERT_TRUE(holder.Holding());
        EXPECT_TRUE(platform.Delete(old));
    }
    {
        FileHolder holder(exe, kShortHoldMs);
        ASSERT_TRUE(holder.Holding());
        EXPECT_TRUE(platform.Move(exe, old));
    }
    EXPECT_TRUE(platform.MoveHeld(exe));
    EXPECT_EQ(test::ReadFile(exe), "MZ new");
    EXPECT_EQ(test::ReadFile(old), "MZ running");
    EXPECT_FALSE(test::Exists(fresh));
    EXPECT_FALSE(platform.MoveHeld(exe)) << "nothing is held any more";

    // Held too long: the hold is refused and nothing has moved.
    test::WriteFile(fresh, "MZ newer");
    {
        FileHolder holder(fresh, kLongHoldMs);
        EXPECT_FALSE(platform.Hold(fresh));
        EXPECT_FALSE(platform.MoveHeld(exe));
    }
    EXPECT_EQ(test::ReadFile(exe), "MZ new");
    EXPECT_EQ(test::ReadFile(fresh), "MZ newer");
}

}  // namespace
}  // namespace orv
