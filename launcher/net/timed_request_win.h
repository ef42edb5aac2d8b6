// One request with a bound on every wait, and one read of its body that takes what has come: the
// two network steps that a download thread makes on the handles it owns. Shared by the check run's
// game downloads (game_downloads_win.cpp) and the fetcher of the download threads
// (wininet_fetcher_win.cpp). Not for use outside launcher/net.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>
#include <vector>

#include "launcher/platform/scoped_win.h"

namespace orv::download_detail {

// The request of one download, with the time-outs that bound each of its network calls set before
// the first of them: InternetOpenUrlW would connect, send and wait for the answer before handing
// the request out, and time-outs set on the session reach the request on Windows only (Wine 8
// ignores them there). The connection handle goes with the request.
struct TimedRequest {
    InternetHandle connection;
    InternetHandle request;
    DWORD error = 0;  // the platform's code when `request` did not open
};

// A GET of `url` on `session` with the launcher's download flags, sent; on failure `request` is
// empty and `error` holds the code of the call that failed.
TimedRequest OpenTimedRequest(HINTERNET session, const std::string& url, DWORD timeoutMs);

// The largest read handed to WinInet at once.
constexpr DWORD kNetworkReadSize = 64 * 1024;

// One read: it waits until some of the body (or its end) is there, then takes what has come, up to
// kNetworkReadSize, without waiting for more, so that the bytes that came before a pause are handed
// on instead of waiting for the rest of a large read, and the caller looks at its stop flag at
// least once per receive time-out even while a server trickles.
struct NetworkRead {
    std::vector<char> buffer = std::vector<char>(kNetworkReadSize);
    DWORD got = 0;  // 0 at the end of the body
    bool failed = false;
    DWORD code = 0;  // of a failed read

    void Run(HINTERNET request);

private:
    void Fail();
};

}  // namespace orv::download_detail
