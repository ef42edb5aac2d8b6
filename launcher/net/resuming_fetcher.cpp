#include "launcher/net/resuming_fetcher.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <optional>
#include <thread>
#include <utility>

#include "launcher/net/fetch_rules.h"
#include "launcher/net/resume_rules.h"
#include "launcher/platform/files.h"

namespace orv {
namespace {

// A request that brought at least this much of the body made progress: the tries count again
// from it, so that a long download over a line that breaks every few megabytes still ends.
constexpr int64_t kProgressBytes = 64 * 1024;
// Whatever the progress, a Get ends after this many requests: a server that cuts every answer
// just past the progress mark cannot keep a download going for ever.
constexpr int kMostRequests = 1000;
constexpr auto kWaitSlice = std::chrono::milliseconds(20);

bool SleepUnlessStopped(std::chrono::milliseconds wait, const std::atomic<bool>& stop) {
    const auto until = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (stop) return false;
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) return true;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(until - now, kWaitSlice));
    }
}

// The record beside a partial file, read as hostile: a file larger than any record is not read.
std::optional<ResumeRecord> ReadRecord(const std::string& recordPath) {
    try {
        const FileProbe probe = ProbeFile(recordPath);
        if (!probe.exists || probe.size < 0 || probe.size > static_cast<int64_t>(kResumeRecordMaxBytes)) return std::nullopt;
        File file = File::OpenRead(recordPath);
        std::string text(kResumeRecordMaxBytes + 1, '\0');
        size_t have = 0;
        while (have < text.size()) {
            const size_t n = file.ReadOrRaise(text.data() + have, text.size() - have);
            if (n == 0) break;
            have += n;
        }
        text.resize(have);
        return ParseResumeRecord(text);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// What the file at a Get's path holds: the body its bytes came from and whether the record that
// names it lies beside it.
class Partial {
public:
    Partial(const std::string& url, const std::string& path, const RetryPolicy& policy)
        : url_(url), path_(path), recordPath_(ResumeRecordPath(path)), policy_(policy) {}

    // Goes on with what an earlier run left: the offset to go on from, 0 when the file and its
    // record do not fit this Get.
    int64_t TakeOver() {
        const std::optional<ResumeRecord> record = ReadRecord(recordPath_);
        if (!record || record->url != url_) return 0;
        const FileProbe probe = ProbeFile(path_);
        if (!probe.exists || probe.size <= 0 || record->length <= probe.size) return 0;
        validator_ = record->validator;
        whole_ = record->length;
        recordOnDisk_ = true;
        return probe.size;
    }

    // What the next request may go on from after a break: the bytes the client says it wrote, as
    // far as the file holds them.
    int64_t Have(int64_t written) const {
        const FileProbe probe = ProbeFile(path_);
        return probe.exists ? std::min(written, probe.size) : 0;
    }

    // Called before any of an answer's body is written.
    void Answered(int64_t offset, const FetchResult& answer) {
        const RangeAnswer kind = offset > 0 ? RangeAnswerOf(offset, answer.status, answer.contentRange)
                                 : answer.status == 200 ? RangeAnswer::Restart
                                                        : RangeAnswer::Refuse;
        if (kind == RangeAnswer::Append) {
            // A weak validator (Last-Modified) can name a body that changed its length within the
            // same second: such a rest does not belong to the bytes before it.
            const int64_t total = WholeLength(answer.status, answer.length, answer.contentRange);
            if (total >= 0 && whole_ >= 0 && total != whole_) misfit_ = true;
            if (whole_ < 0) whole_ = total;
            return;
        }
        if (kind != RangeAnswer::Restart) return;
        // The file starts again with this body: it is what a later request names.
        validator_ = IfRangeValidator(answer.etag, answer.lastModified);
        whole_ = WholeLength(answer.status, answer.length, answer.contentRange);
        if (Keepable()) WriteRecord();
        else RemoveRecord();
    }

    // A request for the rest can name the body.
    bool CanGoOn(int64_t have) const {
        return policy_.resume && !validator_.empty() && have > 0 && (whole_ < 0 || have < whole_);
    }
    const std::string& Validator() const { return validator_; }
    // The last answer's rest did not fit; cleared for the next request.
    bool TakeMisfit() { return std::exchange(misfit_, false); }

    void Forget() {
        RemoveFile(path_);
        RemoveRecord();
        validator_.clear();
        whole_ = -1;
    }
    // At a stop or when the tries are spent: a large partial stays with its record for a later
    // run; the bytes written so far, 0 when nothing stays.
    int64_t KeepOrForget() {
        if (recordOnDisk_ && Keepable()) {
            const FileProbe probe = ProbeFile(path_);
            if (probe.exists && probe.size > 0) return probe.size;
        }
        Forget();
        return 0;
    }
    void Done() { RemoveRecord(); }

private:
    bool Keepable() const {
        return policy_.resume && policy_.keepPartialFrom >= 0 && whole_ >= policy_.keepPartialFrom && !validator_.empty();
    }
    void WriteRecord() {
        const std::string text = FormatResumeRecord(ResumeRecord{url_, validator_, whole_});
        // An address the record cannot hold (too long, a line break) is not kept for a later run.
        if (!ParseResumeRecord(text)) {
            RemoveRecord();
            return;
        }
        try {
            WriteNewFile(recordPath_, text);
            recordOnDisk_ = true;
        } catch (const std::exception&) {
            // Without its record the partial is not kept: the download itself goes on.
            RemoveRecord();
        }
    }
    void RemoveRecord() {
        if (recordOnDisk_ || FileExists(recordPath_)) RemoveFile(recordPath_);
        recordOnDisk_ = false;
    }

    const std::string& url_;
    const std::string& path_;
    const std::string recordPath_;
    const RetryPolicy& policy_;
    std::string validator_;
    int64_t whole_ = -1;
    bool recordOnDisk_ = false;
    bool misfit_ = false;
};

class ResumingFetcher final : public Fetcher {
public:
    ResumingFetcher(std::unique_ptr<PartFetcher> client, RetryPolicy policy, RetryNotify notify, RetryWait wait)
        : client_(std::move(client)), policy_(std::move(policy)), notify_(std::move(notify)), wait_(std::move(wait)) {
        if (!wait_) wait_ = &SleepUnlessStopped;
    }

    FetchResult Get(const std::string& url, const std::string& path, const std::atomic<bool>& stop,
                    const FetchProgress& progress) override {
        Partial partial(url, path, policy_);
        try {
            return Fetch(partial, url, path, stop, progress);
        } catch (...) {
            partial.Forget();
            throw;
        }
    }

    FetchResult Head(const std::string& url) override {
        // Nothing stops a probe but its tries; it has no body to go on with.
        const std::atomic<bool> never{false};
        for (int row = 1, requests = 1;; ++row, ++requests) {
            FetchResult result = client_->Head(url);
            result.tries = requests;
            if (!IsRetryable(result) || row >= policy_.tries) return result;
            const std::chrono::milliseconds wait = WaitBefore(row);
            if (notify_) notify_(RetryNotice{url, row + 1, policy_.tries, wait, 0, result.error});
            wait_(wait, never);
        }
    }

private:
    FetchResult Fetch(Partial& partial, const std::string& url, const std::string& path, const std::atomic<bool>& stop,
                      const FetchProgress& progress) {
        int64_t offset = policy_.resume ? partial.TakeOver() : 0;
        bool fromRecord = offset > 0;
        if (!fromRecord) partial.Forget();

        std::optional<FetchResult> broke;  // the last break, what a refused rest fails with
        int row = 0, requests = 0;
        int64_t received = 0;
        const auto finish = [&](FetchResult result, int64_t written) {
            result.tries = requests;
            result.received = received;
            result.written = written;
            return result;
        };
        for (;;) {
            FetchRequest request;
            request.url = url;
            request.path = path;
            request.offset = offset;
            if (offset > 0) request.ifRange = partial.Validator();
            request.onAnswer = [&partial, offset](const FetchResult& answer) { partial.Answered(offset, answer); };
            FetchResult result = client_->Fetch(request, stop, progress);
            ++requests;
            received += result.received;
            const bool misfit = partial.TakeMisfit();

            if (result.ok && !misfit) {
                partial.Done();
                return finish(result, result.written);
            }
            if (result.stopped || stop) return Stopped(finish(result, partial.KeepOrForget()));
            if (offset > 0 && (misfit || result.failed == FetchStep::Status)) {
                // What an earlier run left is of no use to the server now: the whole body, once.
                if (fromRecord && requests == 1) {
                    fromRecord = false;
                    partial.Forget();
                    offset = 0;
                    continue;
                }
                // The server will not give the rest it had: nothing is kept that a later run
                // would be refused again.
                partial.Forget();
                return finish(broke ? *broke : result, 0);
            }
            if (!IsRetryable(result)) {
                partial.Forget();
                return finish(result, 0);
            }
            broke = result;
            row = result.received >= kProgressBytes ? 1 : row + 1;
            if (row >= policy_.tries || requests >= kMostRequests) return finish(result, partial.KeepOrForget());

            const int64_t have = partial.Have(result.written);
            offset = partial.CanGoOn(have) ? have : 0;
            if (offset == 0) partial.Forget();
            const std::chrono::milliseconds wait = WaitBefore(row);
            if (notify_) notify_(RetryNotice{url, row + 1, policy_.tries, wait, offset, result.error});
            if (!wait_(wait, stop)) return Stopped(finish(result, partial.KeepOrForget()));
        }
    }

    static FetchResult Stopped(FetchResult result) {
        result.ok = false;
        result.stopped = true;
        result.error = kFetchStoppedText;
        return result;
    }

    std::chrono::milliseconds WaitBefore(int row) const { return RetryWaitAfter(policy_, row); }

    const std::unique_ptr<PartFetcher> client_;
    const RetryPolicy policy_;
    const RetryNotify notify_;
    RetryWait wait_;
};

}  // namespace

std::chrono::milliseconds RetryWaitAfter(const RetryPolicy& policy, int row) {
    if (policy.waits.empty() || row < 1) return std::chrono::milliseconds(0);
    return policy.waits[std::min(static_cast<size_t>(row - 1), policy.waits.size() - 1)];
}

std::unique_ptr<Fetcher> NewResumingFetcher(std::unique_ptr<PartFetcher> client, RetryPolicy policy,
                                            RetryNotify notify, RetryWait wait) {
    return std::make_unique<ResumingFetcher>(std::move(client), std::move(policy), std::move(notify), std::move(wait));
}

bool IsRetryable(const FetchResult& result) {
    if (result.ok || result.stopped) return false;
    switch (result.failed) {
    case FetchStep::Read:
    case FetchStep::Short: return true;
    case FetchStep::Request: return result.timedOut;
    default: return false;
    }
}

}  // namespace orv
