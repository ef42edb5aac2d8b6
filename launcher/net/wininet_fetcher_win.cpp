// Who owns what: every WinInet handle of a client (the session, and the connection and request of
// each call) is opened, used and closed on the thread that fetches, as game_downloads_win.cpp
// explains for the game downloads. Unlike those, the session is asynchronous (AsyncRequest,
// timed_request_win.h): the fetching thread waits for each network step itself, so that a stop, or
// a time limit running out, ends a blocked step at once, by that thread closing its own request.
#include "launcher/net/wininet_fetcher_win.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "launcher/base/errors.h"
#include "launcher/net/download_body_win.h"
#include "launcher/net/fetch_rules.h"
#include "launcher/net/resume_rules.h"
#include "launcher/net/timed_request_win.h"
#include "launcher/platform/files.h"
#include "launcher/platform/scoped_win.h"
#include "launcher/platform/wide_win.h"

namespace orv {
namespace {

using namespace download_detail;

void Fail(FetchResult& result, FetchStep step, DWORD code) {
    result.failed = step;
    result.platformCode = code;
    result.timedOut = code == ERROR_INTERNET_TIMEOUT;
    result.error = "error " + std::to_string(code) + ": " + InternetErrorMessage(code);
}

void FailFile(FetchResult& result, const EOSError& e) {
    result.failed = FetchStep::File;
    result.platformCode = e.Code();
    result.error = e.what();
}

void Stopped(FetchResult& result) {
    result.stopped = true;
    result.error = kFetchStoppedText;
}

// A network step that did not get done. After a stop, whatever ended the step is the stop.
void EndStep(FetchResult& result, StepEnd end, const AsyncRequest& http, FetchStep step, const std::atomic<bool>& stop) {
    if (end == StepEnd::Stopped || stop) {
        Stopped(result);
        return;
    }
    Fail(result, step, http.Error());
    if (end == StepEnd::TimedOut) result.timedOut = true;
}

// A header of the answer, whatever its length: WinInet says how large a buffer it needs.
std::optional<std::wstring> HeaderText(HINTERNET request, DWORD query) {
    std::wstring buffer(64, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        DWORD index = 0;
        if (::HttpQueryInfoW(request, query, buffer.data(), &bytes, &index)) {
            buffer.resize(std::min<size_t>(bytes / sizeof(wchar_t), buffer.size()));
            return buffer;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
        buffer.assign(bytes / sizeof(wchar_t) + 1, L'\0');
    }
    return std::nullopt;
}

std::string Header(HINTERNET request, DWORD query) {
    const std::optional<std::wstring> text = HeaderText(request, query);
    return text ? Narrow(*text) : std::string();
}

// The status, length, validators and range of the answer to `request`.
void ReadAnswer(HINTERNET request, FetchResult& result) {
    DWORD status = 0;
    DWORD bytes = sizeof status;
    DWORD index = 0;
    if (::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &bytes, &index))
        result.status = static_cast<int>(status);
    if (const std::optional<std::wstring> text = HeaderText(request, HTTP_QUERY_CONTENT_LENGTH)) {
        result.lengthText = Narrow(*text);
        result.length = ContentLengthValue(result.lengthText);
    }
    result.etag = Header(request, HTTP_QUERY_ETAG);
    result.lastModified = Header(request, HTTP_QUERY_LAST_MODIFIED);
    result.contentRange = Header(request, HTTP_QUERY_CONTENT_RANGE);
}

// The request headers that ask for the rest of a body.
std::wstring RangeHeaders(const FetchRequest& request) {
    if (request.offset <= 0) return {};
    std::string lines = "Range: " + RangeHeaderValue(request.offset) + "\r\n";
    if (!request.ifRange.empty()) lines += "If-Range: " + request.ifRange + "\r\n";
    return Wide(lines);
}

std::string RefusedRangeText(const FetchResult& answer, int64_t offset) {
    std::string text = StatusFailureText(answer.status) + " to a request for the bytes from " + std::to_string(offset);
    if (!answer.contentRange.empty()) text += " (Content-Range: " + answer.contentRange + ")";
    return text;
}

// The file a fetch writes, and how many bytes it holds from its first.
struct Target {
    std::optional<File> file;
    bool opened = false;
    int64_t written = 0;
};

class WinInetPartFetcher final : public PartFetcher {
public:
    explicit WinInetPartFetcher(WinInetFetcherOptions options) : options_(std::move(options)) {}

