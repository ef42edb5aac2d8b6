#include "launcher/net/download_win.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "game_profile.h"
#include "launcher/base/errors.h"
#include "launcher/base/events.h"
#include "launcher/base/message_box.h"
#include "launcher/base/texts.h"
#include "launcher/net/download_body_win.h"
#include "launcher/net/download_limit.h"
#include "launcher/net/limited_request_win.h"
#include "launcher/net/rate_limit.h"
#include "launcher/net/resuming_fetcher.h"
#include "launcher/platform/files.h"
#include "launcher/platform/scoped_win.h"
#include "launcher/platform/wide_win.h"

namespace orv {
namespace download_detail {

constexpr DWORD kProbeFlags = INTERNET_FLAG_RELOAD;
static_assert(kProbeFlags == 0x80000000);

constexpr const char* kProbeAgent = "InetURL:/1.0";
constexpr const char* kFileAgent = "Updater vtl";

std::string GameAgent() { return std::string("Updater vtl ") + GameCode + " " + LauncherVersion; }

// WinInet's own codes (12000 and up) have their texts in wininet.dll, not in the system table.
std::string InternetErrorMessage(DWORD code) {
    const bool own = code >= INTERNET_ERROR_BASE && code <= INTERNET_ERROR_LAST;
    return PlatformErrorMessage(code, own ? ::GetModuleHandleW(L"wininet.dll") : nullptr);
}

[[noreturn]] void RaiseInternetError(DWORD code) { throw EOSError(code, InternetErrorMessage(code)); }

InternetHandle OpenInternet(const std::string& agent) {
    return InternetHandle(::InternetOpenW(Wide(agent).c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
}

InternetHandle OpenUrl(HINTERNET internet, const std::string& url, DWORD flags) {
    return InternetHandle(::InternetOpenUrlW(internet, Wide(url).c_str(), nullptr, 0, flags, 0));
}

// A text header of the response into a buffer of `bytes` bytes; nothing when the header is missing
// or does not fit.
std::optional<std::wstring> QueryText(HINTERNET request, DWORD query, DWORD bytes) {
    std::wstring buffer(bytes / sizeof(wchar_t), L'\0');
    DWORD size = bytes;
    DWORD index = 0;
    if (!::HttpQueryInfoW(request, query, buffer.data(), &size, &index)) return std::nullopt;
    buffer.resize(std::min<size_t>(size / sizeof(wchar_t), buffer.size()));
    return buffer;
}

// A signed decimal number, nothing else.
std::optional<int64_t> ParseInt64(const std::wstring& text) {
    size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == L'-' || text[pos] == L'+')) negative = text[pos++] == L'-';
    if (pos == text.size()) return std::nullopt;
    uint64_t value = 0;
    const uint64_t limit = negative ? 0x8000000000000000ull : 0x7FFFFFFFFFFFFFFFull;
    for (; pos < text.size(); ++pos) {
        if (text[pos] < L'0' || text[pos] > L'9') return std::nullopt;
        const unsigned digit = static_cast<unsigned>(text[pos] - L'0');
        if (value > (limit - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
}

ResponseLength QueryResponseLength(HINTERNET request) {
    ResponseLength length;
    length.progressText = QueryText(request, HTTP_QUERY_CONTENT_LENGTH, 20);
    if (const std::optional<std::wstring> text = QueryText(request, HTTP_QUERY_CONTENT_LENGTH, 64)) {
        const std::optional<int64_t> value = ParseInt64(*text);
        if (value && *value >= 0) length.promised = value;
    }
    return length;
}

std::optional<int64_t> ProgressLength(const ResponseLength& length) {
    if (!length.progressText) return std::nullopt;
    const std::optional<int64_t> value = ParseInt64(*length.progressText);
    if (!value) throw Error("'" + Narrow(*length.progressText) + "' is not a valid integer value");
    return value;
}

// How a body ended.
enum class BodyEnd { Whole, Stopped, BrokenOff };

struct BodyResult {
    BodyEnd end = BodyEnd::Whole;
    DWORD code = 0;  // the platform's code of a body that broke off
};

// Reads of kBlockSize on the calling thread.
ChunkSource DirectReads(HINTERNET request) {
    auto buffer = std::make_shared<std::vector<char>>(kBlockSize);
    return [request, buffer] {
        Chunk chunk;
        DWORD got = 0;
        if (!::InternetReadFile(request, buffer->data(), kBlockSize, &got)) {
            chunk.failed = true;
            chunk.code = ::GetLastError();
            return chunk;
        }
        chunk.data = buffer->data();
        chunk.size = got;
        return chunk;
    };
}

// The one read loop of the downloads: the body from `source` into `file` in blocks of kBlockSize
// counted from its first byte, however much one read delivers (the last block may be shorter),
// each written block reported to `progress`. With a `stop` flag the window is watching: the flag is
// read after each block that arrived, before it is written, and the event queue is pumped once per
// block so that a Stop click can set it. A body shorter than the length the server promised has
// broken off.
BodyResult ReceiveBody(PendingFile& file, const int32_t* stop, const BlockProgress& progress, const ChunkSource& source,
                       std::optional<int64_t> promised) {
    int64_t received = 0;
    // The start of a block that a read delivered only in part.
    std::vector<char> partial;
    partial.reserve(kBlockSize);
    // The blocks of one delivery go to the file in one write, before the next wait for the network,
    // so that what came before a pause is on the disk during it. A stop drops them with the file.
    std::vector<char> unwritten;
    const auto take = [&](const char* data, DWORD size) -> bool {
        if (stop) {
            if (*stop == 1) return false;
            PumpEvents();
        }
        unwritten.insert(unwritten.end(), data, data + size);
        received += size;
        if (progress) progress(received);
        return true;
    };
    const auto write = [&] {
        if (unwritten.empty()) return;
        file.Write(unwritten.data(), unwritten.size());
        unwritten.clear();
    };
    for (;;) {
        write();
        const Chunk chunk = source();
        if (chunk.stopped) return {BodyEnd::Stopped};
        if (chunk.failed) return {BodyEnd::BrokenOff, chunk.code};
        if (chunk.size == 0) break;
        const char* data = chunk.data;
        DWORD left = chunk.size;
        while (left > 0) {
            if (partial.empty() && left >= kBlockSize) {
                if (!take(data, kBlockSize)) return {BodyEnd::Stopped};
                data += kBlockSize;
                left -= kBlockSize;
                continue;
            }
            const DWORD copied = std::min<DWORD>(left, kBlockSize - static_cast<DWORD>(partial.size()));
            partial.insert(partial.end(), data, data + copied);
            data += copied;
            left -= copied;
            if (partial.size() == kBlockSize) {
                if (!take(partial.data(), kBlockSize)) return {BodyEnd::Stopped};
                partial.clear();
            }
        }
    }
    if (!partial.empty() && !take(partial.data(), static_cast<DWORD>(partial.size()))) return {BodyEnd::Stopped};
    write();
    if (promised && received < *promised) return {BodyEnd::BrokenOff, ERROR_INTERNET_CONNECTION_RESET};
    return {};
}

// The body of a request that the calling thread owns, without a display.
BodyResult ReceiveBody(HINTERNET request, PendingFile& file) {
    return ReceiveBody(file, nullptr, nullptr, DirectReads(request), QueryResponseLength(request).promised);
}

bool ReceiveWatchedBody(PendingFile& file, int32_t& stop, ProgressBarView& bar, const BlockProgress& progress,
                        const ChunkSource& source, std::optional<int64_t> promised) {
    const BodyResult body = ReceiveBody(file, &stop, progress, source, promised);
    if (body.end == BodyEnd::BrokenOff) {
        ShowMessage(Tr(TextId::ErrorInternetReadFile));
        RaiseInternetError(body.code);
    }
    if (body.end == BodyEnd::Stopped) {
        bar.SetPosition(bar.Max());
        return false;
    }
    return true;
}

DownloadTimeLimits& CurrentLimits() {
    static DownloadTimeLimits limits;
    return limits;
}

RequestLimits Limits() {
    const DownloadTimeLimits& l = CurrentLimits();
    return {l.connectMs, l.receiveMs};
}

// The reads of `request`, each taking its share of the launcher's cap. The GUI thread's small
// downloads have no stop, so a wait for the cap ends only when the rate allows.
ChunkSource CappedReads(HINTERNET request) {
    ChunkSource reads = DirectReads(request);
    std::shared_ptr<RateLimiter> limiter = LauncherDownloadLimiter();
    if (!limiter) return reads;
    return [reads = std::move(reads), limiter = std::move(limiter)] {
        static const std::atomic<bool> never{false};
        const Chunk chunk = reads();
        if (chunk.size > 0) limiter->Take(chunk.size, never);
        return chunk;
    };
}

// Turns the reads of a request into those of a body that may be at most `maxBytes` long: a server
// that keeps sending is cut off at the bound, not read to its end.
ChunkSource BoundedReads(ChunkSource reads, uint64_t maxBytes) {
    return [reads = std::move(reads), maxBytes, total = uint64_t{0}]() mutable {
        Chunk chunk = reads();
        if (chunk.failed || chunk.stopped) return chunk;
        total += chunk.size;
        if (total > maxBytes) {
            chunk = Chunk{};
            chunk.failed = true;
            chunk.code = ERROR_INTERNET_CONNECTION_ABORTED;
        }
        return chunk;
    };
}

// How one try of a whole-file download ended.
enum class TryEnd { Saved, Failed, Again };

// The whole-file downloads of the GUI thread: a body that breaks off or a server silent past a
// limit is asked for again from its first byte, after the waits of the resuming fetcher's policy,
// so that one bad moment of the network does not cost the start-up its catalogue. A refused
// connection, an unknown host or a file that cannot be written is no better at the next try.
// `once` makes one try on the request it is given.
bool DownloadWholeFile(const std::string& url, const std::function<TryEnd(HINTERNET request)>& once) {
    const InternetHandle internet = OpenInternet(kFileAgent);
    if (!internet) return false;
    RetryPolicy policy;
    policy.waits = CurrentLimits().waits;
    for (int attempt = 1;; ++attempt) {
        TryEnd end = TryEnd::Failed;
        {
            const LimitedRequest r = OpenLimitedRequest(internet.Get(), url, kDownloadFlags, Limits());
            if (r.request) end = once(r.request.Get());
            else if (r.AnswerLost()) end = TryEnd::Again;
        }
        if (end != TryEnd::Again) return end == TryEnd::Saved;
        if (attempt >= policy.tries || policy.waits.empty()) return false;
        ::Sleep(static_cast<DWORD>(RetryWaitAfter(policy, attempt).count()));
    }
}

// One try's body into `path`: kept when whole, deleted otherwise.
TryEnd SaveBody(PendingFile& file, const ChunkSource& source, std::optional<int64_t> promised) {
    try {
        if (ReceiveBody(file, nullptr, nullptr, source, promised).end != BodyEnd::Whole) return TryEnd::Again;
        file.Keep();
        return TryEnd::Saved;
    } catch (...) {
        return TryEnd::Failed;
    }
}

}  // namespace download_detail

using namespace download_detail;

DownloadTimeLimits SetDownloadTimeLimits(DownloadTimeLimits limits) {
    return std::exchange(CurrentLimits(), limits);
}

DownloadTimeLimits CurrentDownloadTimeLimits() { return CurrentLimits(); }

bool ProbeUrl(const std::string& url) {
    const InternetHandle internet = OpenInternet(kProbeAgent);
    if (!internet) return false;
    const LimitedRequest r = OpenLimitedRequest(internet.Get(), url, kProbeFlags, Limits());
    if (!r.request) return false;
    const std::optional<std::wstring> status = QueryText(r.request.Get(), HTTP_QUERY_STATUS_CODE, 10);
    if (!status) return false;
    for (const wchar_t* answer : {L"200", L"302", L"301", L"307", L"308"})
        if (*status == answer) return true;
    return false;
}

bool DownloadFile(const std::string& url, const std::string& path) {
    return DownloadWholeFile(url, [&](HINTERNET request) {
        PendingFile file(path, FileSharing::None);  // a refusal goes to the caller
        return SaveBody(file, CappedReads(request), QueryResponseLength(request).promised);
    });
}

bool DownloadBoundedFile(const std::string& url, const std::string& path, uint64_t maxBytes) {
    return DownloadWholeFile(url, [&](HINTERNET request) {
        const std::optional<int64_t> promised = QueryResponseLength(request).promised;
        if (promised && static_cast<uint64_t>(*promised) > maxBytes) return TryEnd::Failed;
        PendingFile file(path, FileSharing::None);  // a refusal goes to the caller
        return SaveBody(file, BoundedReads(CappedReads(request), maxBytes), promised);
    });
}

bool DownloadDocument(const std::string& url, const std::string& path) {
    const InternetHandle internet = OpenInternet(kFileAgent);
    if (!internet) return false;
    const LimitedRequest r = OpenLimitedRequest(internet.Get(), url, kDownloadFlags, Limits());
    if (!r.request) return false;
    const std::optional<std::wstring> status = QueryText(r.request.Get(), HTTP_QUERY_STATUS_CODE, 10);
    if (!status || *status != L"200") return false;
    // The body goes beside the target first, so that a transfer that breaks off leaves the old copy.
    const std::string partial = path + ".orvanta-download";
    try {
        PendingFile file(partial, FileSharing::None);
        if (ReceiveBody(file, nullptr, nullptr, CappedReads(r.request.Get()),
                        QueryResponseLength(r.request.Get()).promised)
                .end != BodyEnd::Whole)
            return false;
        file.Keep();
    } catch (...) {
        return false;
    }
    try {
        // A scanner may still hold the body it has just seen written: the rename waits for it briefly.
        RenameFile(partial, path, ExistingTarget::Replace);
        return true;
    } catch (const Error&) {
        RemoveFile(partial);
        return false;
    }
}

}  // namespace orv
