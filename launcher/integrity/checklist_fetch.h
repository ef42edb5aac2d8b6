// The check run's own downloads at its start (the checklist, a keyed build's statement and hash
// list), made on a worker while the GUI thread keeps the window alive and watches StopFlag: a
// stalled server never freezes the window, and Stop ends the transfer at once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "launcher/net/fetcher.h"
#include "launcher/net/resuming_fetcher.h"

namespace orv {

// Makes the connection on the worker; the notify it is given hands retry notices to the GUI thread.
using NewRetryingFetcher = std::function<std::unique_ptr<Fetcher>(RetryNotify notify)>;

struct RunFetch {
    bool ok = false;       // the whole body is at the path (whatever the answer's status)
    bool stopped = false;  // StopFlag ended it; nothing is left at the path
};

// `url` into `path` on a worker, pumping the events between slices of the wait. With `maxBytes`, a
// body that is promised or grows past it is refused (ok false, nothing left). `onRetry` is told on
// the calling thread when a try failed and the next is waited for. Raises EOSError, as the download
// client does, when the file at `path` cannot be created.
RunFetch FetchForRun(const NewRetryingFetcher& newFetcher, const std::string& url, const std::string& path,
                     std::optional<uint64_t> maxBytes, const RetryNotify& onRetry);

}  // namespace orv
