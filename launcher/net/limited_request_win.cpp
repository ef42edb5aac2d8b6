#include "launcher/net/limited_request_win.h"

#include <optional>
#include <string>
#include <utility>

#include "launcher/platform/wide_win.h"

namespace orv::download_detail {

std::optional<HttpTarget> CrackHttpUrl(const std::string& url) {
    const std::wstring wide = Wide(url);
    // A length of 1 asks for pointers into `wide` instead of copies.
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = 1;
    parts.dwUserNameLength = 1;
    parts.dwPasswordLength = 1;
    parts.dwUrlPathLength = 1;
    parts.dwExtraInfoLength = 1;
    if (!::InternetCrackUrlW(wide.c_str(), 0, 0, &parts)) return std::nullopt;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
        ::SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
        return std::nullopt;
    }
    const auto part = [](const wchar_t* text, DWORD length) { return text ? std::wstring(text, length) : std::wstring(); };
    HttpTarget target;
    target.host = part(parts.lpszHostName, parts.dwHostNameLength);
    target.user = part(parts.lpszUserName, parts.dwUserNameLength);
    target.password = part(parts.lpszPassword, parts.dwPasswordLength);
    target.object = part(parts.lpszUrlPath, parts.dwUrlPathLength) + part(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (target.object.empty()) target.object = L"/";
    target.port = parts.nPort;
    target.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    return target;
}

LimitedRequest OpenLimitedRequest(HINTERNET internet, const std::string& url, DWORD flags, RequestLimits limits) {
    LimitedRequest r;
    const auto fail = [&r] {
        r.error = ::GetLastError();
        r.request.Reset();
        r.connection.Reset();
        return std::move(r);
    };
    const std::optional<HttpTarget> target = CrackHttpUrl(url);
    if (!target) return fail();
    r.connection.Reset(::InternetConnectW(internet, target->host.c_str(), target->port,
                                          target->user.empty() ? nullptr : target->user.c_str(),
                                          target->password.empty() ? nullptr : target->password.c_str(),
                                          INTERNET_SERVICE_HTTP, 0, 0));
    if (!r.connection) return fail();
    const DWORD secure = target->secure ? INTERNET_FLAG_SECURE : 0;
    r.request.Reset(
        ::HttpOpenRequestW(r.connection.Get(), L"GET", target->object.c_str(), nullptr, nullptr, nullptr, flags | secure, 0));
    if (!r.request) return fail();
    const struct {
        DWORD option;
        DWORD ms;
    } options[] = {
        {INTERNET_OPTION_CONNECT_TIMEOUT, limits.connectMs},
        // Sending a GET is one small write: what bounds it is the peer taking it, as for the answer.
        {INTERNET_OPTION_SEND_TIMEOUT, limits.receiveMs},
        {INTERNET_OPTION_RECEIVE_TIMEOUT, limits.receiveMs},
    };
    for (const auto& o : options) {
        DWORD ms = o.ms;
        // A request that could wait without end is worse than none.
        if (!::InternetSetOptionW(r.request.Get(), o.option, &ms, sizeof ms)) return fail();
    }
    if (!::HttpSendRequestW(r.request.Get(), nullptr, 0, nullptr, 0)) return fail();
    return r;
}

}  // namespace orv::download_detail
