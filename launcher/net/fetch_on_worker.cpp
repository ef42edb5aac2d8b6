#include "launcher/net/fetch_on_worker.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace orv {
namespace {

// Short enough that the window never looks stuck, long enough that the wait costs nothing.
constexpr auto kPumpSlice = std::chrono::milliseconds(5);

FetchResult RequestFailure(std::string error) {
    FetchResult result;
    result.failed = FetchStep::Request;
    result.error = std::move(error);
    return result;
}

// What the worker hands to the calling thread: only the latest of each, since the caller shows
// where the download is, not how it got there.
struct Mailbox {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    FetchResult result;
    bool progressNew = false;
    int64_t written = 0;
    std::string lengthText;
    std::optional<RetryNotice> notice;
};

void RunFetch(const WorkerFetch& fetch, Mailbox& box, const std::atomic<bool>& stop) {
    FetchResult result;
    // Nothing may leave the thread's entry: whatever goes wrong becomes the fetch's failure.
    try {
        const RetryNotify notify = [&box](const RetryNotice& notice) {
            std::lock_guard lock(box.mutex);
            box.notice = notice;
        };
        const FetchProgress progress = [&box](int64_t written, const std::string& lengthText) {
            std::lock_guard lock(box.mutex);
            box.progressNew = true;
            box.written = written;
            box.lengthText = lengthText;
        };
        // Made, used and destroyed here: every handle of the connection stays with this thread.
        std::unique_ptr<Fetcher> fetcher = fetch.newFetcher ? fetch.newFetcher(notify) : nullptr;
        if (!fetcher) result = RequestFailure("no connection to fetch with");
        else result = fetcher->Get(fetch.url, fetch.path, stop, progress);
    } catch (const std::exception& e) {
        result = RequestFailure(e.what());
    } catch (...) {
        result = RequestFailure("the download failed");
    }
    std::lock_guard lock(box.mutex);
    box.result = std::move(result);
    box.done = true;
    box.changed.notify_all();
}

// Hands what the worker left to the caller's callbacks, outside the lock so that they may take
// their time (a window repainted) while the worker goes on.
void Deliver(const WorkerFetch& fetch, Mailbox& box) {
    std::optional<RetryNotice> notice;
    std::optional<std::pair<int64_t, std::string>> progress;
    {
        std::lock_guard lock(box.mutex);
        notice = std::exchange(box.notice, std::nullopt);
        if (std::exchange(box.progressNew, false)) progress.emplace(box.written, box.lengthText);
    }
    if (notice && fetch.onRetry) fetch.onRetry(*notice);
    if (progress && fetch.progress) fetch.progress(progress->first, progress->second);
}

}  // namespace

FetchResult FetchOnWorker(const WorkerFetch& fetch) {
    Mailbox box;
    std::atomic<bool> stop{false};
    std::thread worker;
    try {
        worker = std::thread([&fetch, &box, &stop] { RunFetch(fetch, box, stop); });
    } catch (const std::system_error& e) {
        return RequestFailure(std::string("cannot start a thread: ") + e.what());
    }
    // The worker uses this frame: it is joined on every way out, a callback that raises included.
    struct Joined {
        std::thread& worker;
        std::atomic<bool>& stop;
        ~Joined() {
            if (!worker.joinable()) return;
            stop = true;
            worker.join();
        }
    } joined{worker, stop};

    for (;;) {
        if (fetch.pump) fetch.pump();
        if (fetch.stopRequested && fetch.stopRequested()) stop = true;
        Deliver(fetch, box);
        std::unique_lock lock(box.mutex);
        if (box.changed.wait_for(lock, kPumpSlice, [&box] { return box.done; })) break;
    }
    worker.join();
    // What came last before the end is shown too.
    Deliver(fetch, box);
    return std::move(box.result);
}

}  // namespace orv
