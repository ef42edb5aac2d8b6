// The resuming fetcher over a scripted client: each request's answer and where its body breaks
// off are set by the test, and what the fetcher asks for next, what it leaves on disk and what it
// reports are compared with what a bad network calls for.
#include "launcher/net/resuming_fetcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "launcher/net/fetch_rules.h"
#include "launcher/net/resume_rules.h"
#include "launcher/platform/files.h"
#include "support/test_files.h"

namespace orv {
namespace {

using std::chrono::milliseconds;

constexpr int64_t KiB = 1024;
const char* const kUrl = "http://127.0.0.1:8080/game/pak01.vpk.lzma";

// The bytes of version `version` of the body, from `from` on.
std::string Body(int version, int64_t from, int64_t n) {
    std::string bytes(static_cast<size_t>(n), '\0');
    for (int64_t i = 0; i < n; ++i) {
        const int64_t at = from + i;
        bytes[static_cast<size_t>(i)] = static_cast<char>((at * 131 + at / 251 + version * 77) & 0xff);
    }
    return bytes;
}

// One answer of the scripted server.
struct Step {
    int status = 200;  // 0: no answer at all
    const char* etag = "\"v0\"";
    const char* lastModified = "";
    int64_t bytes = -1;  // of the body sent before it breaks off; -1: all of it
    FetchStep fail = FetchStep::Short;
    bool timedOut = false;
    int version = 0;
    const char* contentRange = nullptr;  // instead of the one that fits the request
    int64_t claimReceived = -1;          // told instead of the bytes sent
    bool stop = false;                   // the player stops during this body
};

Step Cut(int64_t bytes, int version = 0, const char* etag = "\"v0\"") {
    Step step;
    step.bytes = bytes;
    step.version = version;
    step.etag = etag;
    return step;
}
Step Rest(int version = 0, const char* etag = "\"v0\"") {
    Step step;
    step.status = 206;
    step.version = version;
    step.etag = etag;
    return step;
}
Step Whole(int version, const char* etag) {
    Step step;
    step.version = version;
    step.etag = etag;
    return step;
}
Step Status(int status) {
    Step step;
    step.status = status;
    return step;
}
Step NoAnswer(bool timedOut) {
    Step step;
    step.status = 0;
    step.fail = FetchStep::Request;
    step.timedOut = timedOut;
    return step;
}

struct Asked {
    int64_t offset;
    std::string ifRange;
    bool operator==(const Asked&) const = default;
};

class ScriptedClient final : public PartFetcher {
public:
    struct Log {
        std::vector<Asked> asked;
        std::vector<bool> recordBeforeBody;
        std::vector<Step> steps;
        size_t next = 0;
        int64_t size = 0;
        std::atomic<bool>* stop = nullptr;
        std::vector<FetchResult> heads;
        int headsAsked = 0;
    };
    explicit ScriptedClient(Log& log) : log_(log) {}

