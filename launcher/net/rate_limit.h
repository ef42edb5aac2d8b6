// A cap on the download rate over every connection of the process (or of one tool run): each
// client takes what a read gave from the one shared limiter, which makes it wait until the rate
// allows it. A token bucket with a small burst, so that the rate holds within a few per cent over
// any few seconds while a wait never outlasts one read's share.
#pragma once

#include <atomic>
#include <cstddef>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

namespace orv {

class RateLimiter {
public:
    using Clock = std::chrono::steady_clock;
    // `bytesPerSecond` 0: no cap, Take never waits. `now` and `sleep` are for tests; unset, the
    // steady clock and the calling thread's sleep.
    explicit RateLimiter(uint64_t bytesPerSecond, std::function<Clock::time_point()> now = {},
                         std::function<void(Clock::duration)> sleep = {});
    RateLimiter(const RateLimiter&) = delete;
    RateLimiter& operator=(const RateLimiter&) = delete;

    // Accounts for `bytes` just received and waits until the rate allows the next read. The wait
    // is made in slices of at most kStopSlice with `stop` read between them: false when it ended
    // the wait. Called from any thread.
    bool Take(uint64_t bytes, const std::atomic<bool>& stop);
    uint64_t BytesPerSecond() const { return rate_; }

    static constexpr auto kStopSlice = std::chrono::milliseconds(20);

private:
    const uint64_t rate_;
    std::function<Clock::time_point()> now_;
    std::function<void(Clock::duration)> sleep_;
    std::mutex mutex_;
    // The bucket's state; its implementer may change these.
    double tokens_ = 0;
    Clock::time_point last_{};
    bool started_ = false;
};

// The largest read a client makes under a cap of `bytesPerSecond` (0: none): a sixteenth of a
// second's worth, within 4 KiB and `most`. A read is taken from the cap whole after it came, so a
// large one at a low rate would swing the rate over a few seconds by more than the cap's accuracy.
size_t CappedReadSize(uint64_t bytesPerSecond, size_t most);

// A rate as curl's --limit-rate spells it: decimal digits with an optional K, M or G (either case,
// 1024 based): "500K", "2M", "1048576". Nothing for anything else, 0 and overflow included.
std::optional<uint64_t> ParseRateText(std::string_view text);

// The settings file's "DownloadLimitKBps" as a rate in bytes per second: KiB per second; 0 (no
// cap) for 0, a missing value and anything that is not a plain decimal number.
uint64_t RateFromKBps(std::string_view text);

}  // namespace orv
