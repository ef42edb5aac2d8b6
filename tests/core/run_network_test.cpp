// The check run's network pieces that the GUI thread sees: the board of retry notices the engine's
// threads leave, the status text of a retry, and the run's own downloads on a worker while the
// event pump runs and StopFlag is watched.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "launcher/base/app_state.h"
#include "launcher/base/errors.h"
#include "launcher/base/events.h"
#include "launcher/integrity/check_run.h"
#include "launcher/integrity/checklist_fetch.h"
#include "launcher/net/retry_board.h"
#include "launcher/platform/files.h"
#include "support/test_files.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

RetryNotice Notice(const std::string& url, int nextTry) {
    RetryNotice notice;
    notice.url = url;
    notice.nextTry = nextTry;
    notice.tries = 5;
    notice.wait = 4s;
    return notice;
}

TEST(RetryBoard, KeepsTheLatestNoticePerUrlUntilForgotten) {
    RetryBoard board;
    EXPECT_FALSE(board.Latest("http://a/x"));
    board.Post(Notice("http://a/x", 2));
    board.Post(Notice("http://a/y", 2));
    board.Post(Notice("http://a/x", 3));
    ASSERT_TRUE(board.Latest("http://a/x"));
    EXPECT_EQ(board.Latest("http://a/x")->notice.nextTry, 3);
    EXPECT_GT(board.Latest("http://a/x")->serial, board.Latest("http://a/y")->serial);
    board.Forget("http://a/x");
    EXPECT_FALSE(board.Latest("http://a/x"));
    EXPECT_TRUE(board.Latest("http://a/y"));
}

TEST(RetryBoard, NeverHoldsMoreThanItsBoundAndDropsTheOldest) {
    RetryBoard board;
    for (size_t i = 0; i <= RetryBoard::kMaxUrls; ++i) board.Post(Notice("http://a/" + std::to_string(i), 2));
    EXPECT_FALSE(board.Latest("http://a/0")) << "the oldest made room";
    for (size_t i = 1; i <= RetryBoard::kMaxUrls; ++i) EXPECT_TRUE(board.Latest("http://a/" + std::to_string(i))) << i;
}

TEST(RetryingText, NamesTheTryTheWaitAndTheFileInBothLanguages) {
    const struct {
        int language;
        int seconds;
        const char* path;
        const char* expected;
    } cases[] = {
        {UiEnglish, 4, "\\hl2.exe", "Connection lost, retrying (2 of 5) in 4 s: \\hl2.exe"},
        {UiRussian, 1, "\\hl2.exe", "Связь прервалась, повторная попытка (2 из 5) через 1 с: \\hl2.exe"},
        // A path is shown as it stands, a "%s" in it included; a wait that is over shows 0.
        {UiEnglish, -3, "\\100%s.txt", "Connection lost, retrying (2 of 5) in 0 s: \\100%s.txt"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RetryingText(Notice("u", 2), c.seconds, c.path, c.language), c.expected) << c.expected;
}

// ---- The run's downloads on a worker

// A connection whose Get is the test's.
class ScriptedFetcher final : public Fetcher {
public:
    using Script = std::function<FetchResult(const std::string& path, const std::atomic<bool>& stop,
                                             const FetchProgress& progress, const RetryNotify& notify)>;
    ScriptedFetcher(Script script, RetryNotify notify) : script_(std::move(script)), notify_(std::move(notify)) {}
    FetchResult Get(const std::string&, const std::string& path, const std::atomic<bool>& stop,
                    const FetchProgress& progress) override {
        return script_(path, stop, progress, notify_);
    }
    FetchResult Head(const std::string&) override { return {}; }

private:
    Script script_;
    RetryNotify notify_;
};

// Waits for `stop` (or gives up after a while, which the tests then notice).
FetchResult HoldUntilStopped(const std::atomic<bool>& stop) {
    const auto deadline = Clock::now() + 10s;
    while (!stop && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
    FetchResult result;
    result.stopped = stop;
    result.failed = stop ? FetchStep::None : FetchStep::Read;
    return result;
}

class FetchForRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedStop_ = StopFlag;
        StopFlag = 0;
        pumps_ = 0;
        stopAtPump_ = 0;
        previousPump_ = SetEventPump(&FetchForRunTest::Pump);
        path_ = dir_.File("list.dim.lzma");
    }
    void TearDown() override {
        SetEventPump(previousPump_);
        StopFlag = savedStop_;
    }
    // The Stop button, pressed during the pump that many pumps in.
    static void Pump() {
        if (++pumps_ == stopAtPump_) StopFlag = 1;
    }
    RunFetch Fetch(ScriptedFetcher::Script script, std::optional<uint64_t> maxBytes = std::nullopt) {
        const NewRetryingFetcher make = [script](RetryNotify notify) {
            return std::unique_ptr<Fetcher>(new ScriptedFetcher(script, std::move(notify)));
        };
        return FetchForRun(make, "http://127.0.0.1/list.dim.lzma", path_, maxBytes, {});
    }

    static inline int pumps_ = 0;
    static inline int stopAtPump_ = 0;
    test::TempDir dir_;
    std::string path_;

private:
    EventPump previousPump_ = nullptr;
    int32_t savedStop_ = 1;
};