    FetchResult Fetch(const FetchRequest& request, const std::atomic<bool>&, const FetchProgress& progress) override {
        log_.asked.push_back({request.offset, request.ifRange});
        FetchResult r;
        if (log_.next >= log_.steps.size()) {
            ADD_FAILURE() << "a request past the script";
            r.failed = FetchStep::Request;
            return r;
        }
        const Step step = log_.steps[log_.next++];
        r.written = test::Exists(request.path) ? static_cast<int64_t>(test::ReadFile(request.path).size()) : 0;
        if (step.status == 0) {
            r.failed = step.fail;
            r.timedOut = step.timedOut;
            r.error = "no answer";
            return r;
        }
        const int64_t size = log_.size;
        r.status = step.status;
        r.etag = step.etag;
        r.lastModified = step.lastModified;
        int64_t from = 0;
        if (step.status == 206) {
            from = request.offset;
            r.contentRange = step.contentRange ? step.contentRange
                                               : "bytes " + std::to_string(from) + "-" + std::to_string(size - 1) + "/" +
                                                     std::to_string(size);
            r.length = size - from;
        } else {
            r.length = step.status == 200 ? size : 0;
        }
        r.lengthText = std::to_string(r.length);
        if (request.onAnswer) request.onAnswer(r);
        const RangeAnswer kind = request.offset > 0 ? RangeAnswerOf(request.offset, r.status, r.contentRange)
                                 : r.status == 200 ? RangeAnswer::Restart
                                                   : RangeAnswer::Refuse;
        if (kind == RangeAnswer::Refuse) {
            if (request.offset == 0) test::WriteFile(request.path, "");
            r.failed = FetchStep::Status;
            r.error = StatusFailureText(r.status);
            return r;
        }
        if (kind == RangeAnswer::Restart) from = 0;
        const int64_t rest = size - from;
        const int64_t n = step.bytes < 0 ? rest : std::min(step.bytes, rest);
        log_.recordBeforeBody.push_back(test::Exists(ResumeRecordPath(request.path)));
        const std::string before = from > 0 ? test::ReadFile(request.path).substr(0, static_cast<size_t>(from)) : "";
        test::WriteFile(request.path, before + Body(step.version, from, n));
        if (progress) progress(from + n, r.lengthText);
        r.received = step.claimReceived >= 0 ? step.claimReceived : n;
        r.written = from + n;
        if (step.stop) {
            *log_.stop = true;
            r.stopped = true;
            r.error = kFetchStoppedText;
        } else if (n < rest) {
            r.failed = step.fail;
            r.timedOut = step.timedOut;
            r.error = "the connection broke";
        } else {
            r.ok = true;
        }
        return r;
    }
    FetchResult Head(const std::string&) override {
        const int asked = log_.headsAsked++;
        return asked < static_cast<int>(log_.heads.size()) ? log_.heads[static_cast<size_t>(asked)] : FetchResult{};
    }

private:
    Log& log_;
};

class ResumingFetcherTest : public ::testing::Test {
protected:
    // Runs one Get of a body of `size` bytes over `steps`; the waits are recorded, not waited.
    FetchResult Run(int64_t size, std::vector<Step> steps, RetryPolicy policy = {}) {
        log_.size = size;
        log_.steps = std::move(steps);
        log_.stop = &stop_;
        const auto notify = [this](const RetryNotice& notice) { notices_.push_back(notice); };
        const auto wait = [this](milliseconds length, const std::atomic<bool>& stop) {
            waits_.push_back(length);
            if (stopInWait_) stop_ = true;
            return !stop;
        };
        auto fetcher = NewResumingFetcher(std::make_unique<ScriptedClient>(log_), std::move(policy), notify, wait);
        const FetchResult result = fetcher->Get(kUrl, path_, stop_, {});
        EXPECT_EQ(log_.next, log_.steps.size()) << "the script was not played to its end";
        return result;
    }
    std::string Partial(int version, int64_t n) const { return Body(version, 0, n); }
    void LeaveRecord(const std::string& text) { test::WriteFile(ResumeRecordPath(path_), text); }
    bool RecordThere() const { return test::Exists(ResumeRecordPath(path_)); }
    std::vector<int64_t> Offsets() const {
        std::vector<int64_t> offsets;
        for (const Asked& a : log_.asked) offsets.push_back(a.offset);
        return offsets;
    }

