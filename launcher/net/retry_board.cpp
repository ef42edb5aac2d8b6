#include "launcher/net/retry_board.h"

#include <algorithm>

namespace orv {

void RetryBoard::Post(const RetryNotice& notice) {
    const Clock::time_point now = Clock::now();
    const std::lock_guard<std::mutex> lock(mutex_);
    if (latest_.size() >= kMaxUrls && latest_.find(notice.url) == latest_.end()) {
        const auto oldest = std::min_element(latest_.begin(), latest_.end(), [](const auto& a, const auto& b) {
            return a.second.serial < b.second.serial;
        });
        latest_.erase(oldest);
    }
    latest_[notice.url] = Posted{notice, now, ++serial_};
}

std::optional<RetryBoard::Posted> RetryBoard::Latest(const std::string& url) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = latest_.find(url);
    if (it == latest_.end()) return std::nullopt;
    return it->second;
}

void RetryBoard::Forget(const std::string& url) {
    const std::lock_guard<std::mutex> lock(mutex_);
    latest_.erase(url);
}

}  // namespace orv
