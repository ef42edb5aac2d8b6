// The native tool's libcurl client of single requests against the fault server of tests/rig,
// started for this suite: its results take the same steps, length text and progress as the WinInet
// client's (tests/win_net) wherever libcurl tells them, and a range answer puts the body where
// resume_rules.h says. (The fault server answers no HEAD request: the tool's Head asks nginx in
// tests/e2e.)
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
#include "launcher/net/rate_limit.h"
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
        fetcher = NewClient();
        target = dir.File("got.lzma");
        WriteFile(target, "old");
    }
    std::unique_ptr<PartFetcher> NewClient(uint32_t receiveMs = kReceiveTimeLimitMs,
                                           std::shared_ptr<RateLimiter> rate = nullptr) const {
        check::ConnectionLimits limits;
        limits.receiveMs = receiveMs;
        limits.rate = std::move(rate);
        return check::SystemCheckPlatform().newPartFetcher(limits);
    }
    // One request from `offset` on; `log` gets "answer" when it is told the answer and "block" for
    // each block written.
    FetchResult Fetch(const std::string& route, int64_t offset = 0, const std::string& ifRange = "",
                      PartFetcher* client = nullptr) {
        progress.Clear();
        log.clear();
        progress.onBlock = [this] {
            log.push_back("block");
            if (stopAfter > 0 && progress.written.back() >= stopAfter) stop = true;
        };
        FetchRequest request;
        request.url = base_ + route;
        request.path = target;
        request.offset = offset;
        request.ifRange = ifRange;
        request.onAnswer = [this](const FetchResult& answer) {
            log.push_back("answer");
            answered = answer;
        };
        return (client ? *client : *fetcher).Fetch(request, stop, progress.Callback());
    }

    static inline pid_t pid_ = 0;
    static inline test::TempDir* ready_ = nullptr;
    static inline std::string base_;
    static inline std::string closed_;

    std::unique_ptr<PartFetcher> fetcher;
    test::TempDir dir;
    std::string target;
    std::atomic<bool> stop{false};
    int64_t stopAfter = 0;
    net_test::ProgressLog progress;
    std::vector<std::string> log;
    FetchResult answered;
};

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST_F(CurlFetcherTest, WholeBodiesAreSavedWithProgressUpToTheirSize) {
    for (const net_test::WholeBody& body : net_test::kWholeBodies) {
        const FetchResult r = Fetch(body.route);
        net_test::ExpectWholeBody(body, r, ReadFile(target), progress);
        EXPECT_EQ(r.written, static_cast<int64_t>(body.saved));
        EXPECT_EQ(log.front(), "answer") << body.route << ": told before the first byte";
    }
}

TEST_F(CurlFetcherTest, FailuresNameTheirStepAndLeaveWhatCame) {
    const struct {
        std::string route;
        FetchStep step;
        std::string error;
        size_t kept;
    } cases[] = {
        {"status/404", FetchStep::Status, "HTTP status 404", 0},  // the error page is not the file
        {"short/20000/9000", FetchStep::Short, "the body ended after 9000 of 20000 bytes", 9000},
        {"reset/20000/9000", FetchStep::Read, "", 9000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.route);
        WriteFile(target, "old");
        const FetchResult r = Fetch(c.route);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.failed, c.step);
        if (!c.error.empty()) {
            EXPECT_EQ(r.error, c.error);
        }
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.written, static_cast<int64_t>(c.kept));
        EXPECT_TRUE(net_test::SameBytes(ReadFile(target), net_test::Pattern(c.kept)));
    }
    FetchRequest refused;
    refused.url = closed_;
    refused.path = target;
    const FetchResult closed = fetcher->Fetch(refused, stop, {});
    EXPECT_EQ(closed.failed, FetchStep::Request);
    EXPECT_EQ(closed.platformCode, static_cast<uint32_t>(ECONNREFUSED));
    EXPECT_EQ(closed.status, 0);

    stopAfter = 1;
    const FetchResult stopped = Fetch("slow/300000/3/200");
    EXPECT_TRUE(stopped.stopped);
    EXPECT_EQ(stopped.failed, FetchStep::None);
    EXPECT_EQ(static_cast<int64_t>(ReadFile(target).size()), stopped.written) << "what came stays";
}

