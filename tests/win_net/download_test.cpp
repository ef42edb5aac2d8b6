// The WinInet download client against real loopback servers: the fault server of tests/rig for
// every status, broken body and odd header, and nginx for a plain file. Run through
// tests/rig/with-servers.sh, which exports the servers' addresses. Progress is seen through
// recording doubles of the bar and the image; the event pump counts its calls and can act like a
// Stop button.
#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "launcher/base/errors.h"
#include "launcher/base/events.h"
#include "launcher/base/message_box.h"
#include "launcher/net/download_win.h"
#include "launcher/net/progress.h"
#include "launcher/platform/scoped_win.h"
#include "launcher/platform/wide_win.h"
#include "support/loopback_servers.h"
#include "support/test_files.h"

namespace orv {
namespace {

using net_test::Closed;
using net_test::Env;
using net_test::Fault;
using net_test::Pattern;
using net_test::SameBytes;
using test::Exists;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr int kFullWidth = 417;
constexpr int kUntouchedWidth = 5;

// ---- Recording doubles

class RecordingBar final : public ProgressBarView {
public:
    void SetMax(int value) override { max_ = value; }
    int Max() const override { return max_; }
    void SetPosition(int value) override {
        position_ = value;
        positions.push_back(value);
    }
    int Position() const override { return position_; }
    void SetMarquee(bool on) override {
        marquee_ = on;
        styles.push_back(on);
    }
    bool IsMarquee() const override { return marquee_; }

    std::vector<int> positions;  // every SetPosition, in order
    std::vector<bool> styles;    // every SetMarquee, in order

private:
    // Not the values a download starts from, so that its own start is visible.
    int max_ = 7;
    int position_ = 3;
    bool marquee_ = false;
};

class RecordingImage final : public ProgressImage {
public:
    void SetWidth(int pixels) override {
        width_ = pixels;
        widths.push_back(pixels);
    }
    int Width() const override { return width_; }

    std::vector<int> widths;

private:
    int width_ = kUntouchedWidth;
};

int g_pumps = 0;
std::function<void()> g_onPump;
void CountingPump() {
    ++g_pumps;
    if (g_onPump) g_onPump();
}

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Env("ORVANTA_FAULT_URL").empty()) << "run through tests/rig/with-servers.sh";
        ASSERT_FALSE(Env("ORVANTA_CLOSED_URL").empty()) << "run through tests/rig/with-servers.sh";
        g_pumps = 0;
        g_onPump = nullptr;
        previousPump_ = SetEventPump(&CountingPump);
        previousHandler_ = SetMessageHandler([this](const MessageRequest& request) {
            messages.push_back(request.text);
            return MsgResult::Ok;
        });
        target = dir.File("target.lzma");
        // Tries again after a short wait: the broken bodies below break at every try.
        DownloadTimeLimits limits;
        limits.waits = {std::chrono::milliseconds(20)};
        previousLimits_ = SetDownloadTimeLimits(limits);
    }
    void TearDown() override {
        SetDownloadTimeLimits(previousLimits_);
        SetEventPump(previousPump_);
        SetMessageHandler(std::move(previousHandler_));
        g_onPump = nullptr;
    }

    bool Game(const std::string& route, int32_t size, int32_t stopValue = 0) {
        stop = stopValue;
        return DownloadGameFile(Fault(route), target, size, bar, image, kFullWidth, stop);
    }
    bool Update(const std::string& route, int64_t size, int32_t stopValue = 0) {
        stop = stopValue;
        return DownloadUpdateFile(Fault(route), target, bar, size, stop);
    }

    TempDir dir;
    std::string target;
    RecordingBar bar;
    RecordingImage image;
    int32_t stop = 0;
    std::vector<std::string> messages;

private:
    EventPump previousPump_ = nullptr;
    MessageHandler previousHandler_;
    DownloadTimeLimits previousLimits_;
};

// A fault server id of its own for every use: the server keeps the cuts done per id for its life.
std::string NewId(const char* what) {
    static int counter = 0;
    return std::string(what) + "-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter);
}

// What the fault server saw of an id: its requests and the offset each asked for.
struct FaultStats {
    int requests = -1;
    std::vector<int64_t> offsets;
};

