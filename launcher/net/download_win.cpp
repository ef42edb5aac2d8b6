#include "launcher/net/download_win.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

#include "game_profile.h"
#include "launcher/base/errors.h"
#include "launcher/base/events.h"
#include "launcher/base/message_box.h"
#include "launcher/base/texts.h"
#include "launcher/platform/scoped_win.h"
#include "launcher/platform/wide_win.h"

namespace orv {
namespace {

// The update server's files must come fresh: neither taken from nor written to the cache, and
// proxies asked not to answer from theirs either.
constexpr DWORD kDownloadFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
constexpr DWORD kProbeFlags = INTERNET_FLAG_RELOAD;
static_assert(kDownloadFlags == 0x84000100 && kProbeFlags == 0x80000000);

constexpr DWORD kBlockSize = 4096;
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

// The length that drives the progress display. The buffer holds nine digits, so a longer header
// counts as absent and the caller's size stays; a header that is not a number fails the download.
std::optional<int64_t> QueryProgressLength(HINTERNET request) {
    const std::optional<std::wstring> text = QueryText(request, HTTP_QUERY_CONTENT_LENGTH, 20);
    if (!text) return std::nullopt;
    const std::optional<int64_t> value = ParseInt64(*text);
    if (!value) throw Error("'" + Narrow(*text) + "' is not a valid integer value");
    return value;
}

// The length the server promised, for telling a complete body from one that broke off: WinInet
// ends the body quietly when the connection closes early, so the count is all there is to go by.
std::optional<int64_t> QueryPromisedLength(HINTERNET request) {
    const std::optional<std::wstring> text = QueryText(request, HTTP_QUERY_CONTENT_LENGTH, 64);
    if (!text) return std::nullopt;
    const std::optional<int64_t> value = ParseInt64(*text);
    if (!value || *value < 0) return std::nullopt;
    return value;
}

// The target file: created or truncated, opened without sharing so that nothing reads a half-written
// download. Unless Close() has succeeded, leaving the scope deletes it, so no failing path keeps a
// partial file.
class OutputFile {
public:
    explicit OutputFile(const std::string& path) : path_(Wide(path)) {
        handle_.Reset(::CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
        if (!handle_.Valid()) RaiseLastPlatformError();
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() {
        if (kept_) return;
        handle_.Reset();
        ::DeleteFileW(path_.c_str());
    }

    void Write(const void* data, DWORD size) {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            DWORD written = 0;
            if (!::WriteFile(handle_.Get(), p, size, &written, nullptr)) RaiseLastPlatformError();
            if (written == 0) throw EOSError(ERROR_WRITE_FAULT, PlatformErrorMessage(ERROR_WRITE_FAULT));
            p += written;
            size -= written;
        }
    }

    // Keeps the file. Raises EOSError when the last data cannot be written; the file then goes.
    void Close() {
        if (!::CloseHandle(handle_.Release())) RaiseLastPlatformError();
        kept_ = true;
    }

private:
    std::wstring path_;
    ScopedFileHandle handle_;
    bool kept_ = false;
};

// Reads the next block; false when the read call fails (the platform's code is then in `code`).
bool ReadBlock(HINTERNET request, char* buffer, DWORD& got, DWORD& code) {
    got = 0;
    if (::InternetReadFile(request, buffer, kBlockSize, &got)) return true;
    code = ::GetLastError();
    return false;
}

// A body that broke off, for the two downloads that show progress: the player is told, and the
// error ends the transfer (its handler deletes the file).
[[noreturn]] void FailRead(DWORD code) {
    ShowMessage(Tr(TextId::ErrorInternetReadFile));
    RaiseInternetError(code);
}

void ShowGameProgress(int64_t received, int64_t size, ProgressBarView& bar, ProgressImage& image, int32_t fullWidth) {
    const int64_t percent = received * 100 / size;
    if (percent < bar.Max()) {
        // A negative length from the server would give a negative share; the bar starts at 0.
        bar.SetPosition(static_cast<int>(std::max<int64_t>(percent, 0)));
        image.SetWidth(static_cast<int>(std::trunc(bar.Position() * static_cast<double>(fullWidth) / 100.0)));
    } else {
        bar.SetPosition(bar.Max());
        image.SetWidth(fullWidth);
    }
}

void ShowUpdateProgress(int64_t received, int64_t size, ProgressBarView& bar) {
    const int64_t percent = received * 100 / size;
    if (percent < bar.Max()) {
        const int position = static_cast<int>(std::max<int64_t>(percent, 0));
        if (bar.Position() != position) bar.SetPosition(position);
    } else if (bar.Position() != bar.Max()) {
        bar.SetPosition(bar.Max());
    }
}

// Opens the session and the request for the two downloads with progress; both failures are raised.
struct Transfer {
    InternetHandle internet;
    InternetHandle request;
};

Transfer OpenTransfer(const std::string& url) {
    Transfer t;
    t.internet = OpenInternet(GameAgent());
    if (!t.internet) RaiseInternetError(::GetLastError());
    t.request = OpenUrl(t.internet.Get(), url, kDownloadFlags);
    if (!t.request) {
        const DWORD code = ::GetLastError();
        t.internet.Reset();
        RaiseInternetError(code);
    }
    return t;
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

}  // namespace

bool ProbeUrl(const std::string& url) {
    const InternetHandle internet = OpenInternet(kProbeAgent);
    if (!internet) return false;
    const InternetHandle request = OpenUrl(internet.Get(), url, kProbeFlags);
    if (!request) return false;
    const std::optional<std::wstring> status = QueryText(request.Get(), HTTP_QUERY_STATUS_CODE, 10);
    if (!status) return false;
    for (const wchar_t* answer : {L"200", L"302", L"301", L"307", L"308"})
        if (*status == answer) return true;
    return false;
}

bool DownloadFile(const std::string& url, const std::string& path) {
    const InternetHandle internet = OpenInternet(kFileAgent);
    if (!internet) return false;
    const InternetHandle request = OpenUrl(internet.Get(), url, kDownloadFlags);
    if (!request) return false;
    OutputFile file(path);  // a refusal goes to the caller
    try {
        const std::optional<int64_t> promised = QueryPromisedLength(request.Get());
        char buffer[kBlockSize];
        int64_t received = 0;
        for (;;) {
            DWORD got = 0, code = 0;
            if (!ReadBlock(request.Get(), buffer, got, code)) return false;
            if (got == 0) break;
            file.Write(buffer, got);
            received += got;
        }
        if (promised && received < *promised) return false;
        file.Close();
        return true;
    } catch (...) {
        return false;
    }
}

bool DownloadGameFile(const std::string& url, const std::string& path, int32_t size, ProgressBarView& bar,
                      ProgressImage& image, int32_t fullWidth, int32_t& stop) {
    bar.SetMax(100);
    bar.SetPosition(0);
    const Transfer t = OpenTransfer(url);
    try {
        OutputFile file(path);
        int64_t expected = size;
        if (const std::optional<int64_t> length = QueryProgressLength(t.request.Get())) expected = *length;
        const std::optional<int64_t> promised = QueryPromisedLength(t.request.Get());
        char buffer[kBlockSize];
        int64_t received = 0;
        for (;;) {
            DWORD got = 0, code = 0;
            if (!ReadBlock(t.request.Get(), buffer, got, code)) FailRead(code);
            if (got == 0) break;
            if (stop == 1) {
                bar.SetPosition(bar.Max());
                return true;  // the file goes with `file`
            }
            PumpEvents();
            file.Write(buffer, got);
            received += got;
            // Without any size the bar stays where it is (at 0) and the image is left alone.
            if (expected != 0) ShowGameProgress(received, expected, bar, image, fullWidth);
        }
        if (promised && received < *promised) FailRead(ERROR_INTERNET_CONNECTION_RESET);
        file.Close();
        return true;
    } catch (...) {
        return false;
    }
}

bool DownloadUpdateFile(const std::string& url, const std::string& path, ProgressBarView& bar, int64_t size,
                        int32_t& stop) {
    bar.SetMax(100);
    bar.SetPosition(0);
    const Transfer t = OpenTransfer(url);
    MarqueeScope marquee(bar);
    try {
        OutputFile file(path);
        int64_t expected = size;
        if (const std::optional<int64_t> length = QueryProgressLength(t.request.Get())) expected = *length;
        const std::optional<int64_t> promised = QueryPromisedLength(t.request.Get());
        if (expected == 0) marquee.On();
        char buffer[kBlockSize];
        int64_t received = 0;
        for (;;) {
            DWORD got = 0, code = 0;
            if (!ReadBlock(t.request.Get(), buffer, got, code)) FailRead(code);
            if (got == 0) break;
            if (stop == 1) {
                bar.SetPosition(bar.Max());
                return true;
            }
            PumpEvents();
            file.Write(buffer, got);
            received += got;
            if (expected != 0) {
                ShowUpdateProgress(received, expected, bar);
                PumpEvents();
            }
        }
        if (promised && received < *promised) FailRead(ERROR_INTERNET_CONNECTION_RESET);
        if (expected == 0) {
            bar.SetMarquee(false);
            bar.SetPosition(bar.Max());
        }
        file.Close();
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace orv
