// Where the download threads leave their latest retry notice for the thread that shows them: the
// engine's fetchers wait between tries on threads of their own, and the run's GUI thread reads the
// notice of the file it waits for between pumps. Values only cross: no callback runs on the GUI
// thread from elsewhere.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "launcher/net/resuming_fetcher.h"

namespace orv {

class RetryBoard {
public:
    using Clock = std::chrono::steady_clock;
    struct Posted {
        RetryNotice notice;
        Clock::time_point at;  // when the wait began
        uint64_t serial = 0;   // counts up with every notice on the board
    };

    // From any thread. A new notice for the same URL replaces the old one.
    void Post(const RetryNotice& notice);
    // The latest notice for `url`, if any since it was last forgotten.
    std::optional<Posted> Latest(const std::string& url) const;
    void Forget(const std::string& url);

    // The board never holds more than this many URLs: a notice nobody forgot makes room for newer
    // ones, so a long run's memory stays bounded whatever the server does.
    static constexpr size_t kMaxUrls = 16;

private:
    mutable std::mutex mutex_;
    std::map<std::string, Posted> latest_;
    uint64_t serial_ = 0;
};

}  // namespace orv
