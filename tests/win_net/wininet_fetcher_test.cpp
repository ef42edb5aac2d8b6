// The download threads' WinInet fetcher against the loopback servers of tests/rig, with the options
// of the headless check (only a 200 answer is the file) and of the launcher (any answer's body).
#include "launcher/net/wininet_fetcher_win.h"

#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "game_profile.h"
#include "launcher/net/rate_limit.h"
#include "launcher/net/resume_rules.h"
#include "launcher/net/timed_request_win.h"
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
// Ten times what a stop may take: a stop that had to wait for a limit shows. Under Wine the calls
// a closed request leaves behind run on to WinInet's own time-outs, so not the full 30 s.
constexpr uint32_t kLongLimitMs = 5000;

// A fault server id that no other request of this server's life has used.
std::string NewId() {
    static std::atomic<int> next{0};
    return "wi" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(next++);
}
// The id of a "file/<id>/..." route.
std::string IdOf(const std::string& route) {
    const size_t from = route.find('/') + 1;
    return route.substr(from, route.find('/', from) - from);
}

// What the fault server tells of the requests for an id, asked on the calling thread.
struct Stats {
    int requests = -1;
    std::string offsets;  // the JSON list as it came: "[0, 100000]"
};
Stats ServerStats(const std::string& id) {
    test::TempDir dir;
    const std::string path = dir.File("stats.json");
    const std::atomic<bool> never{false};
    Stats stats;
    WinInetFetcherOptions options;
    options.agent = "stats";
    if (!NewWinInetFetcher(options)->Get(Fault("stats/" + id), path, never).ok) return stats;
    const std::string json = ReadFile(path);
    const size_t requests = json.find("\"requests\": ");
    const size_t offsets = json.find("\"offsets\": ");
    if (requests == std::string::npos || offsets == std::string::npos) return stats;
    stats.requests = std::atoi(json.c_str() + requests + 12);
    stats.offsets = json.substr(offsets + 11, json.find(']', offsets) + 1 - (offsets + 11));
    return stats;
}

class WinInetFetcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Env("ORVANTA_FAULT_URL").empty()) << "run through tests/rig/with-servers.sh";
        target = dir.File("got.lzma");
        WriteFile(target, "old");
    }
    std::unique_ptr<Fetcher> New(bool anyStatus = false, uint32_t timeoutMs = kTimeoutMs) {
        return NewWinInetFetcher({kToolAgent, anyStatus, timeoutMs, timeoutMs, nullptr});
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
        ASSERT_TRUE(r.ok) << body.route << ": " << r.error;
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
        bool timedOut = false;
    } cases[] = {
        {Closed(), FetchStep::Request, {ERROR_INTERNET_CANNOT_CONNECT}, "error 12029: "},
        {"not a url", FetchStep::Request, {ERROR_INTERNET_UNRECOGNIZED_SCHEME, ERROR_INTERNET_INVALID_URL}, "error 120"},
        {Fault("short/20000/9000"), FetchStep::Short, {}, "the body ended after 9000 of 20000 bytes"},
        {Fault("reset/20000/9000"), FetchStep::Read, {WSAECONNRESET, ERROR_INTERNET_CONNECTION_RESET}, "error "},
        // The client's own limits, not the socket's, end a silent server.
        {Fault("silent"), FetchStep::Request, {ERROR_INTERNET_TIMEOUT}, "error 12002: ", true},
        {Fault("stall/150000/8192"), FetchStep::Read, {ERROR_INTERNET_TIMEOUT}, "error 12002: ", true},
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
        EXPECT_EQ(r.timedOut, c.timedOut);
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
// the call at once, however long the limits, with nothing left; one set before the call ends it
// before any request.
TEST_F(WinInetFetcherTest, StopFromAnotherThreadEndsASilentTransferAtOnce) {
    const struct {
        std::string route;
        bool sent;       // stopped once the server has the request, before any answer
        int64_t bytes;   // stopped once this much of the body has come
    } cases[] = {
        {"file/" + NewId() + "/stallhead/1000", true, 0},
        {"stall/150000/8192", false, 8192},
        {"file/" + NewId() + "/stall=50000/200000", false, 50000},
    };
    const auto fetcher = NewWinInetFetcher({kToolAgent, false, kLongLimitMs, kLongLimitMs, nullptr});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.route);
        stop = false;
        std::atomic<int64_t> written{0};
        std::atomic<bool> done{false};
        Clock::time_point stoppedAt = Clock::now();
        std::thread stopper([&] {
            while (!done && written < c.bytes) std::this_thread::yield();
            while (!done && c.sent && ServerStats(IdOf(c.route)).requests < 1) std::this_thread::yield();
            stoppedAt = Clock::now();
            stop = true;
        });
        const FetchResult r = fetcher->Get(Fault(c.route), target, stop, [&](int64_t n, const std::string&) { written = n; });
        const Clock::time_point end = Clock::now();
        done = true;
        stopper.join();
        EXPECT_LT(end - stoppedAt, std::chrono::milliseconds(500));
        EXPECT_TRUE(r.stopped);
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.failed, FetchStep::None);
        EXPECT_FALSE(Exists(target));
    }
    stop = true;
    WriteFile(target, "old");
    const FetchResult early = Get(*fetcher, Fault("data/100"));
    EXPECT_TRUE(early.stopped);
    EXPECT_EQ(early.tries, 0);
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

