// The launcher's one cap over all its downloads, from the settings file's "DownloadLimitKBps":
// every client of the process takes from the same limiter, so the cap holds over all connections.
#pragma once

#include <cstdint>
#include <memory>

#include "launcher/net/rate_limit.h"

namespace orv {

// 0: no cap. Set at start-up once the settings are loaded; clients made afterwards take it.
void SetLauncherDownloadLimit(uint64_t bytesPerSecond);
// Nothing when there is no cap.
std::shared_ptr<RateLimiter> LauncherDownloadLimiter();

}  // namespace orv