TEST_F(FetchForRunTest, StopDuringASilentTransferEndsItAtOnceWithNothingLeft) {
    stopAtPump_ = 3;
    const auto started = Clock::now();
    const RunFetch fetched = Fetch([](const std::string& path, const std::atomic<bool>& stop, const FetchProgress&,
                                      const RetryNotify&) {
        test::WriteFile(path, "part");
        FetchResult result = HoldUntilStopped(stop);
        RemoveFile(path);
        return result;
    });
    EXPECT_TRUE(fetched.stopped);
    EXPECT_FALSE(fetched.ok);
    EXPECT_LT(Clock::now() - started, 2s);
    EXPECT_FALSE(test::Exists(path_));
}

TEST_F(FetchForRunTest, AWholeBodyIsKeptAndAnythingElseGoes) {
    const struct {
        const char* name;
        FetchStep failed;
        uint64_t promised;   // the Content-Length the progress tells, 0: none
        std::optional<uint64_t> maxBytes;
        bool ok;
    } cases[] = {
        {"whole body", FetchStep::None, 0, std::nullopt, true},
        {"broke off", FetchStep::Read, 0, std::nullopt, false},
        {"within its bound", FetchStep::None, 0, 100, true},
        {"promised past its bound", FetchStep::None, 1000, 100, false},
        {"grew past its bound", FetchStep::None, 0, 3, false},
    };
    for (const auto& c : cases) {
        RemoveFile(path_);
        const RunFetch fetched = Fetch(
            [&c](const std::string& path, const std::atomic<bool>& stop, const FetchProgress& progress, const RetryNotify&) {
                test::WriteFile(path, "body");
                progress(4, c.promised ? std::to_string(c.promised) : "");
                FetchResult result;
                // A bound is seen between the GUI thread's slices: the transfer goes on meanwhile.
                if (c.maxBytes && (c.promised > *c.maxBytes || 4 > *c.maxBytes)) return HoldUntilStopped(stop);
                result.ok = c.failed == FetchStep::None;
                result.failed = c.failed;
                result.received = 4;
                return result;
            },
            c.maxBytes);
        EXPECT_EQ(fetched.ok, c.ok) << c.name;
        EXPECT_FALSE(fetched.stopped) << c.name;
        EXPECT_EQ(test::Exists(path_), c.ok) << c.name;
    }
}

TEST_F(FetchForRunTest, AFileThatCannotBeCreatedRaisesAsTheDownloadClientDoes) {
    const auto script = [](const std::string&, const std::atomic<bool>&, const FetchProgress&, const RetryNotify&) {
        FetchResult result;
        result.failed = FetchStep::File;
        result.platformCode = 3;
        result.error = "The system cannot find the path specified.";
        return result;
    };
    EXPECT_THROW(Fetch(script), EOSError);
}

}  // namespace
}  // namespace orv
