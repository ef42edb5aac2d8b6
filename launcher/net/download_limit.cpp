#include "launcher/net/download_limit.h"

#include <atomic>
#include <memory>

namespace orv {
namespace {

// Set on the GUI thread at start-up and read by whichever thread makes a client: the pointer is
// swapped whole, so a reader has either the old limiter or the new one, never half of either.
std::shared_ptr<RateLimiter>& Limiter() {
    static std::shared_ptr<RateLimiter> limiter;
    return limiter;
}

}  // namespace

void SetLauncherDownloadLimit(uint64_t bytesPerSecond) {
    std::shared_ptr<RateLimiter> next = bytesPerSecond == 0 ? nullptr : std::make_shared<RateLimiter>(bytesPerSecond);
    std::atomic_store(&Limiter(), std::move(next));
}

std::shared_ptr<RateLimiter> LauncherDownloadLimiter() { return std::atomic_load(&Limiter()); }

}  // namespace orv
