// The download cap on a simulated clock: the rate over every 5 s window, a stop ending a wait and
// two connections sharing one cap, none of it timed by the wall clock.
#include "launcher/net/rate_limit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace orv {
namespace {

using Clock = RateLimiter::Clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr uint64_t KiB = 1024;

// A clock that only the limiter's sleeps move on, for one thread.
struct StepClock {
    Clock::time_point now{};
    Clock::duration longestSleep{};
    RateLimiter Limiter(uint64_t rate) {
        return RateLimiter(
            rate, [this] { return now; },
            [this](Clock::duration d) {
                now += d;
                longestSleep = std::max(longestSleep, d);
            });
    }
};

TEST(RateLimit, TheRateHoldsOverEveryFiveSecondWindow) {
    const struct {
        uint64_t rate;
        uint64_t read;  // 0: what a client reads under this cap (CappedReadSize of a 64 KiB read)
        milliseconds idleEvery100Reads;  // a network that goes quiet now and then
        milliseconds perRead;            // the time one read takes on the network
    } cases[] = {
        {64 * KiB, 4 * KiB, milliseconds(0), milliseconds(0)},
        {100 * KiB, 16 * KiB, milliseconds(0), milliseconds(0)},
        {500 * KiB, 4 * KiB, milliseconds(0), milliseconds(1)},
        {2048 * KiB, 64 * KiB, milliseconds(0), milliseconds(0)},
        {10240 * KiB, 16 * KiB, milliseconds(0), milliseconds(0)},
        // After a quiet spell the bucket lets a burst through, never more than the window allows.
        {500 * KiB, 16 * KiB, milliseconds(3000), milliseconds(0)},
        {200 * KiB, 16 * KiB, milliseconds(1500), milliseconds(0)},
        {100 * KiB, 16 * KiB, milliseconds(2000), milliseconds(0)},
        {4096 * KiB, 16 * KiB, milliseconds(700), milliseconds(0)},
        // Slow caps: a client's whole 64 KiB read would be a tenth of a 5 s window by itself.
        {16 * KiB, 0, milliseconds(0), milliseconds(0)},
        {50 * KiB, 0, milliseconds(0), milliseconds(0)},
        {100 * KiB, 0, milliseconds(2000), milliseconds(0)},
        {8192 * KiB, 0, milliseconds(0), milliseconds(0)},
    };
    for (const auto& given : cases) {
        auto c = given;
        if (c.read == 0) c.read = CappedReadSize(c.rate, 64 * KiB);
        SCOPED_TRACE(std::to_string(c.rate) + " B/s in reads of " + std::to_string(c.read));
        StepClock clock;
        RateLimiter limiter = clock.Limiter(c.rate);
        const std::atomic<bool> stop{false};
        std::vector<std::pair<Clock::time_point, uint64_t>> reads;
        const auto end = Clock::time_point{} + seconds(30);
        for (int i = 1; clock.now < end; ++i) {
            clock.now += c.perRead;
            reads.emplace_back(clock.now, c.read);
            ASSERT_TRUE(limiter.Take(c.read, stop));
            if (c.idleEvery100Reads.count() && i % 100 == 0) clock.now += c.idleEvery100Reads;
        }
        EXPECT_LE(clock.longestSleep, RateLimiter::kStopSlice) << "a wait not made in slices";
        const double expected = static_cast<double>(c.rate) * 5;
        double most = 0, least = 1e300;
        for (auto from = Clock::time_point{}; from + seconds(5) <= end; from += milliseconds(50)) {
            uint64_t bytes = 0;
            for (const auto& [at, n] : reads)
                if (at >= from && at < from + seconds(5)) bytes += n;
            most = std::max(most, static_cast<double>(bytes));
            least = std::min(least, static_cast<double>(bytes));
        }
        EXPECT_LE(most, expected * 1.1);
        if (!c.idleEvery100Reads.count()) {
            EXPECT_GE(least, expected * 0.9);
        }
    }
}

TEST(RateLimit, ReadsUnderACapAreASixteenthOfASecondsShare) {
    EXPECT_EQ(CappedReadSize(0, 64 * KiB), 64 * KiB);
    EXPECT_EQ(CappedReadSize(16 * KiB, 64 * KiB), 4 * KiB);
    EXPECT_EQ(CappedReadSize(160 * KiB, 64 * KiB), 10 * KiB);
    EXPECT_EQ(CappedReadSize(10240 * KiB, 64 * KiB), 64 * KiB);
    EXPECT_EQ(CappedReadSize(10240 * KiB, 16 * KiB), 16 * KiB);
}

TEST(RateLimit, ALinkSlowerThanTheCapIsNeverHeldBack) {
    StepClock clock;
    RateLimiter limiter = clock.Limiter(1024 * KiB);
    const std::atomic<bool> stop{false};
    int waits = 0;
    for (int i = 0; i < 1000; ++i) {
        clock.now += milliseconds(32);  // 16 KiB each 32 ms: half the cap
        const auto before = clock.now;
        ASSERT_TRUE(limiter.Take(16 * KiB, stop));
        if (clock.now != before) ++waits;
    }
    EXPECT_LE(waits, 1) << "only the very first read may wait";
}

TEST(RateLimit, NoCapNeverWaitsAndAStopEndsAWaitWithinASlice) {
    StepClock clock;
    std::atomic<bool> stop{false};
    RateLimiter none = clock.Limiter(0);
    EXPECT_TRUE(none.Take(uint64_t{1} << 40, stop));
    EXPECT_EQ(clock.now, Clock::time_point{});

    // A read that puts the bucket 100 s in debt; the stop comes during the third slice.
    int slices = 0;
    RateLimiter capped(
        1000, [&] { return clock.now; },
        [&](Clock::duration d) {
            EXPECT_LE(d, RateLimiter::kStopSlice);
            clock.now += d;
            if (++slices == 3) stop = true;
        });
    EXPECT_FALSE(capped.Take(100000, stop));
    EXPECT_EQ(slices, 3);
    EXPECT_LE(clock.now - Clock::time_point{}, 3 * RateLimiter::kStopSlice);
    EXPECT_EQ(capped.BytesPerSecond(), 1000u);
}

// A clock for several threads: time moves on only when every thread waits in a sleep, and then
// to the earliest end of one, as a discrete simulation does.
class SharedClock {
public:
    explicit SharedClock(int threads) : threads_(threads) {}
    Clock::time_point Now() {
        std::lock_guard lock(mutex_);
        return now_;
    }
    void Sleep(Clock::duration d) {
        if (d <= Clock::duration::zero()) return;
        std::unique_lock lock(mutex_);
        const Clock::time_point wake = now_ + d;
        wakes_.insert(wake);
        changed_.notify_all();
        changed_.wait(lock, [&] { return now_ >= wake; });
    }
    void Finished() {
        std::lock_guard lock(mutex_);
        ++finished_;
        changed_.notify_all();
    }
    // Runs the simulation until every thread has finished.
    void Drive() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return finished_ + static_cast<int>(wakes_.size()) >= threads_; });
            if (wakes_.empty()) return;
            now_ = *wakes_.begin();
            // The woken threads no longer count as asleep from here on.
            while (!wakes_.empty() && *wakes_.begin() <= now_) wakes_.erase(wakes_.begin());
            changed_.notify_all();
        }
    }