// ---- The part fetcher: requests for the rest of a body, time limits and the cap

class WinInetPartFetcherTest : public WinInetFetcherTest {
protected:
    std::unique_ptr<PartFetcher> NewPart(uint32_t receiveMs = kReceiveTimeLimitMs,
                                         std::shared_ptr<RateLimiter> limiter = nullptr) {
        return NewWinInetPartFetcher({kToolAgent, false, kConnectTimeLimitMs, receiveMs, std::move(limiter)});
    }
    FetchResult Fetch(PartFetcher& fetcher, const std::string& url, int64_t offset = 0, const std::string& ifRange = {}) {
        FetchRequest request;
        request.url = url;
        request.path = target;
        request.offset = offset;
        request.ifRange = ifRange;
        // What the file held when the answer was told: nothing of this answer's body yet.
        request.onAnswer = [this](const FetchResult& answer) {
            answers.push_back(answer);
            heldAtAnswer.push_back(ProbeFile(target).size);
        };
        progress.Clear();
        return fetcher.Fetch(request, stop, progress.Callback());
    }

    std::vector<FetchResult> answers;
    std::vector<int64_t> heldAtAnswer;
};

constexpr size_t kBody = 300000;
constexpr size_t kCut = 100000;

// A body cut off stays as far as it came; the request for the rest goes on with it, or starts
// again from the first byte, as the answer says.
TEST_F(WinInetPartFetcherTest, TheRestOfACutBodyAppendsOrRestarts) {
    const struct {
        const char* name;
        std::string opts;
        bool validator;   // If-Range names the first answer's validator
        int status;       // of the second answer
        unsigned seed;    // of the whole body that ends at the path
    } cases[] = {
        {"206 on a strong ETag", "cut=100000", true, 206, 0},
        {"206 on Last-Modified (weak ETag)", "cut=100000,weak", true, 206, 0},
        {"206 without If-Range", "cut=100000", false, 206, 0},
        {"range ignored: 200 from the start", "cut=100000,norange", true, 200, 0},
        {"body changed: If-Range fails, 200", "cut=100000,changes=1", true, 200, 1},
    };
    const auto fetcher = NewPart();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        answers.clear();
        heldAtAnswer.clear();
        const std::string url = Fault("file/" + NewId() + "/" + c.opts + "/" + std::to_string(kBody));
        const FetchResult first = Fetch(*fetcher, url);
        ASSERT_EQ(first.failed, FetchStep::Short) << first.error;
        EXPECT_EQ(first.written, static_cast<int64_t>(kCut));
        EXPECT_EQ(first.received, static_cast<int64_t>(kCut));
        EXPECT_TRUE(SameBytes(ReadFile(target), Pattern(kCut))) << "what came stays";
        EXPECT_EQ(heldAtAnswer.front(), 0);

        const std::string validator = c.validator ? IfRangeValidator(first.etag, first.lastModified) : "";
        EXPECT_EQ(validator.empty(), !c.validator);
        const FetchResult second = Fetch(*fetcher, url, kCut, validator);
        EXPECT_TRUE(second.ok) << second.error;
        EXPECT_EQ(second.status, c.status);
        EXPECT_EQ(second.tries, 1);
        ASSERT_EQ(answers.size(), 2u);
        EXPECT_EQ(heldAtAnswer.back(), static_cast<int64_t>(kCut)) << "told before the file is touched";
        EXPECT_EQ(second.written, static_cast<int64_t>(kBody));
        if (c.status == 206) {
            EXPECT_EQ(second.contentRange, "bytes 100000-299999/300000");
            EXPECT_EQ(second.received, static_cast<int64_t>(kBody - kCut));
            EXPECT_GT(progress.written.front(), static_cast<int64_t>(kCut)) << "counted from the file's first byte";
        } else {
            EXPECT_EQ(second.received, static_cast<int64_t>(kBody));
        }
        EXPECT_TRUE(SameBytes(ReadFile(target), Pattern(kBody, c.seed)));
        EXPECT_EQ(ServerStats(IdOf(url.substr(Fault("").size()))).offsets, "[0, 100000]");
    }
}

