// Files that another program holds for a moment, under Windows: a helper process
// (tests/fakes/fileholder.cpp) opens the file as a scanner does, sharing it for reading only. A
// save or repair that meets it waits until it lets go; one that it holds longer than the wait is
// refused as before, the old file unchanged.
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

}  // namespace
}  // namespace orv