    test::TempDir dir_;
    const std::string path_ = dir_.File("pak01.vpk.lzma");
    ScriptedClient::Log log_;
    std::atomic<bool> stop_{false};
    bool stopInWait_ = false;
    std::vector<RetryNotice> notices_;
    std::vector<milliseconds> waits_;
};

TEST_F(ResumingFetcherTest, ABodyThatBreaksOffGoesOnWhereItStopped) {
    const int64_t size = 300 * KiB;
    Step weak = Cut(100 * KiB, 0, "W/\"v0\"");
    weak.lastModified = "Tue, 01 Dec 2026 10:00:00 GMT";
    Step noValidator = Cut(100 * KiB, 0, "");
    Step reset = Cut(100 * KiB);
    reset.fail = FetchStep::Read;
    Step timedOutRead = Cut(100 * KiB);
    timedOutRead.fail = FetchStep::Read;
    timedOutRead.timedOut = true;
    const struct {
        const char* name;
        std::vector<Step> steps;
        std::vector<Asked> asked;
        int version;  // of the body that ends up at the path
        bool resume = true;
    } cases[] = {
        {"breaks, then the rest", {Cut(100 * KiB), Rest()}, {{0, ""}, {100 * KiB, "\"v0\""}}, 0},
        {"a reset and a time-out",
         {reset, [&] { Step s = Rest(); s.bytes = 100 * KiB; s.fail = FetchStep::Read; s.timedOut = true; return s; }(), Rest()},
         {{0, ""}, {100 * KiB, "\"v0\""}, {200 * KiB, "\"v0\""}},
         0},
        {"a time-out before the answer keeps the offset",
         {timedOutRead, NoAnswer(true), Rest()},
         {{0, ""}, {100 * KiB, "\"v0\""}, {100 * KiB, "\"v0\""}},
         0},
        {"the server ignores the range: the whole body again", {Cut(100 * KiB), Step{}}, {{0, ""}, {100 * KiB, "\"v0\""}}, 0},
        {"the body changed: its new tag names the rest",
         {Cut(100 * KiB), Cut(50 * KiB, 1, "\"v1\""), Rest(1, "\"v1\"")},
         {{0, ""}, {100 * KiB, "\"v0\""}, {50 * KiB, "\"v1\""}},
         1},
        {"a weak tag: the date names it", {weak, Rest()}, {{0, ""}, {100 * KiB, "Tue, 01 Dec 2026 10:00:00 GMT"}}, 0},
        {"nothing names it: from the start", {noValidator, Step{}}, {{0, ""}, {0, ""}}, 0},
        {"no resuming asked: from the start", {Cut(100 * KiB), Step{}}, {{0, ""}, {0, ""}}, 0, false},
        {"no answer in time, then the body", {NoAnswer(true), Step{}}, {{0, ""}, {0, ""}}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log_ = {};
        notices_.clear();
        RetryPolicy policy;
        policy.resume = c.resume;
        const FetchResult result = Run(size, c.steps, policy);
        EXPECT_TRUE(result.ok) << result.error;
        EXPECT_EQ(log_.asked, c.asked);
        EXPECT_TRUE(test::ReadFile(path_) == Body(c.version, 0, size)) << "the file is not the body";
        EXPECT_EQ(result.tries, static_cast<int>(c.steps.size()));
        EXPECT_EQ(result.written, size);
        ASSERT_EQ(notices_.size(), c.steps.size() - 1);
        EXPECT_EQ(notices_[0].nextTry, 2);
        EXPECT_EQ(notices_[0].url, kUrl);
        EXPECT_EQ(notices_.back().have, c.asked.back().offset);
        EXPECT_FALSE(RecordThere());
    }
}

TEST_F(ResumingFetcherTest, WhatCannotGoOnEndsAsTheBreakOrTheFailure) {
    const int64_t size = 300 * KiB;
    // A 206 for a body of another length than the first answer's: not the rest of these bytes.
    Step otherTotal = Rest();
    otherTotal.contentRange = "bytes 102400-409599/409600";
    Step notFound = Status(404);
    Step fileFailure = Cut(10 * KiB);
    fileFailure.fail = FetchStep::File;
    const struct {
        const char* name;
        std::vector<Step> steps;
        FetchStep failed;
        int status;
    } cases[] = {
        {"the range refused", {Cut(100 * KiB), Status(416)}, FetchStep::Short, 200},
        {"an error for the rest", {Cut(100 * KiB), Status(503)}, FetchStep::Short, 200},
        {"another range", [] { Step s = Rest(); s.contentRange = "bytes 0-307199/307200"; return std::vector<Step>{Cut(100 * KiB), s}; }(),
         FetchStep::Short, 200},
        {"a rest of another body", {Cut(100 * KiB), otherTotal}, FetchStep::Short, 200},
        {"not found", {notFound}, FetchStep::Status, 404},
        {"no connection", {NoAnswer(false)}, FetchStep::Request, 0},
        {"the file cannot be written", {fileFailure}, FetchStep::File, 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log_ = {};
        RetryPolicy policy;
        policy.keepPartialFrom = 0;  // even a kept size does not keep what cannot go on
        const FetchResult result = Run(size, c.steps, policy);
        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(result.stopped);
        EXPECT_EQ(result.failed, c.failed);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.tries, static_cast<int>(c.steps.size()));
        EXPECT_EQ(result.written, 0);
        EXPECT_FALSE(test::Exists(path_));
        EXPECT_FALSE(RecordThere());
    }
}

TEST_F(ResumingFetcherTest, TriesCountOnlyRequestsWithoutProgress) {
    // Five requests that bring next to nothing: the waits of the policy, then it gives up.
    std::vector<Step> stalls(5, Cut(0));
    for (size_t i = 0; i < stalls.size(); ++i) stalls[i].bytes = static_cast<int64_t>(i + 1) * 10;
    FetchResult result = Run(300 * KiB, stalls);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.failed, FetchStep::Short);
    EXPECT_EQ(result.tries, 5);
    EXPECT_EQ(result.received, 10 + 20 + 30 + 40 + 50);
    EXPECT_EQ(waits_, (std::vector<milliseconds>{milliseconds(1000), milliseconds(2000), milliseconds(4000), milliseconds(8000)}));
    ASSERT_EQ(notices_.size(), 4u);
    for (size_t i = 0; i < notices_.size(); ++i) {
        EXPECT_EQ(notices_[i].nextTry, static_cast<int>(i) + 2);
        EXPECT_EQ(notices_[i].tries, 5);
        EXPECT_EQ(notices_[i].reason, "the connection broke");
    }
    EXPECT_FALSE(test::Exists(path_)) << "a small partial is not kept";

    // Every request brings 100 KiB before it breaks: the count and the waits start again each time.
    log_ = {};
    waits_.clear();
    std::vector<Step> progress{Cut(100 * KiB)};
    for (int i = 0; i < 11; ++i) {
        Step s = Rest();
        s.bytes = 100 * KiB;
        progress.push_back(s);
    }
    progress.push_back(Rest());
    result = Run(1250 * KiB, progress);
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.tries, 13);
    EXPECT_EQ(result.received, 1250 * KiB);
    EXPECT_EQ(waits_, std::vector<milliseconds>(12, milliseconds(1000)));
    EXPECT_TRUE(test::ReadFile(path_) == Body(0, 0, 1250 * KiB));
}

TEST_F(ResumingFetcherTest, NoGetMakesMoreThanAThousandRequests) {
    // A server that tells of progress and cuts every answer after one byte.
    std::vector<Step> steps;
    for (int i = 0; i < 1000; ++i) {
        Step s = i == 0 ? Cut(1) : Rest();
        s.bytes = 1;
        s.claimReceived = 64 * KiB;
        steps.push_back(s);
    }
    const FetchResult result = Run(5000, steps);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.tries, 1000);
}

