// The connections of the launcher's check run: the check engine's download threads fetch game files
// through them, and the run's worker its checklist. The download client's agents and flags, every
// answer's body saved whatever its status (an error page then fails to unpack, as the run expects),
// the time limits, the retries and the launcher's cap over all its downloads.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "launcher/net/fetcher.h"
#include "launcher/net/resuming_fetcher.h"

namespace orv {

struct RunNetworkLimits {
    uint32_t connectMs = kConnectTimeLimitMs;
    uint32_t receiveMs = kReceiveTimeLimitMs;
    // The waits between tries (RetryPolicy's); the number of tries is the policy's.
    std::vector<std::chrono::milliseconds> waits = RetryPolicy{}.waits;
};

// A game file: a body that breaks off goes on from where it stopped, and a large one stays for the
// next run when this one stops or gives up.
std::unique_ptr<Fetcher> NewGameFileFetcher(const RunNetworkLimits& limits, RetryNotify notify);
// The checklist and a keyed build's statements: small files, each try from the first byte, nothing
// kept; the agent and status rule of DownloadFile.
std::unique_ptr<Fetcher> NewChecklistFetcher(const RunNetworkLimits& limits, RetryNotify notify);

// The platform's text for a code a download failed with (WinInet's own codes included).
std::string DownloadErrorMessage(uint32_t code);

}  // namespace orv