TEST_F(WinInetPartFetcherTest, ARefusedRangeLeavesTheFileAsItWas) {
    const auto fetcher = NewPart();
    const std::string whole = Pattern(kBody);
    const struct {
        const char* name;
        std::string url;
        int64_t offset;
        int status;
    } cases[] = {
        // The file is whole already: the server has nothing from there on.
        {"416 past the end", Fault("file/" + NewId() + "/-/" + std::to_string(kBody)), static_cast<int64_t>(kBody), 416},
        {"an error page", Fault("status/404"), 1000, 404},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(target, whole);
        const FetchResult r = Fetch(*fetcher, c.url, c.offset, "\"v0\"");
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.failed, FetchStep::Status);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.error.rfind("HTTP status " + std::to_string(c.status), 0), 0u) << r.error;
        EXPECT_EQ(r.written, static_cast<int64_t>(kBody));
        EXPECT_TRUE(SameBytes(ReadFile(target), whole));
    }
}

// A server that goes silent, before its answer or in the body, fails the request at its limit,
// marked as a time-out and with what came kept.
TEST_F(WinInetPartFetcherTest, ASilentServerTimesOutAtTheLimit) {
    constexpr uint32_t kLimitMs = 1000;
    const struct {
        std::string opts;
        FetchStep step;
        int64_t kept;
    } cases[] = {{"stallhead", FetchStep::Request, 0}, {"stall=50000", FetchStep::Read, 50000}};
    const auto fetcher = NewPart(kLimitMs);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.opts);
        const Clock::time_point start = Clock::now();
        const FetchResult r = Fetch(*fetcher, Fault("file/" + NewId() + "/" + c.opts + "/200000"));
        const auto took = Clock::now() - start;
        EXPECT_GE(took, std::chrono::milliseconds(kLimitMs));
        EXPECT_LT(took, std::chrono::milliseconds(kLimitMs) + kSlack);
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.timedOut);
        EXPECT_EQ(r.failed, c.step);
        EXPECT_EQ(r.platformCode, static_cast<uint32_t>(ERROR_INTERNET_TIMEOUT));
        EXPECT_EQ(r.written, c.kept);
        EXPECT_TRUE(SameBytes(ReadFile(target), Pattern(static_cast<size_t>(c.kept))));
    }
}

// Every byte read is taken from the limiter: on a clock that moves only while the limiter waits, a
// body takes as long as its size at the cap.
TEST_F(WinInetPartFetcherTest, TheCapIsTakenFromForEveryRead) {
    constexpr uint64_t kRate = 100000;
    RateLimiter::Clock::time_point now{};
    RateLimiter::Clock::duration waited{};
    auto limiter = std::make_shared<RateLimiter>(
        kRate, [&] { return now; },
        [&](RateLimiter::Clock::duration d) {
            now += d;
            waited += d;
        });
    const auto fetcher = NewPart(kReceiveTimeLimitMs, limiter);
    const FetchResult r = Fetch(*fetcher, Fault("data/" + std::to_string(kBody)));
    ASSERT_TRUE(r.ok) << r.error;
    const double seconds = std::chrono::duration<double>(waited).count();
    const double expected = static_cast<double>(kBody) / kRate;
    EXPECT_GT(seconds, expected * 0.8);
    EXPECT_LT(seconds, expected * 1.1);
}

