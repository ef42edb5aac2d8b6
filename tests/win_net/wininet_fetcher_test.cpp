// The download threads' WinInet fetcher against the loopback servers of tests/rig, with the options
// of the headless check (only a 200 answer is the file) and of the launcher (any answer's body).
#include "launcher/net/wininet_fetcher_win.h"

#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "game_profile.h"
#include "launcher/platform/files.h"
#include "support/loopback_servers.h"
#include "support/test_files.h"

namespace orv {
namespace {

using namespace net_test;
using test::Exists;
using test::ReadFile;
using test::WriteFile;
using Clock = std::chrono::steady_clock;

const std::string kToolAgent = std::string("orvanta-tool ") + LauncherVersion;
// Short, so that the silent cases run quickly, and what Wine adds around it on a loaded machine.
constexpr uint32_t kTimeoutMs = 1500;
constexpr auto kSlack = std::chrono::milliseconds(2500);

class WinInetFetcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Env("ORVANTA_FAULT_URL").empty()) << "run through tests/rig/with-servers.sh";
        target = dir.File("got.lzma");
        WriteFile(target, "old");
    }
    std::unique_ptr<Fetcher> New(bool anyStatus = false, uint32_t timeoutMs = kTimeoutMs) {
        return NewWinInetFetcher({kToolAgent, anyStatus, timeoutMs});
    }
    FetchResult Get(Fetcher& fetcher, const std::string& url) {
        progress.Clear();
        return fetcher.Get(url, target, stop, progress.Callback());
    }

    test::TempDir dir;
    std::string target;
    std::atomic<bool> stop{false};
    ProgressLog progress;
};

TEST_F(WinInetFetcherTest, WholeBodiesAreSavedWithProgressUpToTheirSize) {
    const auto fetcher = New();
    for (const WholeBody& body : kWholeBodies) {
        const FetchResult r = Get(*fetcher, Fault(body.route));
        ExpectWholeBody(body, r, ReadFile(target), progress);
    }
    // A length that is not a number is given as it came, and the body is taken to the close.
    const FetchResult odd = Get(*fetcher, Fault("badlength?value=12x"));
    EXPECT_TRUE(odd.ok);
    EXPECT_EQ(odd.lengthText, "12x");
    EXPECT_EQ(odd.length, -1);
}

TEST_F(WinInetFetcherTest, OnlyTheLauncherSavesAnErrorPage) {
    const struct {
        const char* route;
        bool anyStatus;
        int status;
    } cases[] = {{"status/404", false, 404}, {"status/500", false, 500}, {"status/404", true, 404},
                 {"status/302", false, 200}};  // a redirect is followed
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.route) + (c.anyStatus ? " any status" : " 200 only"));
        const auto fetcher = New(c.anyStatus);
        WriteFile(target, "old");
        const FetchResult r = Get(*fetcher, Fault(c.route));
        EXPECT_EQ(r.status, c.status);
        const bool saved = c.anyStatus || c.status == 200;
        EXPECT_EQ(r.ok, saved);
        if (saved) {
            EXPECT_NE(ReadFile(target).find(std::to_string(c.status)), std::string::npos);
        } else {
            EXPECT_EQ(r.failed, FetchStep::Status);
            EXPECT_EQ(r.error, "HTTP status " + std::to_string(c.status));
            EXPECT_FALSE(Exists(target));
        }
        const FetchResult head = fetcher->Head(Fault(c.route));
        EXPECT_EQ(head.status, c.status);
        EXPECT_EQ(head.ok, saved);
        EXPECT_EQ(head.failed, saved ? FetchStep::None : FetchStep::Status);
    }
}

// Whatever fails, nothing stays at the target, and the step and the platform's code say what.
TEST_F(WinInetFetcherTest, FailuresNameTheirStepAndLeaveNothing) {
    const struct {
        std::string url;
        FetchStep step;
        std::vector<DWORD> codes;  // any one of them; empty: no code
        std::string error;         // what the error begins with
    } cases[] = {
        {Closed(), FetchStep::Request, {ERROR_INTERNET_CANNOT_CONNECT}, "error 12029: "},
        {"not a url", FetchStep::Request, {ERROR_INTERNET_UNRECOGNIZED_SCHEME, ERROR_INTERNET_INVALID_URL}, "error 120"},
        {Fault("short/20000/9000"), FetchStep::Short, {}, "the body ended after 9000 of 20000 bytes"},
        {Fault("reset/20000/9000"), FetchStep::Read, {WSAECONNRESET, ERROR_INTERNET_CONNECTION_RESET}, "error "},
        // Windows names the time-out; Wine 8 reports it as a connection it aborted, or as the
        // socket's own time-out in the body.
        {Fault("silent"), FetchStep::Request, {ERROR_INTERNET_TIMEOUT, ERROR_INTERNET_CONNECTION_ABORTED}, "error 120"},
        {Fault("stall/150000/8192"), FetchStep::Read,
         {ERROR_INTERNET_TIMEOUT, ERROR_INTERNET_CONNECTION_ABORTED, WSAETIMEDOUT}, "error "},
    };
    const auto fetcher = New();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        WriteFile(target, "old");
        const Clock::time_point start = Clock::now();
        const FetchResult r = Get(*fetcher, c.url);
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kTimeoutMs) + kSlack);
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(r.stopped);
        EXPECT_EQ(r.failed, c.step);
        EXPECT_EQ(r.error.rfind(c.error, 0), 0u) << r.error;
        if (c.codes.empty()) {
            EXPECT_EQ(r.platformCode, 0u);
        } else {
            EXPECT_NE(std::find(c.codes.begin(), c.codes.end(), r.platformCode), c.codes.end()) << r.platformCode;
            EXPECT_NE(r.error.find(": ", 6), std::string::npos) << "the platform's text follows its code";
        }
        EXPECT_FALSE(Exists(target));
    }
    const FetchResult head = fetcher->Head(Closed());
    EXPECT_EQ(head.failed, FetchStep::Request);
    EXPECT_EQ(head.platformCode, static_cast<uint32_t>(ERROR_INTERNET_CANNOT_CONNECT));

    const std::string missing = dir.File("no such folder\\x.lzma");
    const FetchResult file = fetcher->Get(Fault("data/10"), missing, stop);
    EXPECT_EQ(file.failed, FetchStep::File);
    EXPECT_EQ(file.platformCode, static_cast<uint32_t>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(Exists(missing));
}