// The file holds the first `offset` bytes of the body and stale bytes after them, as a download
// that broke off on a slow disk may leave.
TEST_F(CurlFetcherTest, ARangeAnswerDecidesWhereTheBodyGoes) {
    const std::string body = net_test::Pattern(100000);
    const std::string before = body.substr(0, 40000) + "stale";
    const struct {
        std::string route;
        int64_t offset;
        std::string ifRange;
        FetchStep failed;
        int status;
        std::string file;  // after the call
        int64_t written;
        int64_t received;  // -1: not looked at (an error page's bytes)
        std::string contentRange;
    } cases[] = {
        {"file/ra/-/100000", 40000, "\"v0\"", FetchStep::None, 206, body, 100000, 60000, "bytes 40000-99999/100000"},
        {"file/rb/-/100000", 40000, "", FetchStep::None, 206, body, 100000, 60000, "bytes 40000-99999/100000"},
        {"file/rc/norange/100000", 40000, "\"v0\"", FetchStep::None, 200, body, 100000, 100000, ""},
        {"file/rd/-/100000", 40000, "\"v9\"", FetchStep::None, 200, body, 100000, 100000, ""},  // it changed
        {"file/re/-/40000", 40000, "\"v0\"", FetchStep::Status, 416, before, 40000, 0, "bytes */40000"},
        {"status/404", 40000, "", FetchStep::Status, 404, before, 40000, -1, ""},
        {"file/rf/cut=70000/100000", 40000, "\"v0\"", FetchStep::Short, 206, body.substr(0, 70000), 70000, 30000,
         "bytes 40000-99999/100000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.route);
        WriteFile(target, before);
        const FetchResult r = Fetch(c.route, c.offset, c.ifRange);
        EXPECT_EQ(r.ok, c.failed == FetchStep::None) << r.error;
        EXPECT_EQ(r.failed, c.failed);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.contentRange, c.contentRange);
        EXPECT_TRUE(net_test::SameBytes(ReadFile(target), c.file));
        EXPECT_EQ(r.written, c.written);
        if (c.received >= 0) {
            EXPECT_EQ(r.received, c.received);
        }
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.front(), "answer");
        EXPECT_EQ(answered.status, c.status);
        EXPECT_EQ(answered.contentRange, c.contentRange);
        if (c.status == 206) {
            ASSERT_FALSE(progress.written.empty());
            EXPECT_GT(progress.written.front(), c.offset) << "counted from the file's first byte";
        }
    }
}

TEST_F(CurlFetcherTest, TheValidatorsOfTheAnswerAreGivenAndTheRangeIsAskedWithThem) {
    const struct {
        std::string route;
        std::string etag;
        bool lastModified;
    } cases[] = {
        {"file/va/-/10", "\"v0\"", true},
        {"file/vb/weak/10", "W/\"v0\"", true},
        {"file/vc/noetag,nolastmod/10", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.route);
        const FetchResult r = Fetch(c.route);
        EXPECT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.etag, c.etag);
        EXPECT_EQ(r.lastModified.empty(), !c.lastModified) << r.lastModified;
        EXPECT_EQ(answered.etag, c.etag);
    }
    // The echo is a 200, so it is the file: what the request said.
    WriteFile(target, "12345");
    const FetchResult echo = Fetch("echo", 5, "\"v0\"");
    EXPECT_EQ(echo.status, 200);
    const std::string sent = ReadFile(target);
    EXPECT_NE(sent.find("Range: bytes=5-\n"), std::string::npos) << sent;
    EXPECT_NE(sent.find("If-Range: \"v0\"\n"), std::string::npos) << sent;
}

TEST_F(CurlFetcherTest, ASilentServerRunsOutOfTheReceiveLimit) {
    const std::unique_ptr<PartFetcher> quick = NewClient(1000);
    const struct {
        std::string route;
        FetchStep step;
        int status;
        int64_t written;
    } cases[] = {
        {"file/ta/stall=30000/100000", FetchStep::Read, 200, 30000},
        {"silent", FetchStep::Request, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.route);
        const Clock::time_point start = Clock::now();
        const FetchResult r = Fetch(c.route, 0, "", quick.get());
        EXPECT_EQ(r.failed, c.step);
        EXPECT_TRUE(r.timedOut) << r.error;
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.written, c.written);
        // libcurl judges the speed over a few seconds of samples, so the limit is felt late.
        EXPECT_LT(SecondsSince(start), 12.0);
    }
}

TEST_F(CurlFetcherTest, TheSharedCapHoldsBackEveryConnectionAndAStopEndsItsWait) {
    const auto rate = std::make_shared<RateLimiter>(128 * 1024);
    const std::unique_ptr<PartFetcher> other = NewClient(kReceiveTimeLimitMs, rate);
    const std::unique_ptr<PartFetcher> capped = NewClient(kReceiveTimeLimitMs, rate);
    // Two connections of 192 KiB each under one cap of 128 KiB/s: three seconds, not 1.5.
    const Clock::time_point start = Clock::now();
    FetchResult second;
    std::thread beside([&] {
        FetchRequest request;
        request.url = base_ + "data/196608";
        request.path = dir.File("beside");
        std::atomic<bool> never{false};
        second = other->Fetch(request, never, {});
    });
    const FetchResult first = Fetch("data/196608", 0, "", capped.get());
    beside.join();
    EXPECT_TRUE(first.ok) << first.error;
    EXPECT_TRUE(second.ok) << second.error;
    EXPECT_GT(SecondsSince(start), 2.5);

    const std::unique_ptr<PartFetcher> crawling = NewClient(kReceiveTimeLimitMs, std::make_shared<RateLimiter>(1024));
    stopAfter = 1;
    const Clock::time_point stopping = Clock::now();
    const FetchResult stopped = Fetch("data/300000", 0, "", crawling.get());
    EXPECT_TRUE(stopped.stopped);
    EXPECT_LT(SecondsSince(stopping), 2.0);
}

}  // namespace
}  // namespace orv