// The cap on the real clock against nginx: over ten seconds in the midst of a large body the rate
// comes within a tenth of the cap, in reads sized for it.
TEST_F(WinInetPartFetcherTest, TheCapHoldsOverTenSecondsAgainstNginx) {
    const std::string root = Env("ORVANTA_NGINX_ROOT");
    ASSERT_FALSE(root.empty()) << "run through tests/rig/with-servers.sh";
    std::string served = "Z:" + root + "/capped.bin";
    std::replace(served.begin(), served.end(), '/', '\\');
    constexpr uint64_t kRate = 2 * 1024 * 1024;
    constexpr size_t kSize = 28 * 1024 * 1024;  // 14 s at the cap
    WriteFile(served, Pattern(kSize, 7));
    const auto fetcher = NewPart(kReceiveTimeLimitMs, std::make_shared<RateLimiter>(kRate));
    std::vector<std::pair<Clock::time_point, int64_t>> seen;
    FetchRequest request;
    request.url = Env("ORVANTA_NGINX_URL") + "capped.bin";
    request.path = target;
    const FetchResult r = fetcher->Fetch(request, stop, [&](int64_t written, const std::string&) {
        seen.emplace_back(Clock::now(), written);
    });
    RemoveFile(served);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_FALSE(seen.empty());
    // From two seconds in, so that the start of the transfer does not count.
    const Clock::time_point from = seen.front().first + std::chrono::seconds(2);
    const Clock::time_point to = from + std::chrono::seconds(10);
    const auto at = [&](Clock::time_point t) {
        int64_t bytes = 0;
        for (const auto& [when, written] : seen)
            if (when <= t) bytes = written;
        return bytes;
    };
    ASSERT_GT(seen.back().first, to) << "the body ended before ten seconds had passed";
    const double rate = static_cast<double>(at(to) - at(from)) / 10;
    std::printf("[ figure   ] cap %llu B/s: %.0f B/s over 10 s (%.1f%%)\n", static_cast<unsigned long long>(kRate), rate,
                100 * rate / kRate);
    EXPECT_GT(rate, kRate * 0.9);
    EXPECT_LT(rate, kRate * 1.1);
}

// A stop while the cap holds a transfer back ends it as a stop, at once.
TEST_F(WinInetPartFetcherTest, AStopDuringTheCapsWaitIsAStop) {
    const auto fetcher = NewPart(kReceiveTimeLimitMs, std::make_shared<RateLimiter>(1024));
    progress.onBlock = [this] { stop = true; };
    const Clock::time_point start = Clock::now();
    const FetchResult r = Fetch(*fetcher, Fault("data/" + std::to_string(kBody)));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_TRUE(r.stopped);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.written, progress.written.back());
    EXPECT_TRUE(SameBytes(ReadFile(target), Pattern(static_cast<size_t>(r.written)))) << "what came stays";
}

// What WinInet may still report for a request its owner closed goes to a state that lives until
// the request's last callback: none stays once they have all come, whichever way a request ended.
TEST_F(WinInetPartFetcherTest, NoRequestStateOutlivesItsLastCallback) {
    constexpr uint32_t kLimitMs = 1000;
    {
        const auto fetcher = NewPart(kLimitMs);
        EXPECT_TRUE(Fetch(*fetcher, Fault("data/5000")).ok);
        EXPECT_TRUE(Fetch(*fetcher, Fault("file/" + NewId() + "/stallhead/1000")).timedOut);
        progress.onBlock = [this] { stop = true; };
        EXPECT_TRUE(Fetch(*fetcher, Fault("stall/150000/8192")).stopped);
        EXPECT_EQ(fetcher->Head(Closed()).failed, FetchStep::Request);
    }
    // The calls left behind end at WinInet's own time-outs, a little after the limits (Wine's close
    // does not cancel them): this test's, and those of the tests before it.
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kLongLimitMs) + 2 * kSlack;
    while (download_detail::LiveAsyncStates() != 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(download_detail::LiveAsyncStates(), 0);
}

// The echo answers 200 whatever was asked, so the file then holds what the request said.
TEST_F(WinInetPartFetcherTest, AsksForTheRestByRangeAndIfRange) {
    const auto fetcher = NewPart();
    WriteFile(target, "0123456789");
    const FetchResult r = Fetch(*fetcher, Fault("echo"), 10, "\"v3\"");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.status, 200);
    const std::string request = ReadFile(target);
    EXPECT_NE(request.find("Range: bytes=10-\n"), std::string::npos) << request;
    EXPECT_NE(request.find("If-Range: \"v3\"\n"), std::string::npos) << request;
    EXPECT_NE(request.find("User-Agent: " + kToolAgent + "\n"), std::string::npos) << request;
}

}  // namespace
}  // namespace orv
