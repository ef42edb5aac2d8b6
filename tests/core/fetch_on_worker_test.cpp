// A fetch on a worker thread while the calling thread pumps: what the worker tells arrives on the
// caller's thread, a stop ends the fetch, and the worker has ended whenever the call returns.
#include "launcher/net/fetch_on_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace orv {
namespace {

// What the fake connection saw of its own life.
struct Life {
    std::atomic<bool> destroyed{false};
    std::thread::id madeOn, destroyedOn;
};

class WaitingFetcher final : public Fetcher {
public:
    enum class Then { WaitForStop, Throw, TellRetry };
    WaitingFetcher(Life& life, Then then, RetryNotify notify) : life_(life), then_(then), notify_(std::move(notify)) {
        life_.madeOn = std::this_thread::get_id();
    }
    ~WaitingFetcher() override {
        life_.destroyedOn = std::this_thread::get_id();
        life_.destroyed = true;
    }
    FetchResult Get(const std::string&, const std::string&, const std::atomic<bool>& stop,
                    const FetchProgress& progress) override {
        if (then_ == Then::Throw) throw std::runtime_error("the disk is gone");
        FetchResult result;
        if (then_ == Then::TellRetry) {
            notify_(RetryNotice{"u", 2, 5, std::chrono::seconds(1), 4096, "reset"});
            progress(4096, "9000");
            result.ok = true;
            return result;
        }
        // Goes on until stopped; the bound only keeps a broken fetch from hanging the tests.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (int64_t written = 1; !stop && std::chrono::steady_clock::now() < giveUp; ++written) {
            progress(written, "100");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        result.stopped = stop;
        return result;
    }
    FetchResult Head(const std::string&) override { return {}; }

private:
    Life& life_;
    Then then_;
    RetryNotify notify_;
};

WorkerFetch Fetch(Life& life, WaitingFetcher::Then then) {
    WorkerFetch fetch;
    fetch.newFetcher = [&life, then](RetryNotify notify) {
        return std::make_unique<WaitingFetcher>(life, then, std::move(notify));
    };
    // Moved in whole: mingw's GCC 12 warns of an overlapping copy in an inlined literal assignment.
    fetch.url = std::string("http://127.0.0.1/x");
    fetch.path = std::string("x");
    return fetch;
}

TEST(FetchOnWorker, AStopEndsTheFetchAndProgressArrivesOnTheCallersThread) {
    Life life;
    WorkerFetch fetch = Fetch(life, WaitingFetcher::Then::WaitForStop);
    const std::thread::id caller = std::this_thread::get_id();
    int pumps = 0, reports = 0;
    bool elsewhere = false;
    fetch.pump = [&] { ++pumps; };
    fetch.progress = [&](int64_t, const std::string& lengthText) {
        elsewhere |= std::this_thread::get_id() != caller;
        EXPECT_EQ(lengthText, "100");
        ++reports;
    };
    fetch.stopRequested = [&] { return reports >= 3; };
    const FetchResult result = FetchOnWorker(fetch);
    EXPECT_TRUE(result.stopped);
    EXPECT_GE(reports, 3);
    EXPECT_FALSE(elsewhere) << "progress told on the worker's thread";
    EXPECT_GE(pumps, 3);
    EXPECT_TRUE(life.destroyed) << "the worker had not ended";
    EXPECT_NE(life.madeOn, caller);
    EXPECT_EQ(life.destroyedOn, life.madeOn) << "the connection left its thread";
}

TEST(FetchOnWorker, RetryNoticesAndTheLastProgressComeToTheCaller) {
    Life life;
    WorkerFetch fetch = Fetch(life, WaitingFetcher::Then::TellRetry);
    const std::thread::id caller = std::this_thread::get_id();
    std::vector<RetryNotice> notices;
    int64_t written = 0;
    fetch.onRetry = [&](const RetryNotice& notice) {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        notices.push_back(notice);
    };
    fetch.progress = [&](int64_t n, const std::string&) { written = n; };
    const FetchResult result = FetchOnWorker(fetch);
    EXPECT_TRUE(result.ok);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].have, 4096);
    EXPECT_EQ(notices[0].reason, "reset");
    EXPECT_EQ(written, 4096);
}

TEST(FetchOnWorker, NothingLeavesTheWorkerButItsResult) {
    Life life;
    FetchResult result = FetchOnWorker(Fetch(life, WaitingFetcher::Then::Throw));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.failed, FetchStep::Request);
    EXPECT_EQ(result.error, "the disk is gone");
    EXPECT_TRUE(life.destroyed);

    WorkerFetch none;
    none.newFetcher = [](RetryNotify) { return std::unique_ptr<Fetcher>(); };
    result = FetchOnWorker(none);
    EXPECT_EQ(result.failed, FetchStep::Request);
    EXPECT_FALSE(result.error.empty());
}

TEST(FetchOnWorker, APumpThatRaisesStillStopsAndJoinsTheWorker) {
    Life life;
    WorkerFetch fetch = Fetch(life, WaitingFetcher::Then::WaitForStop);
    fetch.pump = [] { throw std::runtime_error("the window went away"); };
    EXPECT_THROW(FetchOnWorker(fetch), std::runtime_error);
    EXPECT_TRUE(life.destroyed) << "the worker outlived the call";
}

}  // namespace
}  // namespace orv
