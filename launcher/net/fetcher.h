// One HTTP connection of a download thread: the thread that fetches through it made it and is the
// only one to use it, so the connection and every handle under it belong to that thread. The
// check engine's download threads, the headless check's and the launcher's, go through this.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace orv {

// The step of a fetch that failed.
enum class FetchStep {
    None,     // nothing failed
    Request,  // the server could not be reached, or the request could not be made
    Status,   // an answer other than 200 where only 200 is the file
    File,     // the target file could not be created or written
    Read,     // reading the body failed (or timed out)
    Short,    // the body ended before the length its answer promised
};

struct FetchResult {
    bool ok = false;        // a body saved whole at the path
    bool stopped = false;   // `stop` ended the transfer; nothing is left at the path
    FetchStep failed = FetchStep::None;
    int status = 0;         // HTTP status, 0 without an answer
    int64_t length = -1;    // Content-Length as a number, -1 when not given or not a number
    std::string lengthText; // the Content-Length header as it came, empty when not given
    uint32_t platformCode = 0;  // the platform's code of the failed step, 0 when it has none
    std::string error;      // why not ok, for people
};

// Told the bytes written so far and the answer's Content-Length header as it came (empty when not
// given), on the fetching thread, after each block.
using FetchProgress = std::function<void(int64_t written, const std::string& lengthText)>;

class Fetcher {
public:
    virtual ~Fetcher() = default;
    // The URL's body into `path` (created, or truncated); nothing stays at `path` unless `ok`.
    // Gives up soon after `stop` is set (within the client's time-out when the server is silent).
    virtual FetchResult Get(const std::string& url, const std::string& path, const std::atomic<bool>& stop,
                            const FetchProgress& progress = {}) = 0;
    // The answer's status and length without the body.
    virtual FetchResult Head(const std::string& url) = 0;
};

}  // namespace orv