TEST_F(ResumingFetcherTest, ALargePartialIsRecordedBeforeItsBodyAndKeptOnAStop) {
    const int64_t size = 300 * KiB;
    const struct {
        const char* name;
        int64_t keepFrom;
        bool stopInWait;  // else stopped during the body
        bool kept;
    } cases[] = {
        {"stopped in the wait", 300 * KiB, true, true},
        {"stopped during the body", 200 * KiB, false, true},
        {"smaller than the kept size", 300 * KiB + 1, true, false},
        {"nothing is ever kept", -1, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log_ = {};
        stop_ = false;
        stopInWait_ = c.stopInWait;
        RetryPolicy policy;
        policy.keepPartialFrom = c.keepFrom;
        Step first = Cut(100 * KiB);
        first.stop = !c.stopInWait;
        const FetchResult result = Run(size, {first}, policy);
        EXPECT_TRUE(result.stopped);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.tries, 1);
        ASSERT_EQ(log_.recordBeforeBody.size(), 1u);
        EXPECT_EQ(log_.recordBeforeBody[0], c.keepFrom >= 0 && c.keepFrom <= size);
        EXPECT_EQ(test::Exists(path_), c.kept);
        EXPECT_EQ(RecordThere(), c.kept);
        EXPECT_EQ(result.written, c.kept ? 100 * KiB : 0);
        if (!c.kept) continue;
        const std::optional<ResumeRecord> record = ParseResumeRecord(test::ReadFile(ResumeRecordPath(path_)));
        ASSERT_TRUE(record);
        EXPECT_EQ(record->url, kUrl);
        EXPECT_EQ(record->validator, "\"v0\"");
        EXPECT_EQ(record->length, size);
        RemoveFile(path_);
        RemoveFile(ResumeRecordPath(path_));
    }
}

