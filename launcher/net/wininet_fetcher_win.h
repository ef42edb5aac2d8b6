// The clients of the Windows download threads, over WinInet: the check engine's and the headless
// check's, and the GUI thread's downloads made on a worker. A client may be made on any thread, but
// it belongs to the first thread that fetches through it: that thread opens its internet session,
// makes every request on it and, by destroying the object, closes it. The session is kept from one
// request to the next, so that WinInet keeps the connection to the server alive between them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "launcher/net/fetcher.h"
#include "launcher/net/rate_limit.h"

namespace orv {

struct WinInetFetcherOptions {
    std::string agent;       // the User-Agent of every request
    bool anyStatus = false;  // false: only a 200 answer is the file; true: any answer's body is saved
    // The longest a request waits to reach the server, and then for its answer or for more of the
    // body: a request that runs out of one fails with `timedOut`. A stop ends any wait at once.
    uint32_t connectMs = kConnectTimeLimitMs;
    uint32_t receiveMs = kReceiveTimeLimitMs;
    // Taken from after each read of a body, so that the cap holds over every client that shares
    // it; nullptr: no cap.
    std::shared_ptr<RateLimiter> limiter;
};

std::unique_ptr<PartFetcher> NewWinInetPartFetcher(WinInetFetcherOptions options);

// A plain Fetcher on the same client: Get is one request from the first byte, and nothing stays at
// the path unless it succeeded.
std::unique_ptr<Fetcher> NewWinInetFetcher(WinInetFetcherOptions options);

}  // namespace orv
