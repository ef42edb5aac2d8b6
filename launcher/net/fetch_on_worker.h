// A download made on a thread of its own while the calling thread keeps its window alive: the GUI
// thread's downloads (the checklist, the launcher update) go through it, so that a stalled server
// never freezes the window and a stop ends the transfer at once. The worker makes the fetcher,
// uses it and destroys it (every handle stays with it); the calling thread is handed values only,
// and the worker has ended when the call returns.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "launcher/net/fetcher.h"
#include "launcher/net/resuming_fetcher.h"

namespace orv {

struct WorkerFetch {
    // Made on the worker; the notify it is given hands retry notices to the calling thread.
    std::function<std::unique_ptr<Fetcher>(RetryNotify notify)> newFetcher;
    std::string url;
    std::string path;
    // Called on the calling thread every few milliseconds while it waits (the event pump).
    std::function<void()> pump;
    // Read on the calling thread between pumps; true sets the worker's stop flag. May be unset.
    std::function<bool()> stopRequested;
    // On the calling thread, between pumps, when more has been written or a retry is waited for.
    FetchProgress progress;
    RetryNotify onRetry;
};

// The worker's FetchResult. A worker that cannot be started is a Request failure.
FetchResult FetchOnWorker(const WorkerFetch& fetch);

}  // namespace orv