TEST_F(ResumingFetcherTest, APartialIsKeptWhenTheTriesAreSpentAndItsRecordGoesOnSuccess) {
    RetryPolicy policy;
    policy.keepPartialFrom = 200 * KiB;
    policy.tries = 2;
    std::vector<Step> steps{Cut(100 * KiB), Rest()};
    steps[1].bytes = 10;
    FetchResult result = Run(300 * KiB, steps, policy);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.stopped);
    EXPECT_EQ(result.written, 100 * KiB + 10);
    EXPECT_TRUE(RecordThere()) << "given up on: kept for the next run";

    // The next run goes on with it, from the byte where it stopped, and the record goes.
    log_ = {};
    result = Run(300 * KiB, {Rest()}, policy);
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(log_.asked, (std::vector<Asked>{{100 * KiB + 10, "\"v0\""}}));
    EXPECT_EQ(result.tries, 1);
    EXPECT_TRUE(test::ReadFile(path_) == Body(0, 0, 300 * KiB));
    EXPECT_FALSE(RecordThere());
}

TEST_F(ResumingFetcherTest, WhatAnEarlierRunLeftIsTakenOnlyWhenItFits) {
    const int64_t size = 300 * KiB;
    const std::string fits = FormatResumeRecord({kUrl, "\"v0\"", size});
    const struct {
        const char* name;
        std::string record;
        int64_t partial;  // bytes of version 0 at the path; -1: no file
        std::vector<Step> steps;
        std::vector<Asked> asked;
        int version;
        bool resume = true;
    } cases[] = {
        {"a fitting record", fits, 100 * KiB, {Rest()}, {{100 * KiB, "\"v0\""}}, 0},
        {"the server's body changed", fits, 100 * KiB, {Whole(1, "\"v1\"")}, {{100 * KiB, "\"v0\""}}, 1},
        {"the server refuses the range: the whole body at once",
         fits, 100 * KiB, {Status(416), Step{}}, {{100 * KiB, "\"v0\""}, {0, ""}}, 0},
        {"a record of another address", FormatResumeRecord({"http://127.0.0.1:8080/other.lzma", "\"v0\"", size}),
         100 * KiB, {Step{}}, {{0, ""}}, 0},
        {"a record no longer than the file", FormatResumeRecord({kUrl, "\"v0\"", 100 * KiB}), 100 * KiB, {Step{}}, {{0, ""}}, 0},
        {"a record without its file", fits, -1, {Step{}}, {{0, ""}}, 0},
        {"an empty file", fits, 0, {Step{}}, {{0, ""}}, 0},
        {"a garbled record", "orvanta-partial 1\nurl " + std::string(kUrl) + "\nvalidator \"v0\"\r\nlength 307200\n", 100 * KiB,
         {Step{}}, {{0, ""}}, 0},
        {"a record far too large", fits + std::string(1 << 20, 'x'), 100 * KiB, {Step{}}, {{0, ""}}, 0},
        {"no resuming asked", fits, 100 * KiB, {Step{}}, {{0, ""}}, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log_ = {};
        if (c.partial >= 0) test::WriteFile(path_, Partial(0, c.partial));
        else RemoveFile(path_);
        LeaveRecord(c.record);
        RetryPolicy policy;
        policy.resume = c.resume;
        policy.keepPartialFrom = 200 * KiB;
        const FetchResult result = Run(size, c.steps, policy);
        EXPECT_TRUE(result.ok) << result.error;
        EXPECT_EQ(log_.asked, c.asked);
        EXPECT_TRUE(test::ReadFile(path_) == Body(c.version, 0, size));
        EXPECT_FALSE(RecordThere());
        EXPECT_TRUE(waits_.empty()) << "no wait before the whole body";
    }
}

TEST_F(ResumingFetcherTest, AStopEndsTheRealWaitAtOnce) {
    log_.size = 300 * KiB;
    log_.steps = {Cut(100 * KiB)};
    RetryPolicy policy;
    policy.waits = {std::chrono::minutes(10)};
    // The stop comes as the wait begins; unset, the fetcher's own wait is used.
    auto fetcher = NewResumingFetcher(std::make_unique<ScriptedClient>(log_), policy,
                                      [this](const RetryNotice&) { stop_ = true; });
    const auto started = std::chrono::steady_clock::now();
    const FetchResult result = fetcher->Get(kUrl, path_, stop_, {});
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.tries, 1);
    EXPECT_FALSE(test::Exists(path_));
}