    FetchResult Fetch(const FetchRequest& request, const std::atomic<bool>& stop,
                      const FetchProgress& progress) override {
        FetchResult result;
        Target target;
        Run(request, stop, progress, result, target);
        if (target.file) target.file->Abandon();
        if (target.opened) {
            result.written = target.written;
        } else {
            // Never opened (no answer, or one refused): the file is as the caller left it.
            const FileProbe probe = ProbeFile(request.path);
            result.written = probe.exists ? probe.size : 0;
        }
        return result;
    }

    FetchResult Head(const std::string& url) override {
        FetchResult result;
        if (!Ready(result)) return result;
        // A GET whose body is never read: closing the request drops it with its connection.
        const std::atomic<bool> never{false};
        AsyncRequest http(session_.Get(), Limits());
        result.tries = 1;
        const StepEnd sent = http.Send(url, {}, never);
        if (sent != StepEnd::Done) {
            EndStep(result, sent, http, FetchStep::Request, never);
            return result;
        }
        ReadAnswer(http.Handle(), result);
        result.ok = Accepted(result);
        return result;
    }

private:
    void Run(const FetchRequest& request, const std::atomic<bool>& stop, const FetchProgress& progress,
             FetchResult& result, Target& target) {
        if (!Ready(result)) return;
        // The whole body's file is made before the request, so that one that cannot be written
        // costs no request; a range's file is touched only once its answer says how.
        if (request.offset <= 0 && !Open(request.path, 0, result, target)) return;
        if (stop) {
            Stopped(result);
            return;
        }
        AsyncRequest http(session_.Get(), Limits());
        result.tries = 1;
        const StepEnd sent = http.Send(request.url, RangeHeaders(request), stop);
        if (sent != StepEnd::Done) {
            EndStep(result, sent, http, FetchStep::Request, stop);
            return;
        }
        ReadAnswer(http.Handle(), result);
        if (request.onAnswer) request.onAnswer(result);
        // The length the body of this answer has: a 206's is its range's, whatever else it says.
        int64_t promised = result.length;
        if (request.offset <= 0) {
            if (!Accepted(result)) return;
        } else {
            switch (RangeAnswerOf(request.offset, result.status, result.contentRange)) {
            case RangeAnswer::Append: {
                const std::optional<ContentRange> range = ParseContentRange(result.contentRange);
                promised = range ? range->last - range->first + 1 : -1;
                if (!Open(request.path, request.offset, result, target)) return;
                break;
            }
            case RangeAnswer::Restart:
                if (!Open(request.path, 0, result, target)) return;
                break;
            case RangeAnswer::Refuse:
                result.failed = FetchStep::Status;
                result.error = RefusedRangeText(result, request.offset);
                return;
            }
        }
        const int64_t start = target.written;
        const DWORD readSize = static_cast<DWORD>(
            CappedReadSize(options_.limiter ? options_.limiter->BytesPerSecond() : 0, kNetworkReadSize));
        for (;;) {
            if (stop) {
                Stopped(result);
                return;
            }
            const StepEnd read = http.Read(stop, readSize);
            if (read != StepEnd::Done) {
                EndStep(result, read, http, FetchStep::Read, stop);
                return;
            }
            const DWORD got = http.Got();
            if (got == 0) break;
            result.received += got;
            const int64_t body = target.written - start;
            // WinInet on Windows ends a body at its announced length, where Wine 8 reads on to the
            // close. Windows decides: what comes after the length is not the file, and a server
            // that keeps sending cannot hold the call.
            if (promised >= 0 && body == promised) break;
            DWORD take = got;
            if (promised >= 0) take = static_cast<DWORD>(std::min<int64_t>(take, promised - body));
            try {
                target.file->Write(http.Data(), take);
            } catch (const EOSError& e) {
                FailWrite(request.path, e, result, target);
                return;
            }
            target.written += take;
            if (progress) progress(target.written, result.lengthText);
            // A stop while the cap holds the transfer back is a stop like any other.
            if (options_.limiter && !options_.limiter->Take(got, stop)) {
                Stopped(result);
                return;
            }
        }
        // WinInet ends a body quietly when the connection closes early: the count is all there is
        // to tell it from a whole one.
        if (promised >= 0 && target.written - start != promised) {
            result.failed = FetchStep::Short;
            result.error = ShortBodyText(target.written, start + promised);
            return;
        }
        try {
            target.file->Close();
        } catch (const EOSError& e) {
            FailWrite(request.path, e, result, target);
            return;
        }
        target.file.reset();
        result.ok = true;
    }

