// One request with a bound on every wait, and one read of its body that takes what has come: the
// two network steps that a download thread makes on the handles it owns. The synchronous pair
// serves the check run's game downloads (game_downloads_win.cpp), the asynchronous request the
// fetcher of the download threads (wininet_fetcher_win.cpp). Not for use outside launcher/net.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "launcher/net/limited_request_win.h"
#include "launcher/platform/scoped_win.h"

namespace orv::download_detail {

// The request of one download, with one time-out for each of its network calls (connecting,
// sending, each read), set on the request before the first of them (limited_request_win.h).
using TimedRequest = LimitedRequest;

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

// ---- Asynchronous requests: a stop or a time limit ends a blocked call at once.
//
// A synchronous call can only be ended by closing its handle from another thread, which the
// InternetCloseHandle documentation allows only while no call is being made with the handle. In
// asynchronous mode a call that would wait returns ERROR_IO_PENDING instead, and then "it is safe
// to call InternetCloseHandle to cancel that I/O": so the owner thread waits for the completion
// itself, in short slices in which it reads its stop flag and its time limits, and closes its own
// request when either says so. What WinInet may still write or report after that close (the
// pending call's results, INTERNET_STATUS_REQUEST_COMPLETE) goes to a state that the callback's
// context keeps alive until INTERNET_STATUS_HANDLE_CLOSING, the last callback of a handle; the
// owner never waits for it. Windows cancels the pending call at the close; Wine 8 lets it run on
// until WinInet's own time-out, which is set a little after the request's limits for that reason.

// A session in asynchronous mode with the status callback that AsyncRequest relies on; empty with
// the last error set when it cannot be opened.
InternetHandle OpenAsyncSession(const std::string& agent);

// What the status callback may still touch after the request has gone (timed_request_win.cpp).
struct AsyncState;

// How many requests' states are alive in the process: each goes with its request's last callback,
// for the tests that show none is left behind.
int LiveAsyncStates();

// How a step of an asynchronous request ended.
enum class StepEnd { Done, Failed, TimedOut, Stopped };

// One GET on an asynchronous session, owned by the thread that makes it. Destroying it closes the
// request (and with it a pending call) without waiting.
class AsyncRequest {
public:
    AsyncRequest(HINTERNET session, RequestLimits limits);
    ~AsyncRequest();
    AsyncRequest(const AsyncRequest&) = delete;
    AsyncRequest& operator=(const AsyncRequest&) = delete;

    // Opens the request for `url` with the launcher's download flags, adds `headers` (lines each
    // ending in CRLF, may be empty) and sends it, waiting for the answer's headers. Failed with
    // Error() set when the URL cannot be opened or the server cannot be reached.
    StepEnd Send(const std::string& url, const std::wstring& headers, const std::atomic<bool>& stop);
    // Waits until some of the body or its end is there, then takes what has come, up to `most`
    // (at most kNetworkReadSize): Data() and Got() (0 at the end of the body).
    StepEnd Read(const std::atomic<bool>& stop, DWORD most = kNetworkReadSize);

    HINTERNET Handle() const { return request_.Get(); }
    const char* Data() const;
    DWORD Got() const { return got_; }
    DWORD Error() const { return error_; }  // of a failed step; ERROR_INTERNET_TIMEOUT for a time-out

private:
    // Waits for the completion of the pending call. `connecting`: the connect limit holds until
    // the server has been reached, the receive limit after that.
    StepEnd Wait(const std::atomic<bool>& stop, bool connecting);
    StepEnd Failed(DWORD code);
    void Close();

    RequestLimits limits_;
    HINTERNET session_;
    InternetHandle connection_;
    InternetHandle request_;
    std::shared_ptr<AsyncState> state_;
    DWORD got_ = 0;
    DWORD error_ = 0;
};

}  // namespace orv::download_detail
