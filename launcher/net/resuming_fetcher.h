// A Fetcher that survives a bad network on top of a PartFetcher: a body that breaks off (the
// connection closed or reset, a failed read, a receive time-out, fewer bytes than its length) is
// asked again from the byte where it stopped with If-Range naming the first answer's validator; a
// 206 goes on, a 200 starts the file again, anything else is the failure of the break. A request
// that timed out before its answer is tried again too, with the waits of the policy between the
// requests, each ended at once by the stop flag.
//
// The tries: `tries` counts the requests in a row that brought less than 64 KiB of the body; a
// request that brought more makes progress and starts the count, and the waits, again from it
// (so a long download over a line that breaks every few megabytes still ends). Whatever the
// progress, one Get makes at most 1000 requests.
//
// Across runs: the record of a large partial download (resume_rules.h) is written beside it as
// soon as its first answer is known, so that even a killed run leaves what the next needs; a Get
// that finds a partial file with a record for the same URL goes on with it, and one whose
// validator the server no longer has starts again from zero. On success the record goes; on a
// stop or when it gives up, a large partial body stays with its record and anything else goes.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "launcher/net/fetcher.h"

namespace orv {

struct RetryPolicy {
    int tries = 5;  // requests in a row without progress (see above)
    // The wait before the second, third... request; the last repeats if there are more tries.
    std::vector<std::chrono::milliseconds> waits = {std::chrono::seconds(1), std::chrono::seconds(2),
                                                    std::chrono::seconds(4), std::chrono::seconds(8)};
    // false: every try starts from the first byte (small files such as the catalogue and checklist).
    bool resume = true;
    // A partial body stays for a later run from this whole length on; -1: never (nothing is kept).
    int64_t keepPartialFrom = -1;
};

// What the status line tells while a download waits to try again.
struct RetryNotice {
    std::string url;
    int nextTry = 0;   // 2 for the first retry
    int tries = 0;     // of the policy
    std::chrono::milliseconds wait{0};
    int64_t have = 0;  // bytes already at the path, which the next try goes on from
    std::string reason;  // the error of the try that failed
};
using RetryNotify = std::function<void(const RetryNotice&)>;

// Waits `wait` unless `stop` is set first; false when it was. Unset: sleeps in slices of 20 ms.
using RetryWait = std::function<bool(std::chrono::milliseconds wait, const std::atomic<bool>& stop)>;

std::unique_ptr<Fetcher> NewResumingFetcher(std::unique_ptr<PartFetcher> client, RetryPolicy policy,
                                            RetryNotify notify = {}, RetryWait wait = {});

// The wait after the `row`th request in a row that failed (1 for the first): the policy's waits in
// turn, the last repeated; none before the first request or without waits.
std::chrono::milliseconds RetryWaitAfter(const RetryPolicy& policy, int row);

// Whether a failed request is worth another try: a body that broke off or timed out, an answer
// that did not come in time; not a refused connection, an unknown host, a status or a file error.
bool IsRetryable(const FetchResult& result);

}  // namespace orv
