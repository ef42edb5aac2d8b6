// The native tool's libcurl fetcher against the fault server of tests/rig, started for this suite:
// its results take the same steps, length text and progress as the WinInet fetcher's
// (tests/win_net/wininet_fetcher_test.cpp) wherever libcurl tells them. (The fault server answers
// no HEAD request: the tool's Head asks nginx in tests/e2e.)
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback_servers.h"
#include "support/test_files.h"
#include "tools/check.h"

extern char** environ;

namespace orv {
namespace {

using test::Exists;
using test::ReadFile;
using test::WriteFile;

class CurlFetcherTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ready_ = new test::TempDir();
        const std::string readyFile = ready_->File("ready");
        const std::string script = std::string(ORVANTA_TEST_DATA) + "/../rig/fault_server.py";
        std::vector<std::string> args{"python3", script, "--lifetime", "120", "--ready-file", readyFile};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t quiet;
        posix_spawn_file_actions_init(&quiet);
        posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
        if (::posix_spawnp(&pid_, "python3", &quiet, nullptr, argv.data(), environ) != 0) pid_ = 0;
        posix_spawn_file_actions_destroy(&quiet);
        // The server writes its ports once it listens.
        for (int i = 0; pid_ > 0 && i < 400 && ReadyLine(readyFile).empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        const std::string line = ReadyLine(readyFile);
        if (line.empty()) return;
        const size_t closed = line.find(" closed_port=");
        base_ = "http://127.0.0.1:" + line.substr(5, closed - 5) + "/";
        closed_ = "http://127.0.0.1:" + line.substr(closed + 13) + "/data/100";
    }
    static void TearDownTestSuite() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
        delete ready_;
    }
    static std::string ReadyLine(const std::string& path) {
        if (!Exists(path)) return "";
        std::string line = ReadFile(path);
        if (line.find('\n') == std::string::npos) return "";
        return line.substr(0, line.find('\n'));
    }

    void SetUp() override {
        ASSERT_FALSE(base_.empty()) << "the fault server did not start";
        fetcher = check::SystemCheckPlatform().newFetcher();
        target = dir.File("got.lzma");
        WriteFile(target, "old");
    }
    FetchResult Get(const std::string& route) {
        progress.Clear();
        progress.onBlock = [this] {
            if (stopAfter > 0 && progress.written.back() >= stopAfter) stop = true;
        };
        return fetcher->Get(base_ + route, target, stop, progress.Callback());
    }

    static inline pid_t pid_ = 0;
    static inline test::TempDir* ready_ = nullptr;
    static inline std::string base_;
    static inline std::string closed_;

    std::unique_ptr<Fetcher> fetcher;
    test::TempDir dir;
    std::string target;
    std::atomic<bool> stop{false};
    int64_t stopAfter = 0;
    net_test::ProgressLog progress;
};

TEST_F(CurlFetcherTest, WholeBodiesAreSavedWithProgressUpToTheirSize) {
    for (const net_test::WholeBody& body : net_test::kWholeBodies) {
        const FetchResult r = Get(body.route);
        net_test::ExpectWholeBody(body, r, ReadFile(target), progress);
    }
}

TEST_F(CurlFetcherTest, FailuresNameTheirStepAndLeaveNothing) {
    const struct {
        std::string route;
        FetchStep step;
        std::string error;
    } cases[] = {
        {"status/404", FetchStep::Status, "HTTP status 404"},
        {"short/20000/9000", FetchStep::Short, "the body ended after 9000 of 20000 bytes"},
        {"reset/20000/9000", FetchStep::Read, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.route);
        WriteFile(target, "old");
        const FetchResult r = Get(c.route);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.failed, c.step);
        if (!c.error.empty()) {
            EXPECT_EQ(r.error, c.error);
        }
        EXPECT_FALSE(Exists(target));
    }
    const FetchResult closed = fetcher->Get(closed_, target, stop);
    EXPECT_EQ(closed.failed, FetchStep::Request);
    EXPECT_EQ(closed.platformCode, static_cast<uint32_t>(ECONNREFUSED));

    stopAfter = 1;
    const FetchResult stopped = Get("slow/300000/3/200");
    EXPECT_TRUE(stopped.stopped);
    EXPECT_EQ(stopped.failed, FetchStep::None);
    EXPECT_FALSE(Exists(target));
}

}  // namespace
}  // namespace orv