    // The target opened to write on after its first `keep` bytes (0: created, or truncated). Held
    // without sharing, so that nothing reads it half written.
    static bool Open(const std::string& path, int64_t keep, FetchResult& result, Target& target) {
        try {
            target.file.emplace(keep > 0 ? File::OpenForAppend(path, static_cast<uint64_t>(keep), FileSharing::None)
                                         : File::Create(path, FileSharing::None));
        } catch (const EOSError& e) {
            FailFile(result, e);
            return false;
        }
        target.opened = true;
        target.written = keep;
        return true;
    }

    // A file that could not be written goes: what it holds can no longer be told from the body.
    static void FailWrite(const std::string& path, const EOSError& e, FetchResult& result, Target& target) {
        FailFile(result, e);
        target.file->Abandon();
        target.file.reset();
        RemoveFile(path);
        target.written = 0;
    }

    RequestLimits Limits() const { return {options_.connectMs, options_.receiveMs}; }

    // The session, opened on the first call's thread; false (a failed request) when it cannot be
    // opened, or when the call comes from another thread than the one that owns it.
    bool Ready(FetchResult& result) {
        const DWORD caller = ::GetCurrentThreadId();
        if (session_ && caller != owner_) {
            result.failed = FetchStep::Request;
            result.error = "the fetcher belongs to the thread that made its first request";
            return false;
        }
        if (session_) return true;
        session_ = OpenAsyncSession(options_.agent);
        if (!session_) {
            Fail(result, FetchStep::Request, ::GetLastError());
            return false;
        }
        owner_ = caller;
        return true;
    }

    bool Accepted(FetchResult& result) const {
        if (options_.anyStatus || result.status == 200) return true;
        result.failed = FetchStep::Status;
        result.error = StatusFailureText(result.status);
        return false;
    }

    WinInetFetcherOptions options_;
    DWORD owner_ = 0;
    InternetHandle session_;
};

// One request from the first byte; the file goes unless it holds the whole body.
class WholeBodyFetcher final : public Fetcher {
public:
    explicit WholeBodyFetcher(std::unique_ptr<PartFetcher> client) : client_(std::move(client)) {}

    FetchResult Get(const std::string& url, const std::string& path, const std::atomic<bool>& stop,
                    const FetchProgress& progress) override {
        FetchRequest request;
        request.url = url;
        request.path = path;
        FetchResult result = client_->Fetch(request, stop, progress);
        // A file that could not be made or written is the client's to leave: whatever stood at the
        // path when it could not be opened stays.
        if (!result.ok && result.failed != FetchStep::File) {
            RemoveFile(path);
            result.written = 0;
        }
        return result;
    }

    FetchResult Head(const std::string& url) override { return client_->Head(url); }

private:
    std::unique_ptr<PartFetcher> client_;
};

}  // namespace

std::unique_ptr<PartFetcher> NewWinInetPartFetcher(WinInetFetcherOptions options) {
    return std::make_unique<WinInetPartFetcher>(std::move(options));
}

std::unique_ptr<Fetcher> NewWinInetFetcher(WinInetFetcherOptions options) {
    return std::make_unique<WholeBodyFetcher>(NewWinInetPartFetcher(std::move(options)));
}

}  // namespace orv
