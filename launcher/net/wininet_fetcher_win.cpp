// Who owns what: every WinInet handle of a fetcher (the session, and the connection and request of
// each call) is opened, used and closed on the thread that fetches, as game_downloads_win.cpp
// explains for the game downloads: a blocked call is never ended by closing its handle from
// elsewhere. It never waits without end because each request carries its time-outs
// (OpenTimedRequest; Option Flags, INTERNET_OPTION_RECEIVE_TIMEOUT: one socket receive) and each
// read returns with what has come (NetworkRead): `stop` is seen before every read, and a call that
// was waiting when it was set comes back within one time-out.
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

// The status and length of the answer to `request`.
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
}

class WinInetFetcher final : public Fetcher {
public:
    explicit WinInetFetcher(WinInetFetcherOptions options) : options_(std::move(options)) {}

    FetchResult Get(const std::string& url, const std::string& path, const std::atomic<bool>& stop,
                    const FetchProgress& progress) override {
        FetchResult result;
        if (!Ready(result)) return result;
        // Created first, so that every way out that is not a whole body leaves nothing at `path`;
        // held without sharing, so that nothing reads it half written.
        std::optional<PendingFile> file;
        try {
            file.emplace(path, FileSharing::None);
        } catch (const EOSError& e) {
            FailFile(result, e);
            return result;
        }
        if (stop) {
            Stopped(result);
            return result;
        }
        const TimedRequest t = OpenTimedRequest(session_.Get(), url, options_.timeoutMs);
        if (!t.request) {
            // Waiting for a silent server ends in a time-out; after a stop that is the stop.
            if (stop) Stopped(result);
            else Fail(result, FetchStep::Request, t.error);
            return result;
        }
        ReadAnswer(t.request.Get(), result);
        if (!Accepted(result)) return result;

        NetworkRead read;
        int64_t written = 0;
        for (;;) {
            if (stop) {
                Stopped(result);
                return result;
            }
            read.Run(t.request.Get());
            if (read.failed) {
                if (stop) Stopped(result);
                else Fail(result, FetchStep::Read, read.code);
                return result;
            }
            if (read.got == 0) break;
            // WinInet on Windows ends a body at its announced length, where Wine 8 reads on to the
            // close. Windows decides: what comes after the length is not the file, and a server
            // that keeps sending cannot hold the call.
            if (result.length >= 0 && written == result.length) break;
            DWORD take = read.got;
            if (result.length >= 0) take = static_cast<DWORD>(std::min<int64_t>(take, result.length - written));
            try {
                file->Write(read.buffer.data(), take);
            } catch (const EOSError& e) {
                FailFile(result, e);
                return result;
            }
            written += take;
            if (progress) progress(written, result.lengthText);
        }
        // WinInet ends a body quietly when the connection closes early: the count is all there is
        // to tell it from a whole one.
        if (result.length >= 0 && written != result.length) {
            result.failed = FetchStep::Short;
            result.error = ShortBodyText(written, result.length);
            return result;
        }
        try {
            file->Keep();
        } catch (const EOSError& e) {
            FailFile(result, e);
            return result;
        }
        result.ok = true;
        return result;
    }

    FetchResult Head(const std::string& url) override {
        FetchResult result;
        if (!Ready(result)) return result;
        // A GET whose body is never read: closing the request drops it with its connection.
        const TimedRequest t = OpenTimedRequest(session_.Get(), url, options_.timeoutMs);
        if (!t.request) {
            Fail(result, FetchStep::Request, t.error);
            return result;
        }
        ReadAnswer(t.request.Get(), result);
        result.ok = Accepted(result);
        return result;
    }

private:
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
        session_.Reset(::InternetOpenW(Wide(options_.agent).c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
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

}  // namespace

std::unique_ptr<Fetcher> NewWinInetFetcher(WinInetFetcherOptions options) {
    return std::make_unique<WinInetFetcher>(std::move(options));
}

}  // namespace orv
