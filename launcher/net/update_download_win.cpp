// The launcher update's download. It runs on a worker through the resuming fetcher, so that a body
// that breaks off goes on from the byte where it stopped (the server's validator named in
// If-Range) and a silent server is given up on after the time limits, while the self-update
// window keeps being pumped and its bar keeps moving. Nothing is kept across runs: an update that
// fails is deleted, and the next start fetches whatever is current then.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "launcher/base/errors.h"
#include "launcher/base/events.h"
#include "launcher/base/message_box.h"
#include "launcher/base/texts.h"
#include "launcher/net/download_body_win.h"
#include "launcher/net/download_limit.h"
#include "launcher/net/download_win.h"
#include "launcher/net/fetch_on_worker.h"
#include "launcher/net/resuming_fetcher.h"
#include "launcher/net/wininet_fetcher_win.h"
#include "launcher/platform/files.h"
#include "launcher/platform/wide_win.h"

namespace orv {
namespace {

using namespace download_detail;

void ShowUpdateProgress(int64_t received, int64_t size, ProgressBarView& bar) {
    const int64_t percent = received * 100 / size;
    if (percent < bar.Max()) {
        const int position = static_cast<int>(std::max<int64_t>(percent, 0));
        if (bar.Position() != position) bar.SetPosition(position);
    } else if (bar.Position() != bar.Max()) {
        bar.SetPosition(bar.Max());
    }
}

// Turns the marquee the update download switched on back off on every way out, so that a bar is
// never left running after the transfer has ended.
class MarqueeScope {
public:
    explicit MarqueeScope(ProgressBarView& bar) : bar_(bar) {}
    MarqueeScope(const MarqueeScope&) = delete;
    MarqueeScope& operator=(const MarqueeScope&) = delete;
    ~MarqueeScope() {
        if (on_ && bar_.IsMarquee()) bar_.SetMarquee(false);
    }
    void On() {
        bar_.SetMarquee(true);
        on_ = true;
    }

private:
    ProgressBarView& bar_;
    bool on_ = false;
};

// The size the bar is driven by, decided once, from the first answer: a later answer to a range
// request tells only the length of the rest. A header too long for the 20-byte buffer of the
// length query counts as absent, so the caller's size stays; one that is not a number fails the
// download.
class UpdateSize {
public:
    explicit UpdateSize(int64_t callerSize) : callerSize_(callerSize) {}
    // False when the length is not a number.
    bool Decide(const std::string& lengthText) {
        if (decided_) return !bad_;
        decided_ = true;
        ResponseLength length;
        if (!lengthText.empty() && lengthText.size() <= 9) length.progressText = Wide(lengthText);
        try {
            size_ = ProgressLength(length).value_or(callerSize_);
        } catch (const Error&) {
            bad_ = true;
        }
        return !bad_;
    }
    bool Decided() const { return decided_; }
    bool Bad() const { return bad_; }
    int64_t Size() const { return size_; }

private:
    int64_t callerSize_;
    int64_t size_ = 0;
    bool decided_ = false;
    bool bad_ = false;
};

RetryPolicy UpdatePolicy(std::vector<std::chrono::milliseconds> waits) {
    RetryPolicy policy;
    policy.resume = true;
    policy.keepPartialFrom = -1;
    if (!waits.empty()) policy.waits = std::move(waits);
    return policy;
}

// Taken on the calling thread, handed to the worker as values.
WinInetFetcherOptions UpdateOptions() {
    WinInetFetcherOptions options;
    options.agent = GameAgent();
    // An error page is saved like any body, as the update has always had it: its unpacking fails.
    options.anyStatus = true;
    const DownloadTimeLimits limits = CurrentDownloadTimeLimits();
    options.connectMs = limits.connectMs;
    options.receiveMs = limits.receiveMs;
    options.limiter = LauncherDownloadLimiter();
    return options;
}

}  // namespace

bool DownloadUpdateFile(const std::string& url, const std::string& path, ProgressBarView& bar, int64_t size,
                        int32_t& stop, const UpdateRetryShown& retryShown) {
    bar.SetMax(100);
    bar.SetPosition(0);
    MarqueeScope marquee(bar);
    UpdateSize expected(size);
    bool retrying = false;
    int64_t haveAtRetry = 0;
    const auto decide = [&](const std::string& lengthText) {
        if (expected.Decided()) return;
        if (expected.Decide(lengthText) && expected.Size() == 0) marquee.On();
    };

    WorkerFetch fetch;
    fetch.newFetcher = [options = UpdateOptions(), policy = UpdatePolicy(CurrentDownloadTimeLimits().waits)](
                           RetryNotify notify) -> std::unique_ptr<Fetcher> {
        return NewResumingFetcher(NewWinInetPartFetcher(options), policy, std::move(notify));
    };
    fetch.url = url;
    fetch.path = path;
    fetch.pump = &PumpEvents;
    // A length that is no number ends the transfer as the stop does; the result tells them apart.
    fetch.stopRequested = [&] { return stop == 1 || expected.Bad(); };
    fetch.progress = [&](int64_t written, const std::string& lengthText) {
        // Before the first bytes there may have been no answer yet (a retry is told this way too).
        if (written == 0 && !expected.Decided()) return;
        decide(lengthText);
        if (expected.Bad()) return;
        // The wait is over once bytes past those it started from are written.
        if (retrying && written > haveAtRetry) {
            retrying = false;
            if (retryShown) retryShown(nullptr);
        }
        if (expected.Size() != 0) ShowUpdateProgress(written, expected.Size(), bar);
    };
    fetch.onRetry = [&](const RetryNotice& notice) {
        retrying = true;
        haveAtRetry = notice.have;
        if (retryShown) retryShown(&notice);
    };
    const FetchResult result = FetchOnWorker(fetch);
    if (retrying && retryShown) retryShown(nullptr);
    if (!result.ok) RemoveFile(path);

    if (result.stopped && !expected.Bad()) {
        bar.SetPosition(bar.Max());
        return true;
    }
    if (result.ok) {
        decide(result.lengthText);
        if (expected.Bad()) {
            RemoveFile(path);
            return false;
        }
        if (expected.Size() == 0) {
            bar.SetMarquee(false);
            bar.SetPosition(bar.Max());
        } else {
            // The last bytes may have come after the last look the pump took.
            ShowUpdateProgress(result.written, expected.Size(), bar);
        }
        return true;
    }
    switch (result.failed) {
        case FetchStep::Request:
            // As before: a server that cannot be reached is the platform's error, not a result.
            if (result.platformCode != 0) RaiseInternetError(result.platformCode);
            throw Error(result.error);
        case FetchStep::Read:
        case FetchStep::Short:
            ShowMessage(Tr(TextId::ErrorInternetReadFile));
            return false;
        default:
            return false;
    }
}

}  // namespace orv
