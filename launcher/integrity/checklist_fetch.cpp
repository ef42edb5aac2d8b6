#include "launcher/integrity/checklist_fetch.h"

#include "launcher/base/app_state.h"
#include "launcher/base/errors.h"
#include "launcher/base/events.h"
#include "launcher/net/fetch_on_worker.h"
#include "launcher/platform/files.h"

namespace orv {
namespace {

// The Content-Length header as a count, when it is one.
std::optional<uint64_t> PromisedBytes(const std::string& lengthText) {
    if (lengthText.empty() || lengthText.size() > 19) return std::nullopt;
    uint64_t value = 0;
    for (const char c : lengthText) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value;
}

}  // namespace

RunFetch FetchForRun(const NewRetryingFetcher& newFetcher, const std::string& url, const std::string& path,
                     std::optional<uint64_t> maxBytes, const RetryNotify& onRetry) {
    bool tooLarge = false;
    WorkerFetch fetch;
    fetch.newFetcher = newFetcher;
    fetch.url = url;
    fetch.path = path;
    fetch.pump = [] { PumpEvents(); };
    // The bound is seen between the GUI thread's slices: what is written meanwhile goes to the disk,
    // never to memory, and the whole file goes when the bound ends the transfer.
    fetch.stopRequested = [&tooLarge] { return StopFlag == 1 || tooLarge; };
    fetch.progress = [&](int64_t written, const std::string& lengthText) {
        if (!maxBytes) return;
        const std::optional<uint64_t> promised = PromisedBytes(lengthText);
        if ((promised && *promised > *maxBytes) || (written > 0 && static_cast<uint64_t>(written) > *maxBytes))
            tooLarge = true;
    };
    fetch.onRetry = onRetry;
    const FetchResult result = FetchOnWorker(fetch);

    RunFetch outcome;
    if (result.stopped && !tooLarge) {
        outcome.stopped = true;
        return outcome;
    }
    // The download client raises when its target cannot be created, before anything was received;
    // a file that failed later, in the middle of the body, is a failed download like any other.
    if (result.failed == FetchStep::File && result.received == 0) throw EOSError(result.platformCode, result.error);
    outcome.ok = result.ok && !tooLarge;
    if (!outcome.ok) RemoveFile(path);
    return outcome;
}

}  // namespace orv