private:
    const int threads_;
    std::mutex mutex_;
    std::condition_variable changed_;
    Clock::time_point now_{};
    std::multiset<Clock::time_point> wakes_;
    int finished_ = 0;
};

TEST(RateLimit, TwoConnectionsShareOneCap) {
    const uint64_t rate = 800 * KiB;
    SharedClock clock(2);
    RateLimiter limiter(rate, [&] { return clock.Now(); }, [&](Clock::duration d) { clock.Sleep(d); });
    const std::atomic<bool> stop{false};
    const auto end = Clock::time_point{} + seconds(10);
    uint64_t bytes[2] = {0, 0};
    std::vector<std::thread> connections;
    for (int i = 0; i < 2; ++i)
        connections.emplace_back([&, i] {
            const uint64_t read = 16 * KiB;
            while (clock.Now() < end) {
                bytes[i] += read;
                limiter.Take(read, stop);
            }
            clock.Finished();
        });
    clock.Drive();
    for (std::thread& t : connections) t.join();
    const double total = static_cast<double>(bytes[0] + bytes[1]);
    EXPECT_NEAR(total, static_cast<double>(rate) * 10, static_cast<double>(rate) * 10 * 0.05);
    for (const uint64_t each : bytes) EXPECT_GT(static_cast<double>(each), total / 3) << "one connection starved";
}

TEST(RateLimit, RatesAreSpeltAsCurlSpellsThem) {
    const struct {
        const char* text;
        std::optional<uint64_t> rate;
    } cases[] = {
        {"500K", 500 * KiB},
        {"500k", 500 * KiB},
        {"2M", 2 * KiB * KiB},
        {"2m", 2 * KiB * KiB},
        {"1G", KiB * KiB * KiB},
        {"1048576", 1048576},
        {"0500K", 500 * KiB},
        {"18446744073709551615", UINT64_MAX},
        {"16777215G", uint64_t{16777215} << 30},
        {"17179869184G", std::nullopt},  // 2^64
        {"18446744073709551616", std::nullopt},
        {"0", std::nullopt},
        {"0K", std::nullopt},
        {"", std::nullopt},
        {"K", std::nullopt},
        {"1.5M", std::nullopt},
        {"1KB", std::nullopt},
        {"1T", std::nullopt},
        {" 1K", std::nullopt},
        {"1K ", std::nullopt},
        {"-1K", std::nullopt},
        {"+1K", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseRateText(c.text), c.rate) << '"' << c.text << '"';
}

TEST(RateLimit, TheSettingIsKibPerSecondAndAnythingElseIsNoCap) {
    const struct {
        const char* text;
        uint64_t rate;
    } cases[] = {
        {"500", 500 * KiB}, {"1", KiB},  {" 64 ", 64 * KiB}, {"0", 0},   {"", 0},
        {"-5", 0},          {"+5", 0},   {"5K", 0},          {"1.5", 0}, {"5 5", 0},
        {"18014398509481983", uint64_t{18014398509481983} * 1024},
        {"18014398509481984", 0},  // past 64 bits once in bytes
        {"99999999999999999999", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(RateFromKBps(c.text), c.rate) << '"' << c.text << '"';
}

}  // namespace
}  // namespace orv
