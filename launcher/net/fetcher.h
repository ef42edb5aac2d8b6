// One HTTP connection of a download thread: the thread that fetches through it made it and is the
// only one to use it, so the connection and every handle under it belong to that thread. The
// check engine's download threads, the headless check's and the launcher's, go through this.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace orv {

// The time limits of every request of the downloads: connecting, and each wait for the answer or
// more of the body. A stalled server ends in a failure marked `timedOut`, which the resuming
// fetcher tries again.
constexpr uint32_t kConnectTimeLimitMs = 15000;
constexpr uint32_t kReceiveTimeLimitMs = 30000;

// The step of a fetch that failed.
enum class FetchStep {
    None,     // nothing failed
    Request,  // the server could not be reached, or the request could not be made
    Status,   // an answer other than 200 where only 200 is the file (or, to a range, not 206 or 200)
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
    bool timedOut = false;  // the failed step ran out of its time limit (connect or receive)
    std::string error;      // why not ok, for people
    // The answer's validators and range, as they came (empty when not given): what a later
    // request for the rest of the same body names in If-Range.
    std::string etag;
    std::string lastModified;
    std::string contentRange;
    int64_t written = 0;    // bytes of the file at the path when the call returned, from its first
    int64_t received = 0;   // body bytes that came over the network for this call, every try counted
    int tries = 0;          // requests made for this call
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

// One request of a download that may go on from where an earlier one stopped.
struct FetchRequest {
    std::string url;
    std::string path;
    // 0: the whole body from its first byte, the file at `path` created or truncated. Above 0: the
    // file at `path` holds at least this many bytes of the body; the request asks for the rest with
    // "Range: bytes=<offset>-" and, when `ifRange` is not empty, "If-Range: <ifRange>".
    int64_t offset = 0;
    std::string ifRange;
    // Told the answer's status and headers (status, length, lengthText, etag, lastModified,
    // contentRange filled) once they are known and before any of the body is written; may be unset.
    std::function<void(const FetchResult& answer)> onAnswer;
};

// A client that makes single requests and leaves what came of a body that broke off: what the
// resuming fetcher (resuming_fetcher.h) builds on. Every handle it opens stays with the thread that
// calls it, as for Fetcher.
class PartFetcher {
public:
    virtual ~PartFetcher() = default;
    // One request. With offset 0, as Fetcher::Get (the client's own status rule included), except
    // that it removes nothing: whatever came of a body that broke off, was stopped or was refused
    // stays at `path` for the caller to keep or remove (a file that could not be written goes).
    // With an offset, the answer decides by RangeAnswerOf (resume_rules.h): a 206 whose range
    // starts at the offset is written after the first `offset` bytes (the file is cut there first),
    // a 200 is the whole body written from the first byte (the file truncated), anything else fails
    // (Status) with the file as it was. `written` and `received` are filled on every way out.
    virtual FetchResult Fetch(const FetchRequest& request, const std::atomic<bool>& stop,
                              const FetchProgress& progress) = 0;
    virtual FetchResult Head(const std::string& url) = 0;
};

}  // namespace orv
