// The rule for files another program holds for a moment: which refusals are tried again, how the
// waits grow, and that the whole stays within its limit; on a clock of the test's own.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <numeric>
#include <vector>

#include "launcher/platform/busy_file_retry.h"

namespace orv {
namespace {

class FakeClock final : public RetryClock {
public:
    uint64_t now = 1000000;
    std::vector<uint32_t> sleeps;
    uint64_t NowMs() override { return now; }
    void SleepMs(uint32_t ms) override {
        sleeps.push_back(ms);
        now += ms;
    }
};

// An operation refused with `code` until `freeAtMs` after the start; each attempt takes `costMs`.
class Holder {
public:
    Holder(FakeClock& clock, uint32_t code, uint64_t freeAtMs, uint64_t costMs = 0)
        : clock_(clock), code_(code), freeAtMs_(freeAtMs), costMs_(costMs), start_(clock.now) {}
    uint32_t operator()() {
        ++attempts;
        const uint64_t at = clock_.now;
        clock_.now += costMs_;
        return at - start_ >= freeAtMs_ ? 0 : code_;
    }
    uint64_t Elapsed() const { return clock_.now - start_; }
    int attempts = 0;

private:
    FakeClock& clock_;
    uint32_t code_;
    uint64_t freeAtMs_;
    uint64_t costMs_;
    uint64_t start_;
};

uint64_t Total(const std::vector<uint32_t>& sleeps) { return std::accumulate(sleeps.begin(), sleeps.end(), uint64_t{0}); }

TEST(BusyFileRetry, WhichRefusalsMayPass) {
    const struct {
        uint32_t code;
        bool attributesRefuse;
        bool mayPass;
    } cases[] = {
        {kErrorSharingViolation, false, true},
        {kErrorSharingViolation, true, true},  // the attributes speak only to an access refusal
        {kErrorLockViolation, false, true},
        {kErrorAccessDenied, false, true},  // a pending delete, or a scanner's handle
        {kErrorAccessDenied, true, false},  // a read-only file or a folder stays refused
        {2, false, false},                  // file not found
        {3, false, false},                  // path not found
        {80, false, false},                 // file exists
        {112, false, false},                // disk full
        {0, false, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MayBeBusyFile(c.code, c.attributesRefuse), c.mayPass) << c.code << " " << c.attributesRefuse;
}

TEST(BusyFileRetry, AHolderThatLetsGoIsWaitedFor) {
    for (const uint32_t code : {kErrorSharingViolation, kErrorLockViolation, kErrorAccessDenied}) {
        for (const uint64_t freeAt : {uint64_t{0}, uint64_t{1}, uint64_t{300}, uint64_t{1999}}) {
            SCOPED_TRACE(testing::Message() << "code " << code << ", free after " << freeAt << " ms");
            FakeClock clock;
            Holder holder{clock, code, freeAt};
            EXPECT_EQ(RetryWhileBusy(clock, std::ref(holder), [] { return false; }), 0u);
            // Let go at `freeAt`, noticed at the next attempt, which is at most one wait later.
            EXPECT_GE(Total(clock.sleeps), freeAt);
            EXPECT_LT(Total(clock.sleeps), freeAt + kBusyFileLongestWaitMs);
            EXPECT_EQ(holder.attempts, static_cast<int>(clock.sleeps.size()) + 1);
        }
    }
}

TEST(BusyFileRetry, WaitsDoubleUpToTheLongestAndEndAtTheLimit) {
    FakeClock clock;
    Holder holder{clock, kErrorSharingViolation, UINT64_MAX};
    EXPECT_EQ(RetryWhileBusy(clock, std::ref(holder), nullptr), kErrorSharingViolation);
    const std::vector<uint32_t> expected = {10, 20, 40, 80, 160, 250, 250, 250, 250, 250, 250, 190};
    EXPECT_EQ(clock.sleeps, expected);
    EXPECT_EQ(Total(clock.sleeps), kBusyFileLimitMs);
    // One last attempt at the limit itself.
    EXPECT_EQ(holder.attempts, static_cast<int>(expected.size()) + 1);
}

TEST(BusyFileRetry, SlowAttemptsCountTowardsTheLimit) {
    FakeClock clock;
    Holder holder{clock, kErrorLockViolation, UINT64_MAX, 700};
    EXPECT_EQ(RetryWhileBusy(clock, std::ref(holder), nullptr), kErrorLockViolation);
    EXPECT_EQ(holder.attempts, 3);  // at 0, 710 and 1430 ms; the third ends past the limit
    EXPECT_EQ(holder.Elapsed(), 2130u);
}

TEST(BusyFileRetry, RefusalsThatNoWaitChangesAreReportedAtOnce) {
    const struct {
        uint32_t code;
        bool readOnly;
    } cases[] = {{kErrorAccessDenied, true}, {2, false}, {6, false}, {87, false}};
    for (const auto& c : cases) {
        FakeClock clock;
        Holder holder{clock, c.code, UINT64_MAX};
        int asked = 0;
        const auto attributes = [&] {
            ++asked;
            return c.readOnly;
        };
        EXPECT_EQ(RetryWhileBusy(clock, std::ref(holder), attributes), c.code);
        EXPECT_EQ(holder.attempts, 1) << c.code;
        EXPECT_TRUE(clock.sleeps.empty()) << c.code;
        // The attributes are looked at only for an access refusal.
        EXPECT_EQ(asked, c.code == kErrorAccessDenied ? 1 : 0) << c.code;
    }
}

TEST(BusyFileRetry, AClockThatGoesBackEndsTheWaiting) {
    FakeClock clock;
    uint32_t calls = 0;
    const auto attempt = [&] {
        ++calls;
        clock.now -= 5;
        return kErrorSharingViolation;
    };
    EXPECT_EQ(RetryWhileBusy(clock, attempt, nullptr), kErrorSharingViolation);
    EXPECT_EQ(calls, 1u);
}

}  // namespace
}  // namespace orv