FaultStats StatsOf(const std::string& id) {
    FaultStats stats;
    const InternetHandle internet(::InternetOpenW(L"stats", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    const InternetHandle request(::InternetOpenUrlW(internet.Get(), Wide(Fault("stats/" + id)).c_str(), nullptr, 0,
                                                    INTERNET_FLAG_RELOAD, 0));
    if (!request) return stats;
    std::string json;
    char buffer[4096];
    DWORD got = 0;
    while (::InternetReadFile(request.Get(), buffer, sizeof buffer, &got) && got > 0) json.append(buffer, got);
    const size_t r = json.find("\"requests\":");
    if (r != std::string::npos) stats.requests = std::atoi(json.c_str() + r + 11);
    const size_t o = json.find('[', json.find("\"offsets\""));
    for (size_t at = o; at != std::string::npos && at < json.size() && json[at] != ']';) {
        ++at;
        while (at < json.size() && json[at] == ' ') ++at;
        if (at < json.size() && json[at] >= '0' && json[at] <= '9') stats.offsets.push_back(std::atoll(json.c_str() + at));
        at = json.find_first_of(",]", at);
    }
    return stats;
}

using Clock = std::chrono::steady_clock;

std::vector<int> Widths(const std::vector<int>& positions) {
    std::vector<int> widths;
    for (int p : positions) widths.push_back(static_cast<int>(p * kFullWidth / 100.0));
    return widths;
}

// ---- ProbeUrl

using ProbeUrlTest = DownloadTest;

TEST_F(ProbeUrlTest, OkAndRedirectsAnswerOtherStatusesAndSilenceDoNot) {
    for (const char* code : {"200", "301", "302", "307", "308"})
        EXPECT_TRUE(ProbeUrl(Fault(std::string("status/") + code))) << code;
    for (const char* code : {"404", "500", "403", "204"})
        EXPECT_FALSE(ProbeUrl(Fault(std::string("status/") + code))) << code;
    EXPECT_FALSE(ProbeUrl(Closed()));
    EXPECT_FALSE(ProbeUrl("not a url"));
    EXPECT_FALSE(ProbeUrl(""));
    EXPECT_EQ(g_pumps, 0);
    EXPECT_TRUE(messages.empty());
}

// A server that takes the connection and then says nothing costs the start-up the receive limit,
// not the window's life.
TEST_F(ProbeUrlTest, ASilentServerIsGivenUpOnWithinTheReceiveLimit) {
    DownloadTimeLimits limits = CurrentDownloadTimeLimits();
    limits.receiveMs = 1000;
    SetDownloadTimeLimits(limits);
    const auto start = Clock::now();
    EXPECT_FALSE(ProbeUrl(Fault("file/" + NewId("probe") + "/stallhead/100")));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(4000));
}

TEST_F(ProbeUrlTest, IntroducesItselfAsTheUrlChecker) {
    EXPECT_TRUE(ProbeUrl(Fault("agent?is=InetURL%3A%2F1.0")));
    EXPECT_FALSE(ProbeUrl(Fault("agent?is=Updater%20vtl")));
}

// ---- DownloadFile

using DownloadFileTest = DownloadTest;

TEST_F(DownloadFileTest, SavesWholeBodiesReplacingTheOldFile) {
    WriteFile(target, std::string(300000, 'x'));
    ASSERT_TRUE(DownloadFile(Fault("data/100000?seed=3"), target));
    EXPECT_TRUE(SameBytes(ReadFile(target), Pattern(100000, 3)));

    ASSERT_TRUE(DownloadFile(Fault("empty"), target));
    EXPECT_EQ(ReadFile(target), "");

    ASSERT_TRUE(DownloadFile(Fault("noclen/9000"), target));
    EXPECT_TRUE(SameBytes(ReadFile(target), Pattern(9000)));

    // More than announced: Windows stops at the announced length, Wine reads on to the close.
    // Either way the bytes are saved as they came.
    ASSERT_TRUE(DownloadFile(Fault("long/5000/9000"), target));
    const std::string longer = ReadFile(target);
    EXPECT_TRUE(longer.size() == 5000 || longer.size() == 9000) << longer.size();
    EXPECT_TRUE(SameBytes(longer, Pattern(longer.size())));

    // Error pages are saved like any body.
    ASSERT_TRUE(DownloadFile(Fault("status/404"), target));
    EXPECT_EQ(ReadFile(target), "<html><body><h1>404</h1></body></html>\n");

    EXPECT_EQ(g_pumps, 0);
    EXPECT_TRUE(messages.empty());
}

TEST_F(DownloadFileTest, AsksForAFreshCopyUnderItsOwnName) {
    ASSERT_TRUE(DownloadFile(Fault("echo"), target));
    const std::string request = ReadFile(target);
    EXPECT_NE(request.find("User-Agent: Updater vtl\n"), std::string::npos) << request;
    EXPECT_NE(request.find("Pragma: no-cache"), std::string::npos) << request;
}

TEST_F(DownloadFileTest, UnreachableServerGivesFalseAndLeavesTheTargetAlone) {
    WriteFile(target, "old");
    EXPECT_FALSE(DownloadFile(Closed(), target));
    EXPECT_FALSE(DownloadFile("not a url", target));
    EXPECT_EQ(ReadFile(target), "old");
}

TEST_F(DownloadFileTest, BrokenBodyGivesFalseWithoutMessageAndDeletesThePartialFile) {
    for (const char* route : {"short/20000/9000", "reset/20000/9000"}) {
        WriteFile(target, "old");
        EXPECT_FALSE(DownloadFile(Fault(route), target)) << route;
        EXPECT_FALSE(Exists(target)) << route;
    }
    EXPECT_TRUE(messages.empty());
}

// The catalogue and the update description come whole or not at all: a body cut off, or one that
// stalls past the receive limit, is asked for again from its first byte.
TEST_F(DownloadFileTest, ACutOrStalledBodyIsFetchedAgainWhole) {
    DownloadTimeLimits limits = CurrentDownloadTimeLimits();
    limits.receiveMs = 1000;
    SetDownloadTimeLimits(limits);
    const struct {
        const char* opts;
        int requests;
    } cases[] = {
        {"cut=30000", 2},
        {"cut=10000+50000,reset", 3},
        {"stall=40000", 2},
        {"stallhead", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.opts);
        const std::string id = NewId("whole");
        WriteFile(target, "old");
        const auto start = Clock::now();
        ASSERT_TRUE(DownloadFile(Fault("file/" + id + "/" + c.opts + "/100000?seed=4"), target));
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(6000));
        EXPECT_TRUE(SameBytes(ReadFile(target), Pattern(100000, 4)));
        const FaultStats stats = StatsOf(id);
        EXPECT_EQ(stats.requests, c.requests);
        EXPECT_EQ(stats.offsets, std::vector<int64_t>(static_cast<size_t>(c.requests), 0)) << "no range asked";
    }
    EXPECT_EQ(g_pumps, 0);
    EXPECT_TRUE(messages.empty());
}

