#include "launcher/net/rate_limit.h"

#include <algorithm>
#include <limits>
#include <thread>

namespace orv {
namespace {

// The bucket holds about this much of the rate: enough to smooth the reads of several connections,
// little enough that a burst after an idle spell stays a small part of any few seconds.
constexpr double kBurstSeconds = 0.1;
// One large read of a client should pass without a wait of its own...
constexpr double kBurstFloorBytes = 64 * 1024;
// ...unless that would let a slow cap's bursts outweigh its rate: a burst holds at most a fifth of
// a second of the rate, so that a burst and the read that overdraws it stay within a tenth of any
// 5 s.
constexpr double kBurstMostSeconds = 0.2;

double BucketSize(uint64_t rate) {
    const double perSecond = static_cast<double>(rate);
    return std::max(perSecond * kBurstSeconds, std::min(kBurstFloorBytes, perSecond * kBurstMostSeconds));
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::optional<uint64_t> DigitsOf(std::string_view text) {
    if (text.empty()) return std::nullopt;
    uint64_t value = 0;
    for (const char c : text) {
        if (!IsDigit(c)) return std::nullopt;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace

RateLimiter::RateLimiter(uint64_t bytesPerSecond, std::function<Clock::time_point()> now,
                         std::function<void(Clock::duration)> sleep)
    : rate_(bytesPerSecond), now_(std::move(now)), sleep_(std::move(sleep)) {
    if (!now_) now_ = [] { return Clock::now(); };
    if (!sleep_) sleep_ = [](Clock::duration d) { std::this_thread::sleep_for(d); };
}

bool RateLimiter::Take(uint64_t bytes, const std::atomic<bool>& stop) {
    if (rate_ == 0) return true;
    const double perSecond = static_cast<double>(rate_);
    Clock::time_point until;
    {
        std::lock_guard lock(mutex_);
        const Clock::time_point now = now_();
        // An empty bucket at the start: a fresh limiter never lets a burst through before the
        // rate has earned it.
        if (!started_) {
            started_ = true;
            last_ = now;
        }
        if (now > last_) {
            tokens_ = std::min(BucketSize(rate_), tokens_ + std::chrono::duration<double>(now - last_).count() * perSecond);
            last_ = now;
        }
        // Taken whatever its size: a read larger than the bucket puts it in debt, and the wait
        // below (of this caller and of every other until the debt is paid) holds the rate.
        tokens_ -= static_cast<double>(bytes);
        if (tokens_ >= 0) return true;
        until = now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(-tokens_ / perSecond));
    }
    // Waited without the lock, so that the other connections account for their reads meanwhile;
    // the end is a point in time, so oversleeping one slice does not add up over many waits.
    for (;;) {
        if (stop) return false;
        const Clock::time_point now = now_();
        if (now >= until) return true;
        sleep_(std::min<Clock::duration>(until - now, kStopSlice));
    }
}

size_t CappedReadSize(uint64_t bytesPerSecond, size_t most) {
    if (bytesPerSecond == 0) return most;
    constexpr uint64_t kLeast = 4096;
    const uint64_t share = std::max<uint64_t>(bytesPerSecond / 16, kLeast);
    return static_cast<size_t>(std::min<uint64_t>(share, most));
}

std::optional<uint64_t> ParseRateText(std::string_view text) {
    if (text.empty()) return std::nullopt;
    uint64_t unit = 1;
    switch (text.back()) {
    case 'k': case 'K': unit = uint64_t{1} << 10; break;
    case 'm': case 'M': unit = uint64_t{1} << 20; break;
    case 'g': case 'G': unit = uint64_t{1} << 30; break;
    default: break;
    }
    if (unit != 1) text.remove_suffix(1);
    const std::optional<uint64_t> number = DigitsOf(text);
    if (!number || *number == 0 || *number > std::numeric_limits<uint64_t>::max() / unit) return std::nullopt;
    return *number * unit;
}

uint64_t RateFromKBps(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    const std::optional<uint64_t> kib = DigitsOf(text);
    if (!kib || *kib > std::numeric_limits<uint64_t>::max() / 1024) return 0;
    return *kib * 1024;
}

}  // namespace orv
