#include "launcher/net/timed_request_win.h"

#include <algorithm>
#include <string>
#include <utility>

#include "launcher/net/download_body_win.h"
#include "launcher/platform/wide_win.h"

namespace orv::download_detail {

TimedRequest OpenTimedRequest(HINTERNET session, const std::string& url, DWORD timeoutMs) {
    TimedRequest t;
    const auto fail = [&t] {
        t.error = ::GetLastError();
        t.request.Reset();
        t.connection.Reset();
        return std::move(t);
    };
    const std::wstring wide = Wide(url);
    // The parts of the URL point into `wide`; a length of 1 asks for pointers instead of copies.
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = 1;
    parts.dwUserNameLength = 1;
    parts.dwPasswordLength = 1;
    parts.dwUrlPathLength = 1;
    parts.dwExtraInfoLength = 1;
    if (!::InternetCrackUrlW(wide.c_str(), 0, 0, &parts)) return fail();
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
        ::SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
        return fail();
    }
    const auto part = [](const wchar_t* text, DWORD length) { return text ? std::wstring(text, length) : std::wstring(); };
    const std::wstring host = part(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring user = part(parts.lpszUserName, parts.dwUserNameLength);
    const std::wstring password = part(parts.lpszPassword, parts.dwPasswordLength);
    std::wstring object = part(parts.lpszUrlPath, parts.dwUrlPathLength) +
                          part(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (object.empty()) object = L"/";
    t.connection.Reset(::InternetConnectW(session, host.c_str(), parts.nPort, user.empty() ? nullptr : user.c_str(),
                                          password.empty() ? nullptr : password.c_str(), INTERNET_SERVICE_HTTP, 0, 0));
    if (!t.connection) return fail();
    const DWORD flags = kDownloadFlags | (parts.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0);
    t.request.Reset(::HttpOpenRequestW(t.connection.Get(), L"GET", object.c_str(), nullptr, nullptr, nullptr, flags, 0));
    if (!t.request) return fail();
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
        // Without its time-outs a stop could wait on the server without end: none is better.
        if (!::InternetSetOptionW(t.request.Get(), option, &timeoutMs, sizeof timeoutMs)) return fail();
    }
    if (!::HttpSendRequestW(t.request.Get(), nullptr, 0, nullptr, 0)) return fail();
    return t;
}

void NetworkRead::Run(HINTERNET request) {
    got = 0;
    failed = false;
    DWORD available = 0;
    if (!::InternetQueryDataAvailable(request, &available, 0, 0)) return Fail();
    if (available == 0) return;  // the end of the body
    INTERNET_BUFFERSW taken{};
    taken.dwStructSize = sizeof(taken);
    taken.lpvBuffer = buffer.data();
    taken.dwBufferLength = kNetworkReadSize;
    if (!::InternetReadFileExW(request, &taken, IRF_NO_WAIT, 0)) return Fail();
    got = taken.dwBufferLength;
    // Nothing taken although something was there: what was announced is read the plain way,
    // which never waits for more than that.
    if (got == 0 && !::InternetReadFile(request, buffer.data(), std::min(available, kNetworkReadSize), &got)) Fail();
}

void NetworkRead::Fail() {
    failed = true;
    code = ::GetLastError();
}

}  // namespace orv::download_detail