TEST_F(ResumingFetcherTest, AProbeIsTriedAgainOnlyWhenItTimedOut) {
    FetchResult timedOut;
    timedOut.failed = FetchStep::Request;
    timedOut.timedOut = true;
    FetchResult refused;
    refused.failed = FetchStep::Request;
    FetchResult fine;
    fine.ok = true;
    fine.status = 200;
    const struct {
        std::vector<FetchResult> heads;
        int asked;
        bool ok;
    } cases[] = {
        {{timedOut, timedOut, fine}, 3, true},
        {{refused, fine}, 1, false},
        {{timedOut, timedOut, timedOut, timedOut, timedOut, fine}, 5, false},
    };
    for (const auto& c : cases) {
        log_ = {};
        log_.heads = c.heads;
        waits_.clear();
        auto fetcher = NewResumingFetcher(std::make_unique<ScriptedClient>(log_), RetryPolicy{}, {},
                                          [this](milliseconds wait, const std::atomic<bool>&) {
                                              waits_.push_back(wait);
                                              return true;
                                          });
        const FetchResult result = fetcher->Head(kUrl);
        EXPECT_EQ(log_.headsAsked, c.asked);
        EXPECT_EQ(result.ok, c.ok);
        EXPECT_EQ(result.tries, c.asked);
        EXPECT_EQ(waits_.size(), static_cast<size_t>(c.asked - 1));
    }
}

TEST(ResumingFetcherRules, OnlyABrokenBodyOrATimeOutIsWorthAnotherTry) {
    const struct {
        FetchStep failed;
        bool timedOut;
        bool retry;
    } cases[] = {
        {FetchStep::Read, false, true},    {FetchStep::Read, true, true},     {FetchStep::Short, false, true},
        {FetchStep::Request, true, true},  {FetchStep::Request, false, false}, {FetchStep::Status, false, false},
        {FetchStep::Status, true, false},  {FetchStep::File, false, false},   {FetchStep::None, false, false},
    };
    for (const auto& c : cases) {
        FetchResult result;
        result.failed = c.failed;
        result.timedOut = c.timedOut;
        EXPECT_EQ(IsRetryable(result), c.retry) << static_cast<int>(c.failed) << " " << c.timedOut;
        result.stopped = true;
        EXPECT_FALSE(IsRetryable(result));
    }
}

}  // namespace
}  // namespace orv