TEST_F(DownloadFileTest, MissingFolderRaisesThePlatformError) {
    const std::string path = dir.File("no such folder\\inf.ini");
    try {
        DownloadFile(Fault("data/10"), path);
        FAIL() << "no error raised";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.Code(), static_cast<uint32_t>(ERROR_PATH_NOT_FOUND));
        EXPECT_EQ(std::string(e.what()), PlatformErrorMessage(ERROR_PATH_NOT_FOUND));
    }
    EXPECT_FALSE(Exists(path));
}

// ---- DownloadGameFile

using GameDownloadTest = DownloadTest;

TEST_F(GameDownloadTest, ServerLengthDrivesBarAndImageOncePerBlock) {
    // 20000 bytes: four full blocks and one of 3616. The server's length wins over the caller's.
    ASSERT_TRUE(Game("data/20000?seed=9", 1000));
    EXPECT_TRUE(SameBytes(ReadFile(target), Pattern(20000, 9)));
    EXPECT_EQ(bar.Max(), 100);
    const std::vector<int> positions{0, 20, 40, 61, 81, 100};
    EXPECT_EQ(bar.positions, positions);
    EXPECT_EQ(image.widths, (std::vector<int>{83, 166, 254, 337, 417}));
    EXPECT_EQ(g_pumps, 5);
    EXPECT_TRUE(bar.styles.empty());
    EXPECT_TRUE(messages.empty());
}

TEST_F(GameDownloadTest, CallerSizeServesWhenTheServerGivesNone) {
    ASSERT_TRUE(Game("noclen/20000", 40000));
    EXPECT_TRUE(SameBytes(ReadFile(target), Pattern(20000)));
    const std::vector<int> positions{0, 10, 20, 30, 40, 50};
    EXPECT_EQ(bar.positions, positions);
    EXPECT_EQ(image.widths, Widths({10, 20, 30, 40, 50}));
    EXPECT_EQ(image.Width(), 208);
}

