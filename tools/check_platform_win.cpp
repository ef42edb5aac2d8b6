// The headless check's platform on Windows: the launcher's WinInet client for HTTP (one per
// thread, under the run's limits and cap; its session keeps the connection open between requests),
// MoveFileEx for the one-step replace, a console control handler for Ctrl-C.
#include <windows.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <utility>

#include "launcher/base/errors.h"
#include "launcher/net/wininet_fetcher_win.h"
#include "launcher/platform/files.h"
#include "launcher/platform/wide_win.h"
#include "tools/check.h"

namespace orv::check {
namespace {

std::atomic<bool>* g_interruptFlag = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD) {
    if (!g_interruptFlag) return FALSE;
    g_interruptFlag->store(true);
    return TRUE;  // handled: the run ends by itself
}

}  // namespace

CheckPlatform SystemCheckPlatform() {
    CheckPlatform platform;
    platform.newPartFetcher = [](const ConnectionLimits& limits) {
        // Only a 200 answer is a server's file: an error page is reported, never unpacked.
        WinInetFetcherOptions options;
        options.agent = std::string("orvanta-tool ") + LauncherVersion;
        options.anyStatus = false;
        options.connectMs = limits.connectMs;
        options.receiveMs = limits.receiveMs;
        options.limiter = limits.rate;
        return NewWinInetPartFetcher(std::move(options));
    };
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
