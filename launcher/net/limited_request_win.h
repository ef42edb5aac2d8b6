// The requests of the GUI thread's downloads (the probe, the catalogue, the update description,
// the keep list, the statements) with a bound on each wait: connecting within the connect limit,
// and the answer and every later read within the receive limit, so that a silent server costs the
// start-up a known time instead of freezing the window. Not for use outside launcher/net.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <optional>
#include <string>

#include "launcher/platform/scoped_win.h"

namespace orv::download_detail {

// What a GET of an http or https URL goes to, as InternetConnectW and HttpOpenRequestW take it.
struct HttpTarget {
    std::wstring host;
    std::wstring user;
    std::wstring password;
    std::wstring object;  // the path and the query, "/" when the URL has neither
    INTERNET_PORT port = 0;
    bool secure = false;
};
// Nothing, with the last error set, for a URL that does not crack or is neither http nor https.
std::optional<HttpTarget> CrackHttpUrl(const std::string& url);

// The time limits of one request: getting a connection, and each wait for the answer or for more
// of the body.
struct RequestLimits {
    uint32_t connectMs = 0;
    uint32_t receiveMs = 0;
};

// The request sent; on failure `request` is empty and `error` holds the code of the call that
// failed. The connection handle goes with the request.
struct LimitedRequest {
    InternetHandle connection;
    InternetHandle request;
    DWORD error = 0;
    // The server was reached but its answer did not come, in time or whole: worth another try, where
    // a refused connection or an unknown host is not. Windows reports a receive limit that ran out
    // as ERROR_INTERNET_TIMEOUT; Wine may end the wait as a connection that was dropped.
    bool AnswerLost() const {
        return error == ERROR_INTERNET_TIMEOUT || error == ERROR_INTERNET_CONNECTION_ABORTED ||
               error == ERROR_INTERNET_CONNECTION_RESET || error == ERROR_HTTP_INVALID_SERVER_RESPONSE;
    }
};

// A GET of `url` on `internet` with `flags`. The limits go on the request itself before it is sent:
// InternetOpenUrlW would connect and wait for the answer before handing the request out, and Wine
// ignores the limits of the session handle that Windows would pass on to it.
LimitedRequest OpenLimitedRequest(HINTERNET internet, const std::string& url, DWORD flags, RequestLimits limits);

}  // namespace orv::download_detail
