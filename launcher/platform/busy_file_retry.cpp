#include "launcher/platform/busy_file_retry.h"

#include <algorithm>

namespace orv {

bool MayBeBusyFile(uint32_t code, bool attributesRefuse) {
    switch (code) {
        case kErrorSharingViolation:
        case kErrorLockViolation: return true;
        case kErrorAccessDenied: return !attributesRefuse;
        default: return false;
    }
}

uint32_t RetryWhileBusy(RetryClock& clock, const std::function<uint32_t()>& attempt,
                        const std::function<bool()>& attributesRefuse) {
    const uint64_t start = clock.NowMs();
    uint32_t wait = kBusyFileFirstWaitMs;
    for (;;) {
        const uint32_t code = attempt();
        if (code == 0) return 0;
        if (!MayBeBusyFile(code, code == kErrorAccessDenied && attributesRefuse && attributesRefuse())) return code;
        const uint64_t now = clock.NowMs();
        // A clock that went backwards counts as the limit passed rather than as a fresh start.
        if (now < start || now - start >= kBusyFileLimitMs) return code;
        clock.SleepMs(static_cast<uint32_t>(std::min<uint64_t>(wait, kBusyFileLimitMs - (now - start))));
        wait = std::min(wait * 2, kBusyFileLongestWaitMs);
    }
}

}  // namespace orv