// A stop from another thread while the server is silent, before its answer or in the body, ends
// the call within one time-out, with nothing left; one set before the call ends it at once.
TEST_F(WinInetFetcherTest, StopFromAnotherThreadEndsASilentTransferSoon) {
    const auto fetcher = New();
    for (const char* route : {"silent", "stall/150000/8192"}) {
        SCOPED_TRACE(route);
        stop = false;
        std::atomic<int64_t> written{0};
        std::atomic<bool> done{false};
        // The target exists once the call has begun; the stall's bytes once its body has.
        const int64_t wanted = std::string(route) == "silent" ? 0 : 8192;
        RemoveFile(target);
        std::thread stopper([&] {
            while (!done && !(Exists(target) && written >= wanted)) std::this_thread::yield();
            stop = true;
        });
        const Clock::time_point start = Clock::now();
        const FetchResult r = fetcher->Get(Fault(route), target, stop, [&](int64_t n, const std::string&) { written = n; });
        done = true;
        stopper.join();
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kTimeoutMs) + kSlack);
        EXPECT_TRUE(r.stopped);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.failed, FetchStep::None);
        EXPECT_FALSE(Exists(target));
    }
    stop = true;
    WriteFile(target, "old");
    const FetchResult early = Get(*fetcher, Fault("data/100"));
    EXPECT_TRUE(early.stopped);
    EXPECT_FALSE(Exists(target));
}

// Made on one thread, the fetcher belongs to the one that fetches first: its session serves that
// thread's requests one after another, failures included, and refuses any other thread's.
TEST_F(WinInetFetcherTest, OneSessionServesItsThreadsRequestsInTurn) {
    std::unique_ptr<Fetcher> fetcher = New();
    std::promise<void> fetched;
    std::promise<void> refused;
    std::thread owner([&] {
        const std::string agent = "agent?is=orvanta-tool%20" + std::string(LauncherVersion);
        for (const std::string& route : {std::string("data/20000?seed=1"), agent, std::string("data/30000?seed=2")}) {
            const FetchResult r = Get(*fetcher, Fault(route));
            EXPECT_TRUE(r.ok) << route << ": " << r.error;
            if (route.rfind("data/30000", 0) == 0) {
                EXPECT_TRUE(SameBytes(ReadFile(target), Pattern(30000, 2)));
            }
            EXPECT_EQ(Get(*fetcher, Closed()).failed, FetchStep::Request);
        }
        const FetchResult head = fetcher->Head(Fault("data/5000"));
        EXPECT_TRUE(head.ok);
        EXPECT_EQ(head.length, 5000);
        EXPECT_EQ(head.lengthText, "5000");
        fetched.set_value();
        refused.get_future().wait();
        fetcher.reset();  // the session closes on its own thread
    });
    fetched.get_future().wait();
    const FetchResult other = fetcher->Get(Fault("data/10"), dir.File("other"), stop);
    refused.set_value();
    owner.join();
    EXPECT_EQ(other.failed, FetchStep::Request);
    EXPECT_FALSE(Exists(dir.File("other")));
}

// nginx keeps the connection open between the answers: each body ends at its length, and the next
// request goes over the same session.
TEST_F(WinInetFetcherTest, KeptConnectionCarriesOneBodyAfterAnother) {
    const std::string root = Env("ORVANTA_NGINX_ROOT");
    ASSERT_FALSE(root.empty()) << "run through tests/rig/with-servers.sh";
    // Wine shows the host's root folder as drive Z:.
    std::string served = "Z:" + root + "/fetcher-test.bin";
    std::replace(served.begin(), served.end(), '/', '\\');
    const std::string body = Pattern((1 << 20) + 1000, 41);
    WriteFile(served, body);
    const auto fetcher = New();
    for (int round = 0; round < 2; ++round) {
        const FetchResult r = Get(*fetcher, Env("ORVANTA_NGINX_URL") + "fetcher-test.bin");
        ASSERT_TRUE(r.ok) << round << ": " << r.error;
        EXPECT_EQ(r.length, static_cast<int64_t>(body.size()));
        EXPECT_TRUE(SameBytes(ReadFile(target), body)) << round;
        EXPECT_EQ(progress.written.back(), r.length) << round;
    }
    RemoveFile(served);
}

TEST_F(WinInetFetcherTest, AsksForAFreshCopyUnderTheGivenName) {
    const auto fetcher = New();
    ASSERT_TRUE(Get(*fetcher, Fault("echo")).ok);
    const std::string request = ReadFile(target);
    EXPECT_NE(request.find("User-Agent: " + kToolAgent + "\n"), std::string::npos) << request;
    EXPECT_NE(request.find("Pragma: no-cache"), std::string::npos) << request;
}

}  // namespace
}  // namespace orv
