#include "launcher/net/timed_request_win.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "launcher/net/download_body_win.h"
#include "launcher/platform/wide_win.h"

namespace orv::download_detail {

TimedRequest OpenTimedRequest(HINTERNET session, const std::string& url, DWORD timeoutMs) {
    // Without its time-outs a stop could wait on the server without end: none is better.
    return OpenLimitedRequest(session, url, kDownloadFlags, RequestLimits{timeoutMs, timeoutMs});
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

// ---- Asynchronous requests

namespace orv::download_detail {

namespace {
std::atomic<int> g_liveStates{0};
}  // namespace

struct AsyncState {
    AsyncState() { ++g_liveStates; }
    ~AsyncState() { --g_liveStates; }
    AsyncState(const AsyncState&) = delete;
    AsyncState& operator=(const AsyncState&) = delete;

    // Signalled by the callback when the pending call has completed, after its INTERNET_ASYNC_RESULT
    // is taken: dwResult is the verdict, and dwError the code of a failure only (a query of the
    // data available that succeeds puts the count there).
    ScopedHandle completed{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    bool succeeded = false;
    DWORD error = 0;
    // Whether the server has been reached, and when it was last heard from (GetTickCount64).
    std::atomic<bool> reached{false};
    std::atomic<uint64_t> heardMs{0};
    // Where a pending call writes: it may still do so after its request was closed.
    std::vector<char> buffer = std::vector<char>(kNetworkReadSize);
    DWORD available = 0;
    DWORD got = 0;
};

namespace {

// The request's context: the callback's share of the state, dropped with the last callback.
using StateHolder = std::shared_ptr<AsyncState>;

// The slice in which a waiting owner looks at its stop flag and its time limits.
constexpr DWORD kWaitSliceMs = 10;
// WinInet's own time-outs come this long after the request's limits: they only end the calls left
// behind by a request its owner closed, so that the owner's count decides, with its own error.
constexpr DWORD kBackstopMs = 2000;

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD infoLength) {
    // The session and the connection are opened without a context: nothing of theirs is wanted.
    if (context == 0) return;
    auto* holder = reinterpret_cast<StateHolder*>(context);
    AsyncState& state = **holder;
    switch (status) {
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
    case INTERNET_STATUS_REQUEST_SENT:
    case INTERNET_STATUS_RESPONSE_RECEIVED:
        state.heardMs = ::GetTickCount64();
        state.reached = true;
        break;
    case INTERNET_STATUS_REQUEST_COMPLETE:
        if (info && infoLength >= sizeof(INTERNET_ASYNC_RESULT)) {
            const auto* async = static_cast<const INTERNET_ASYNC_RESULT*>(info);
            state.succeeded = async->dwResult != 0;
            state.error = async->dwError != ERROR_SUCCESS ? async->dwError : ERROR_INTERNET_INTERNAL_ERROR;
        } else {
            state.succeeded = false;
            state.error = ERROR_INTERNET_INTERNAL_ERROR;
        }
        ::SetEvent(state.completed.Get());
        break;
    case INTERNET_STATUS_HANDLE_CLOSING:
        delete holder;
        break;
    default:
        break;
    }
}

}  // namespace

int LiveAsyncStates() { return g_liveStates.load(); }

InternetHandle OpenAsyncSession(const std::string& agent) {
    InternetHandle session(
        ::InternetOpenW(Wide(agent).c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC));
    if (!session) return session;
    // Handles made on the session inherit its callback.
    if (::InternetSetStatusCallbackW(session.Get(), &OnStatus) == INTERNET_INVALID_STATUS_CALLBACK) {
        const DWORD code = ::GetLastError();
        session.Reset();
        ::SetLastError(code);
    }
    return session;
}

AsyncRequest::AsyncRequest(HINTERNET session, RequestLimits limits)
    : limits_(limits), session_(session), state_(std::make_shared<AsyncState>()) {}

AsyncRequest::~AsyncRequest() { Close(); }

const char* AsyncRequest::Data() const { return state_->buffer.data(); }

void AsyncRequest::Close() {
    // The request first: closing it cancels its pending call ("Once an API has returned
    // ERROR_IO_PENDING, it is safe to call InternetCloseHandle to cancel that I/O").
    request_.Reset();
    connection_.Reset();
}

StepEnd AsyncRequest::Failed(DWORD code) {
    error_ = code;
    Close();
    return StepEnd::Failed;
}

StepEnd AsyncRequest::Send(const std::string& url, const std::wstring& headers, const std::atomic<bool>& stop) {
    if (!state_->completed) return Failed(::GetLastError());
    const std::optional<HttpTarget> target = CrackHttpUrl(url);
    if (!target) return Failed(::GetLastError());
    // Connecting an HTTP handle makes no network call, so it never pends.
    connection_.Reset(::InternetConnectW(session_, target->host.c_str(), target->port,
                                         target->user.empty() ? nullptr : target->user.c_str(),
                                         target->password.empty() ? nullptr : target->password.c_str(),
                                         INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection_) return Failed(::GetLastError());
    const DWORD flags = kDownloadFlags | (target->secure ? INTERNET_FLAG_SECURE : 0);
    auto holder = std::make_unique<StateHolder>(state_);
    request_.Reset(::HttpOpenRequestW(connection_.Get(), L"GET", target->object.c_str(), nullptr, nullptr, nullptr, flags,
                                      reinterpret_cast<DWORD_PTR>(holder.get())));
    if (!request_) return Failed(::GetLastError());
    holder.release();  // the callback's now, until the request's last callback
    // On the request itself: Wine 8 does not hand the session's time-outs down to it.
    const std::pair<DWORD, DWORD> options[] = {{INTERNET_OPTION_CONNECT_TIMEOUT, limits_.connectMs + kBackstopMs},
                                               {INTERNET_OPTION_SEND_TIMEOUT, limits_.receiveMs + kBackstopMs},
                                               {INTERNET_OPTION_RECEIVE_TIMEOUT, limits_.receiveMs + kBackstopMs}};
    for (auto [option, value] : options) {
        if (!::InternetSetOptionW(request_.Get(), option, &value, sizeof value)) return Failed(::GetLastError());
    }
    if (!headers.empty() &&
        !::HttpAddRequestHeadersW(request_.Get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                                  HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE))
        return Failed(::GetLastError());
    if (stop) {
        Close();
        return StepEnd::Stopped;
    }
    state_->reached = false;
    ::ResetEvent(state_->completed.Get());
    if (::HttpSendRequestW(request_.Get(), nullptr, 0, nullptr, 0)) return StepEnd::Done;
    if (::GetLastError() != ERROR_IO_PENDING) return Failed(::GetLastError());
    const StepEnd end = Wait(stop, true);
    if (end != StepEnd::Done) return end;
    if (!state_->succeeded) return Failed(state_->error);
    return StepEnd::Done;
}

StepEnd AsyncRequest::Read(const std::atomic<bool>& stop, DWORD most) {
    got_ = 0;
    if (!request_) return Failed(ERROR_INVALID_HANDLE);
    // Asked again after a pending query has completed: then the answer comes without a wait.
    for (;;) {
        ::ResetEvent(state_->completed.Get());
        state_->available = 0;
        if (::InternetQueryDataAvailable(request_.Get(), &state_->available, 0, 0)) break;
        if (::GetLastError() != ERROR_IO_PENDING) return Failed(::GetLastError());
        const StepEnd end = Wait(stop, false);
        if (end != StepEnd::Done) return end;
        if (!state_->succeeded) return Failed(state_->error);
    }
    if (state_->available == 0) return StepEnd::Done;  // the end of the body
    ::ResetEvent(state_->completed.Get());
    state_->got = 0;
    // What is there is taken without waiting for more; a call that pends all the same is waited for
    // like any other.
    const DWORD want = std::min({state_->available, most, kNetworkReadSize});
    if (!::InternetReadFile(request_.Get(), state_->buffer.data(), want, &state_->got)) {
        if (::GetLastError() != ERROR_IO_PENDING) return Failed(::GetLastError());
        const StepEnd end = Wait(stop, false);
        if (end != StepEnd::Done) return end;
        if (!state_->succeeded) return Failed(state_->error);
    }
    got_ = std::min(state_->got, want);
    return StepEnd::Done;
}

StepEnd AsyncRequest::Wait(const std::atomic<bool>& stop, bool connecting) {
    const uint64_t start = ::GetTickCount64();
    for (;;) {
        const DWORD waited = ::WaitForSingleObject(state_->completed.Get(), kWaitSliceMs);
        if (waited == WAIT_OBJECT_0) return StepEnd::Done;
        if (waited != WAIT_TIMEOUT) return Failed(::GetLastError());
        if (stop) {
            Close();
            return StepEnd::Stopped;
        }
        // Before the server is reached the connect limit runs from the start; after that the
        // receive limit runs from whatever came last.
        const bool toConnect = connecting && !state_->reached;
        const uint64_t since = toConnect ? start : std::max(start, state_->heardMs.load());
        const DWORD limit = toConnect ? limits_.connectMs : limits_.receiveMs;
        if (::GetTickCount64() - since >= limit) {
            error_ = ERROR_INTERNET_TIMEOUT;
            Close();
            return StepEnd::TimedOut;
        }
    }
}

}  // namespace orv::download_detail