TEST_F(GameDownloadTest, BodyLongerThanTheSizeEndsAtFullBarAndImage) {
    ASSERT_TRUE(Game("noclen/20000", 8192));
    EXPECT_EQ(bar.positions, (std::vector<int>{0, 50, 100, 100, 100, 100}));
    EXPECT_EQ(image.widths, (std::vector<int>{208, 417, 417, 417, 417}));
}

TEST_F(GameDownloadTest, TenDigitLengthDoesNotFitAndTheCallerSizeStays) {
    // "0000004096": the server's length is 4096, but its text needs ten characters.
    ASSERT_TRUE(Game("tendigit/4096", 8192));
    EXPECT_TRUE(SameBytes(ReadFile(target), Pattern(4096)));
    EXPECT_EQ(bar.positions, (std::vector<int>{0, 50}));
    EXPECT_EQ(image.widths, (std::vector<int>{208}));
}

TEST_F(GameDownloadTest, WithoutAnySizeTheBarStaysAtZeroAndTheImageUntouched) {
    ASSERT_TRUE(Game("noclen/10000", 0));
    EXPECT_TRUE(SameBytes(ReadFile(target), Pattern(10000)));
    EXPECT_EQ(bar.positions, (std::vector<int>{0}));
    EXPECT_TRUE(image.widths.empty());
    EXPECT_EQ(g_pumps, 3);
}

TEST_F(GameDownloadTest, EmptyBodyGivesAnEmptyFileAndLeavesTheDisplayAlone) {
    WriteFile(target, "old content");
    ASSERT_TRUE(Game("empty", 1000));
    EXPECT_TRUE(Exists(target));
    EXPECT_EQ(ReadFile(target), "");
    EXPECT_EQ(bar.Max(), 100);
    EXPECT_EQ(bar.positions, (std::vector<int>{0}));
    EXPECT_EQ(image.Width(), kUntouchedWidth);
    EXPECT_TRUE(image.widths.empty());
    EXPECT_EQ(g_pumps, 0);
}

TEST_F(GameDownloadTest, SlowBodyArrivesWhole) {
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(Game("slow/12288/3/100", 0));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
    EXPECT_TRUE(SameBytes(ReadFile(target), Pattern(12288)));
    EXPECT_EQ(bar.Position(), 100);
    EXPECT_EQ(g_pumps, 3);
}

TEST_F(GameDownloadTest, ErrorPageIsSavedAsTheFile) {
    ASSERT_TRUE(Game("status/500", 100));
    EXPECT_EQ(ReadFile(target), "<html><body><h1>500</h1></body></html>\n");
    EXPECT_TRUE(messages.empty());
}

TEST_F(GameDownloadTest, IntroducesItselfWithGameAndLauncherVersion) {
    ASSERT_TRUE(Game("echo", 0));
    const std::string request = ReadFile(target);
    EXPECT_NE(request.find("User-Agent: Updater vtl cstrike 1.2\n"), std::string::npos) << request;
    EXPECT_NE(request.find("Pragma: no-cache"), std::string::npos) << request;
}

