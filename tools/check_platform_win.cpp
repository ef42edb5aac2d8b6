// The headless check's platform on Windows: WinInet for HTTP (one internet handle per thread, whose
// connection WinInet keeps alive between requests), MoveFileEx for the one-step replace, a console
// control handler for Ctrl-C.
#include <windows.h>
#include <wininet.h>
#include <io.h>

#include <cstdio>
#include <optional>

#include "launcher/base/errors.h"
#include "launcher/platform/files.h"
#include "launcher/platform/scoped_win.h"
#include "launcher/platform/wide_win.h"
#include "tools/check.h"

namespace orv::check {
namespace {

constexpr DWORD kBlock = 1 << 16;
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                                INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_UI;

std::string LastErrorText() {
    const DWORD code = ::GetLastError();
    return "error " + std::to_string(code) + ": " + PlatformErrorMessage(code, ::GetModuleHandleW(L"wininet.dll"));
}

class WinInetFetcher final : public Fetcher {
public:
    WinInetFetcher() {
        const std::wstring agent = Wide(std::string("orvanta-tool ") + LauncherVersion);
        session_.Reset(::InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        if (!session_.Valid()) RaiseLastPlatformError();
    }

    FetchResult Get(const std::string& url, const std::string& path, const std::atomic<bool>& stop, const FetchProgress&) override {
        FetchResult result;
        InternetHandle request = Open(url, result);
        if (!request.Valid()) return result;
        if (result.status != 200) {
            result.error = "HTTP status " + std::to_string(result.status);
            return result;
        }
        std::optional<PendingFile> file;
        try {
            file.emplace(path);
            std::string buffer(kBlock, '\0');
            for (;;) {
                if (stop) {
                    result.error = "interrupted";
                    return result;  // the file goes with `file`
                }
                DWORD got = 0;
                if (!::InternetReadFile(request.Get(), buffer.data(), kBlock, &got)) {
                    result.error = LastErrorText();
                    return result;
                }
                if (got == 0) break;
                file->Write(buffer.data(), got);
            }
            file->Keep();
        } catch (const std::exception& e) {
            result.error = e.what();
            return result;
        }
        result.ok = true;
        return result;
    }

    FetchResult Head(const std::string& url) override {
        // The length is in the answer's headers: the body is never read.
        FetchResult result;
        Open(url, result);
        if (result.status != 200 && result.error.empty()) result.error = "HTTP status " + std::to_string(result.status);
        return result;
    }

private:
    InternetHandle Open(const std::string& url, FetchResult& result) {
        InternetHandle request(::InternetOpenUrlW(session_.Get(), Wide(url).c_str(), nullptr, 0, kRequestFlags, 0));
        if (!request.Valid()) {
            result.error = LastErrorText();
            return request;
        }
        DWORD status = 0, size = sizeof status, index = 0;
        if (::HttpQueryInfoW(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, &index))
            result.status = static_cast<int>(status);
        wchar_t length[32] = {};
        size = sizeof length;
        index = 0;
        if (::HttpQueryInfoW(request.Get(), HTTP_QUERY_CONTENT_LENGTH, length, &size, &index))
            result.length = _wcstoi64(length, nullptr, 10);
        return request;
    }

    InternetHandle session_;
};

std::atomic<bool>* g_interruptFlag = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD) {
    if (!g_interruptFlag) return FALSE;
    g_interruptFlag->store(true);
    return TRUE;  // handled: the run ends by itself
}

}  // namespace

CheckPlatform SystemCheckPlatform() {
    CheckPlatform platform;
    platform.newFetcher = [] { return std::unique_ptr<Fetcher>(new WinInetFetcher()); };
    platform.replaceFile = [](const std::string& from, const std::string& to) {
        // The launcher's replace: it waits briefly for a scanner that holds either file.
        try {
            RenameFile(from, to, ExistingTarget::Replace);
            return true;
        } catch (const Error&) {
            return false;
        }
    };
    platform.createFolder = [](const std::string& path) { ::CreateDirectoryW(Wide(path).c_str(), nullptr); };
    platform.makeNormal = [](const std::string& path) {
        // Only a file that is there: attributes of a missing one cannot be set anyway.
        const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
            ::SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_NORMAL);
    };
    platform.temporaryFolder = [] {
        wchar_t base[MAX_PATH + 1] = {};
        const DWORD length = ::GetTempPathW(MAX_PATH + 1, base);
        if (length == 0 || length > MAX_PATH) RaiseLastPlatformError();
        for (unsigned attempt = 0;; ++attempt) {
            const std::string folder = Narrow(base) + "orvanta-check-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                       std::to_string(attempt);
            if (::CreateDirectoryW(Wide(folder).c_str(), nullptr)) return folder;
            if (::GetLastError() != ERROR_ALREADY_EXISTS || attempt > 100) RaiseLastPlatformError();
        }
    };
    return platform;
}

void StopOnInterrupt(std::atomic<bool>& flag) {
    g_interruptFlag = &flag;
    ::SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

}  // namespace orv::check
