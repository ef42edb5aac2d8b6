// The Fetcher of the Windows download threads, over WinInet: the check engine's and the headless
// check's. It may be made on any thread, but it belongs to the first thread that fetches through
// it: that thread opens its internet session, makes every request on it and, by destroying the
// object, closes it. The session is kept from one request to the next, so that WinInet keeps the
// connection to the server alive between them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "launcher/net/download_win.h"
#include "launcher/net/fetcher.h"

namespace orv {

struct WinInetFetcherOptions {
    std::string agent;       // the User-Agent of every request
    bool anyStatus = false;  // false: only a 200 answer is the file; true: any answer's body is saved
    // The longest one network step (connecting, sending, each read) waits for a silent server, and
    // so the longest a stop waits.
    uint32_t timeoutMs = kGameDownloadTimeoutMs;
};

std::unique_ptr<Fetcher> NewWinInetFetcher(WinInetFetcherOptions options);

}  // namespace orv