TEST_F(GameDownloadTest, TargetIsHeldWithoutSharingWhileTheTransferRuns) {
    DWORD code = 0;
    bool opened = true;
    g_onPump = [&] {
        if (g_pumps != 1) return;
        ScopedFileHandle other(::CreateFileW(Wide(target).c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        opened = other.Valid();
        code = ::GetLastError();
    };
    ASSERT_TRUE(Game("data/10000", 0));
    EXPECT_FALSE(opened);
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST_F(GameDownloadTest, StopDuringTheFirstBlockLetsItArriveThenDeletesTheFile) {
    WriteFile(target, "old");
    ASSERT_TRUE(Game("data/20000", 0, 1));
    EXPECT_FALSE(Exists(target));
    EXPECT_EQ(bar.Position(), bar.Max());
    EXPECT_EQ(bar.positions, (std::vector<int>{0, 100}));
    EXPECT_TRUE(image.widths.empty());
    EXPECT_EQ(g_pumps, 0);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(stop, 1);
}

TEST_F(GameDownloadTest, StopPressedWhilePumpingEndsAtTheNextBlock) {
    g_onPump = [&] { stop = 1; };
    ASSERT_TRUE(Game("data/20000", 0));
    EXPECT_FALSE(Exists(target));
    EXPECT_EQ(g_pumps, 1);
    EXPECT_EQ(bar.positions, (std::vector<int>{0, 20, 100}));
}

TEST_F(GameDownloadTest, OnlyOneStopsTheTransfer) {
    for (int32_t value : {0, 2, -1}) {
        ASSERT_TRUE(Game("data/9000", 0, value)) << value;
        EXPECT_TRUE(SameBytes(ReadFile(target), Pattern(9000))) << value;
    }
}

// One object for a run's files: bodies far larger than what is read ahead of the writer, one
// after another over the kept connection and one network thread, and a stop in the middle of one
// that ends that thread before the call returns and leaves the next file to a fresh one.
TEST_F(GameDownloadTest, RunOfLargeBodiesArrivesWholeAndAStopInOneSparesTheNext) {
    const int before = RunningGameDownloadThreads();
    std::optional<GameFileDownloads> run(std::in_place);
    GameFileDownloads& downloads = *run;
    const auto download = [&](const std::string& route) {
        bar = RecordingBar();
        image = RecordingImage();
        g_pumps = 0;
        return downloads.Download(Fault(route), target, 0, bar, image, kFullWidth, stop);
    };
    constexpr size_t kLarge = 3 * 1024 * 1024 + 1000;  // 769 blocks, the last one short
    for (unsigned seed : {1u, 2u}) {
        ASSERT_TRUE(download("data/" + std::to_string(kLarge) + "?seed=" + std::to_string(seed)));
        EXPECT_TRUE(SameBytes(ReadFile(target), Pattern(kLarge, seed))) << seed;
        EXPECT_EQ(g_pumps, 769) << seed;
        EXPECT_EQ(bar.Position(), 100);
        EXPECT_TRUE(std::is_sorted(bar.positions.begin(), bar.positions.end()));
        EXPECT_EQ(image.Width(), kFullWidth);
        EXPECT_EQ(RunningGameDownloadThreads(), before + 1) << "one thread serves the run's files";
    }

    int blocks = 0;
    g_onPump = [&] {
        if (++blocks == 100) stop = 1;
    };
    ASSERT_TRUE(download("data/" + std::to_string(kLarge)));
    EXPECT_FALSE(Exists(target));
    EXPECT_EQ(g_pumps, 100);
    EXPECT_EQ(RunningGameDownloadThreads(), before) << "the stopped transfer's thread still runs";
    g_onPump = nullptr;
    stop = 0;
    ASSERT_TRUE(download("data/20000?seed=5"));
    EXPECT_TRUE(SameBytes(ReadFile(target), Pattern(20000, 5)));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(RunningGameDownloadThreads(), before + 1);
    run.reset();
    EXPECT_EQ(RunningGameDownloadThreads(), before) << "a thread outlived its run";
}

// The waits of the GUI thread for the network thread pump through the wait pump; this one presses
// Stop from there once `when` holds.
std::function<bool()> g_stopWhen;
int32_t* g_stopFlag = nullptr;
void StoppingWaitPump() {
    if (g_stopFlag && g_stopWhen && g_stopWhen()) *g_stopFlag = 1;
}

class SilentServerTest : public DownloadTest {
protected:
    // Short, so that the cases run quickly; the product's is kGameDownloadTimeoutMs.
    static constexpr uint32_t kTimeoutMs = 1500;
    // What Wine adds around a time-out on a loaded machine.
    static constexpr auto kSlack = std::chrono::milliseconds(2500);

    void SetUp() override {
        DownloadTest::SetUp();
        g_stopFlag = &stop;
        previousWaitPump_ = SetWaitPump(&StoppingWaitPump);
    }
    void TearDown() override {
        SetWaitPump(previousWaitPump_);
        g_stopWhen = nullptr;
        g_stopFlag = nullptr;
        DownloadTest::TearDown();
    }

private:
    EventPump previousWaitPump_ = nullptr;
};

// A server that goes silent, before its headers or in the middle of the body: Stop is honoured
// once the network thread is back from its call (within the time-out), that thread has ended when
// the call returns, and the same object then downloads the next file on a new one.
TEST_F(SilentServerTest, StopEndsTheNetworkThreadBeforeTheCallReturns) {
    struct Case {
        const char* route;
        int blocksBeforeStop;  // blocks written before Stop is pressed
    };
    const Case cases[] = {{"silent", 0}, {"stall/150000/8192", 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.route);
        const int before = RunningGameDownloadThreads();
        {
            GameFileDownloads downloads(kTimeoutMs);
            WriteFile(target, "old");
            stop = 0;
            g_pumps = 0;
            const int wanted = c.blocksBeforeStop;
            g_stopWhen = [wanted] { return g_pumps >= wanted; };
            const Clock::time_point start = Clock::now();
            ASSERT_TRUE(downloads.Download(Fault(c.route), target, 0, bar, image, kFullWidth, stop));
            EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kTimeoutMs) + kSlack);
            EXPECT_EQ(RunningGameDownloadThreads(), before) << "the network thread outlived the stopped call";
            EXPECT_EQ(g_pumps, wanted);
            EXPECT_FALSE(Exists(target));
            EXPECT_EQ(bar.Position(), bar.Max());

            g_stopWhen = nullptr;
            stop = 0;
            ASSERT_TRUE(downloads.Download(Fault("data/20000?seed=4"), target, 0, bar, image, kFullWidth, stop));
            EXPECT_TRUE(SameBytes(ReadFile(target), Pattern(20000, 4)));
            EXPECT_EQ(RunningGameDownloadThreads(), before + 1);
        }
        EXPECT_EQ(RunningGameDownloadThreads(), before);
        EXPECT_TRUE(messages.empty());
    }
}

// Without a stop, silence longer than the time-out ends the transfer as a failure of the network:
// before the headers it is raised like an unreachable server, in the body it breaks the body off.
TEST_F(SilentServerTest, SilenceLongerThanTheTimeOutIsAFailureOfTheNetwork) {
    GameFileDownloads downloads(kTimeoutMs);
    stop = 0;
    try {
        downloads.Download(Fault("silent"), target, 100, bar, image, kFullWidth, stop);
        FAIL() << "no error raised";
    } catch (const EOSError& e) {
        // Windows names the time-out; Wine 8 reports it as a connection it aborted.
        EXPECT_TRUE(e.Code() == ERROR_INTERNET_TIMEOUT || e.Code() == ERROR_INTERNET_CONNECTION_ABORTED) << e.Code();
    }
    EXPECT_FALSE(Exists(target));

    WriteFile(target, "old");
    EXPECT_FALSE(downloads.Download(Fault("stall/150000/8192"), target, 0, bar, image, kFullWidth, stop));
    EXPECT_FALSE(Exists(target));
    EXPECT_EQ(messages, (std::vector<std::string>{"Error InternetReadFile"}));
    EXPECT_EQ(stop, 0);
}

// A body that breaks off: "short" closes the connection normally before the announced length, which
// WinInet (Wine 8 at least) reports as a normal end of the body, so the client goes by the announced
// length; "reset" resets the connection, which WinInet reports as a failed read (WSAECONNRESET).
TEST_F(GameDownloadTest, BrokenBodyShowsTheReadErrorAndDeletesThePartialFile) {
    for (const char* route : {"short/20000/9000", "reset/20000/9000"}) {
        messages.clear();
        WriteFile(target, "old");
        EXPECT_FALSE(Game(route, 0)) << route;
        EXPECT_FALSE(Exists(target)) << route;
        EXPECT_EQ(messages, (std::vector<std::string>{"Error InternetReadFile"})) << route;
    }
}

TEST_F(GameDownloadTest, LengthThatIsNotANumberGivesFalseAndNoFile) {
    for (const char* value : {"abc", "12x", "-"}) {
        WriteFile(target, "old");
        EXPECT_FALSE(Game(std::string("badlength?value=") + value, 100)) << value;
        EXPECT_FALSE(Exists(target)) << value;
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(GameDownloadTest, TargetThatCannotBeCreatedGivesFalseAndNothingOnDisk) {
    const std::string path = dir.File("no such folder\\a.lzma");
    stop = 0;
    EXPECT_FALSE(DownloadGameFile(Fault("data/100"), path, 100, bar, image, kFullWidth, stop));
    EXPECT_FALSE(Exists(path));
    EXPECT_TRUE(messages.empty());
}

TEST_F(GameDownloadTest, UnreachableServerRaisesThePlatformError) {
    try {
        stop = 0;
        DownloadGameFile(Closed(), target, 100, bar, image, kFullWidth, stop);
        FAIL() << "no error raised";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.Code(), 12029u);  // ERROR_INTERNET_CANNOT_CONNECT
        // WinInet's own text for its code, not a bare number.
        EXPECT_FALSE(std::string(e.what()).empty());
        EXPECT_EQ(std::string(e.what()).find("Code:"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(Exists(target));
    EXPECT_EQ(bar.Max(), 100);
    EXPECT_EQ(bar.positions, (std::vector<int>{0}));
    EXPECT_THROW(DownloadGameFile("not a url", target, 100, bar, image, kFullWidth, stop), EOSError);
}

// ---- DownloadUpdateFile

using UpdateDownloadTest = DownloadTest;

// The bar moves only when its percentage changes, and the window is pumped while the body comes.
::testing::AssertionResult RisesOnlyOnChange(const std::vector<int>& positions) {
    for (size_t i = 1; i < positions.size(); ++i)
        if (positions[i] <= positions[i - 1])
            return ::testing::AssertionFailure() << "position " << positions[i] << " after " << positions[i - 1];
    return ::testing::AssertionSuccess();
}

TEST_F(UpdateDownloadTest, KnownSizeDrivesTheBarWhileThePumpRuns) {
    ASSERT_TRUE(Update("data/20000?seed=1", 0));
    EXPECT_TRUE(SameBytes(ReadFile(target), Pattern(20000, 1)));
    ASSERT_FALSE(bar.positions.empty());
    EXPECT_EQ(bar.positions.front(), 0);
    EXPECT_EQ(bar.positions.back(), 100);
    EXPECT_TRUE(RisesOnlyOnChange(bar.positions));
    EXPECT_GT(g_pumps, 0);
    EXPECT_TRUE(bar.styles.empty());

    // Ten blocks of a 4 MB announcement: no more than 1 %.
    bar.positions.clear();
    ASSERT_TRUE(Update("noclen/40960", 4096000));
    EXPECT_EQ(bar.positions.back(), 1);
    EXPECT_TRUE(RisesOnlyOnChange(bar.positions));

    // Longer than announced: the maximum is set once.
    bar.positions.clear();
    ASSERT_TRUE(Update("noclen/20000", 4096));
    EXPECT_EQ(bar.positions.back(), 100);
    EXPECT_TRUE(RisesOnlyOnChange(bar.positions));
    EXPECT_TRUE(bar.styles.empty());
}

TEST_F(UpdateDownloadTest, UnknownSizeRunsAMarqueeUntilTheEnd) {
    ASSERT_TRUE(Update("noclen/20000", 0));
    EXPECT_TRUE(SameBytes(ReadFile(target), Pattern(20000)));
    EXPECT_EQ(bar.styles, (std::vector<bool>{true, false}));
    EXPECT_FALSE(bar.IsMarquee());
    EXPECT_EQ(bar.positions, (std::vector<int>{0, 100}));
}

TEST_F(UpdateDownloadTest, EmptyBodyOfUnknownSizeEndsFullInNormalStyle) {
    ASSERT_TRUE(Update("empty", 0));
    EXPECT_EQ(ReadFile(target), "");
    EXPECT_FALSE(bar.IsMarquee());
    EXPECT_EQ(bar.styles, (std::vector<bool>{true, false}));
    EXPECT_EQ(bar.Position(), bar.Max());
    EXPECT_EQ(bar.Max(), 100);
}

TEST_F(UpdateDownloadTest, StopDeletesTheFileAndFillsTheBar) {
    ASSERT_TRUE(Update("data/20000", 0, 1));
    EXPECT_FALSE(Exists(target));
    EXPECT_EQ(bar.positions.front(), 0);
    EXPECT_EQ(bar.positions.back(), 100);

    // The marquee this download switched on does not outlive it.
    bar.positions.clear();
    ASSERT_TRUE(Update("noclen/20000", 0, 1));
    EXPECT_FALSE(Exists(target));
    EXPECT_EQ(bar.Position(), 100);
    EXPECT_FALSE(bar.IsMarquee());
}

TEST_F(UpdateDownloadTest, FailuresGiveFalseAndLeaveNothing) {
    WriteFile(target, "old");
    EXPECT_FALSE(Update("short/20000/9000", 0));
    EXPECT_FALSE(Exists(target));
    EXPECT_EQ(messages, (std::vector<std::string>{"Error InternetReadFile"}));

    messages.clear();
    EXPECT_FALSE(Update("badlength", 0));
    EXPECT_FALSE(Exists(target));
    EXPECT_FALSE(bar.IsMarquee());

    stop = 0;
    EXPECT_FALSE(DownloadUpdateFile(Fault("data/10"), dir.File("missing\\x.lzma"), bar, 10, stop));
    EXPECT_TRUE(messages.empty());

    EXPECT_THROW(DownloadUpdateFile(Closed(), target, bar, 0, stop), EOSError);
    EXPECT_FALSE(Exists(target));
}

// The update goes on from the byte where its body broke off, and the window hears of each wait.
TEST_F(UpdateDownloadTest, ACutBodyGoesOnFromWhereItStopped) {
    const std::string id = NewId("update");
    std::vector<std::string> shown;
    const UpdateRetryShown retryShown = [&](const RetryNotice* waiting) {
        shown.push_back(waiting ? "retry " + std::to_string(waiting->nextTry) + " from " +
                                      std::to_string(waiting->have)
                                : "going on");
    };
    stop = 0;
    ASSERT_TRUE(DownloadUpdateFile(Fault("file/" + id + "/cut=40960+81920/200000?seed=6"), target, bar, 0, stop,
                                   retryShown));
    EXPECT_TRUE(SameBytes(ReadFile(target), Pattern(200000, 6)));
    const FaultStats stats = StatsOf(id);
    EXPECT_EQ(stats.requests, 3);
    EXPECT_EQ(stats.offsets, (std::vector<int64_t>{0, 40960, 81920}));
    // Each wait is told, and the label is given back once the transfer goes on (two waits whose
    // try between them was quicker than a look of the pump are told back once).
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front(), "retry 2 from 40960");
    EXPECT_NE(std::find(shown.begin(), shown.end(), "retry 3 from 81920"), shown.end());
    EXPECT_EQ(shown.back(), "going on");
    EXPECT_EQ(bar.positions.back(), 100);
    EXPECT_TRUE(RisesOnlyOnChange(bar.positions)) << "the size of the first answer drives the bar";
    EXPECT_TRUE(messages.empty());
}

// A server that stalls the update is given up on within the receive limit and asked again.
TEST_F(UpdateDownloadTest, AStallEndsWithinTheReceiveLimitAndTheBodyGoesOn) {
    DownloadTimeLimits limits = CurrentDownloadTimeLimits();
    limits.receiveMs = 1000;
    SetDownloadTimeLimits(limits);
    const std::string id = NewId("stall");
    const auto start = Clock::now();
    ASSERT_TRUE(Update("file/" + id + "/stall=30000/100000", 100000));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(5000));
    EXPECT_TRUE(SameBytes(ReadFile(target), Pattern(100000)));
    EXPECT_EQ(StatsOf(id).offsets, (std::vector<int64_t>{0, 30000}));
}

TEST_F(UpdateDownloadTest, IntroducesItselfLikeTheGameDownload) {
    ASSERT_TRUE(Update("agent?is=Updater%20vtl%20cstrike%201.2", 0));
    EXPECT_EQ(ReadFile(target), "agent Updater vtl cstrike 1.2\n");
}

// ---- A plain file from nginx

TEST_F(DownloadTest, PlainFileFromNginxArrivesWhole) {
    const std::string root = Env("ORVANTA_NGINX_ROOT");
    const std::string url = Env("ORVANTA_NGINX_URL");
    ASSERT_FALSE(root.empty() || url.empty()) << "run through tests/rig/with-servers.sh";
    // Wine shows the host's root folder as drive Z:.
    std::string served = "Z:" + root + "/net-test.bin";
    for (char& c : served)
        if (c == '/') c = '\\';
    const std::string body = Pattern(1 << 20, 77);
    WriteFile(served, body);
    stop = 0;
    const bool ok = DownloadGameFile(url + "net-test.bin", target, 0, bar, image, kFullWidth, stop);
    ::DeleteFileW(Wide(served).c_str());
    ASSERT_TRUE(ok);
    EXPECT_TRUE(SameBytes(ReadFile(target), body));
    EXPECT_EQ(bar.Position(), 100);
    EXPECT_EQ(image.Width(), kFullWidth);
    EXPECT_EQ(g_pumps, 256);
}

}  // namespace
}  // namespace orv
