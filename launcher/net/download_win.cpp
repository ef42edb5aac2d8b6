#include "launcher/net/download_win.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "game_profile.h"
#include "launcher/base/errors.h"
#include "launcher/base/events.h"
#include "launcher/base/message_box.h"
#include "launcher/base/texts.h"
#include "launcher/platform/files.h"
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

// How a body ended.
enum class BodyEnd { Whole, Stopped, BrokenOff };

struct BodyResult {
    BodyEnd end = BodyEnd::Whole;
    DWORD code = 0;  // the platform's code of a body that broke off
};

// Told the running byte count after each block has been written.
using BlockProgress = std::function<void(int64_t received)>;

// What one read of the body gave: bytes (none at the end of the body), a failed read, or a stop
// that came while the read was still waiting for the network.
struct Chunk {
    const char* data = nullptr;
    DWORD size = 0;
    bool failed = false;
    DWORD code = 0;  // of a failed read
    bool stopped = false;
};
using ChunkSource = std::function<Chunk()>;

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
BodyResult ReceiveBody(HINTERNET request, PendingFile& file, const int32_t* stop, const BlockProgress& progress,
                       const ChunkSource& source) {
    const std::optional<int64_t> promised = QueryPromisedLength(request);
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

BodyResult ReceiveBody(HINTERNET request, PendingFile& file, const int32_t* stop, const BlockProgress& progress) {
    return ReceiveBody(request, file, stop, progress, DirectReads(request));
}

// The body of one of the two downloads that show progress. A stop fills the bar and gives false (the
// caller's file then goes); a body that broke off is told to the player and raised, and the error
// ends the transfer. True for a whole body, which the caller keeps.
bool ReceiveWatchedBody(HINTERNET request, PendingFile& file, int32_t& stop, ProgressBarView& bar,
                        const BlockProgress& progress, const ChunkSource& source) {
    const BodyResult body = ReceiveBody(request, file, &stop, progress, source);
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


// The largest read handed to WinInet at once; the body is still taken in kBlockSize blocks.
constexpr DWORD kNetworkReadSize = 64 * 1024;
// How long the GUI thread waits for a network step before it services the window again.
constexpr auto kNetworkWaitSlice = std::chrono::milliseconds(5);

// A thread that makes the blocking WinInet calls of the game downloads, so that a server that
// stops sending never holds the GUI thread: the GUI thread waits for what it needs while keeping
// the window alive, and a stop pressed meanwhile ends the wait. A job that is then still running
// goes on alone (it must own what it uses); the thread is given up and a new one serves the next.
class NetworkThread {
public:
    NetworkThread() : state_(std::make_shared<State>()) { thread_ = std::thread(&NetworkThread::Loop, state_); }
    NetworkThread(const NetworkThread&) = delete;
    NetworkThread& operator=(const NetworkThread&) = delete;
    ~NetworkThread() {
        if (!thread_.joinable()) return;
        {
            const std::lock_guard<std::mutex> lock(state_->mutex);
            state_->quit = true;
        }
        state_->changed.notify_all();
        thread_.join();
    }

    // Queues `job`; it runs after the jobs before it.
    void Post(std::function<void()> job) {
        {
            const std::lock_guard<std::mutex> lock(state_->mutex);
            state_->jobs.push_back(std::move(job));
        }
        state_->changed.notify_all();
    }
    // After a stop: the running job finishes alone, and nothing queued after it runs.
    void Abandon() {
        {
            const std::lock_guard<std::mutex> lock(state_->mutex);
            state_->quit = true;
            state_->jobs.clear();
        }
        state_->changed.notify_all();
        thread_.detach();
    }

    bool Usable() const { return thread_.joinable(); }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<std::function<void()>> jobs;
        bool quit = false;
    };

    static void Loop(std::shared_ptr<State> state) {
        std::unique_lock<std::mutex> lock(state->mutex);
        for (;;) {
            state->changed.wait(lock, [&] { return !state->jobs.empty() || state->quit; });
            if (state->quit) return;
            std::function<void()> job = std::move(state->jobs.front());
            state->jobs.pop_front();
            lock.unlock();
            try {
                job();
            } catch (...) {
                // Jobs report through their own state; nothing may leave the thread.
            }
            job = nullptr;
            lock.lock();
        }
    }

    std::shared_ptr<State> state_;
    std::thread thread_;
};

// One request of a game download, shared by the GUI thread and the network step that may outlive
// the download after a stop. Whoever closes first closes; the session stays open while the request
// is.
class SharedRequest {
public:
    explicit SharedRequest(std::shared_ptr<InternetHandle> session) : session_(std::move(session)) {}
    SharedRequest(const SharedRequest&) = delete;
    SharedRequest& operator=(const SharedRequest&) = delete;
    ~SharedRequest() { Close(); }

    void Open(const std::string& url) {
        HINTERNET handle = OpenUrl(session_->Get(), url, kDownloadFlags).Release();
        const DWORD code = handle ? 0 : ::GetLastError();
        const std::lock_guard<std::mutex> lock(mutex_);
        handle_ = handle;
        openError_ = code;
    }
    HINTERNET Get() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return handle_;
    }
    DWORD OpenError() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return openError_;
    }
    void Close() {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (handle_) ::InternetCloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    std::shared_ptr<InternetHandle> session_;
    std::mutex mutex_;
    HINTERNET handle_ = nullptr;
    DWORD openError_ = 0;
};

// One read on the network thread: it waits until some of the body (or its end) is there, then
// takes what has come, up to kNetworkReadSize, without waiting for more, so that the bytes that
// came before a pause are handed on instead of waiting for the rest of a large read.
struct NetworkRead {
    std::vector<char> buffer = std::vector<char>(kNetworkReadSize);
    DWORD got = 0;
    bool failed = false;
    DWORD code = 0;

    void Run(HINTERNET request) {
        got = 0;
        failed = false;
        if (!request) {
            failed = true;
            code = ERROR_INTERNET_OPERATION_CANCELLED;
            return;
        }
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
        if (got == 0 && !::InternetReadFile(request, buffer.data(), std::min(available, kNetworkReadSize), &got))
            Fail();
    }

private:
    void Fail() {
        failed = true;
        code = ::GetLastError();
    }
};

// The most of a body read ahead of the GUI thread: the network thread waits while this much lies
// unwritten, so that a fast server cannot fill the memory with a large file.
constexpr size_t kMaxReadAhead = 1024 * 1024;

// One game file's transfer on the network thread, from the request to the end of the body, handed
// to the GUI thread as it comes: the network thread never waits for the GUI thread to ask for the
// next read, and the GUI thread waits only when nothing has come yet.
class BodyStream {
public:
    // What the GUI thread waits for.
    enum class Wait { Ready, Stopped };

    // The job for the network thread; `stream` and `request` live as long as it needs them.
    static void Transfer(const std::shared_ptr<BodyStream>& stream, const std::shared_ptr<SharedRequest>& request,
                         const std::string& url) {
        request->Open(url);
        const bool open = request->Get() != nullptr;
        {
            const std::lock_guard<std::mutex> lock(stream->mutex_);
            stream->opened_ = true;
            stream->finished_ = !open;
        }
        stream->changed_.notify_all();
        if (!open) return;
        NetworkRead read;
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(stream->mutex_);
                stream->changed_.wait(lock, [&] { return stream->queued_ < kMaxReadAhead || stream->cancelled_; });
                if (stream->cancelled_) {
                    stream->finished_ = true;
                    return;
                }
            }
            read.Run(request->Get());
            {
                const std::lock_guard<std::mutex> lock(stream->mutex_);
                if (read.failed) {
                    stream->failed_ = true;
                    stream->code_ = read.code;
                } else if (read.got == 0) {
                    stream->ended_ = true;
                } else {
                    stream->chunks_.emplace_back(read.buffer.begin(), read.buffer.begin() + read.got);
                    stream->queued_ += read.got;
                }
                stream->finished_ = read.failed || read.got == 0;
            }
            stream->changed_.notify_all();
            if (read.failed || read.got == 0) return;
        }
    }

    // Waits until the request has been made. Stopped when `stop` is 1 after a wait in which the
    // window was serviced.
    Wait Opened(const int32_t* stop) {
        return WaitFor([this] { return opened_; }, stop);
    }

    // The next piece of the body: bytes, none at its end, or a failed read.
    Chunk Next(const int32_t* stop) {
        Chunk chunk;
        if (WaitFor([this] { return !chunks_.empty() || ended_ || failed_; }, stop) == Wait::Stopped) {
            chunk.stopped = true;
            return chunk;
        }
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (!chunks_.empty()) {
                current_ = std::move(chunks_.front());
                chunks_.pop_front();
                queued_ -= current_.size();
                chunk.data = current_.data();
                chunk.size = static_cast<DWORD>(current_.size());
            } else if (failed_) {
                chunk.failed = true;
                chunk.code = code_;
            }
        }
        changed_.notify_all();
        return chunk;
    }

    // The GUI thread is done with the transfer: a network thread still at it ends at its next step.
    // True when it had already finished, so that the thread is free for the next transfer.
    bool Cancel() {
        bool finished = false;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            cancelled_ = true;
            finished = finished_;
        }
        changed_.notify_all();
        return finished;
    }

private:
    template <class Ready>
    Wait WaitFor(Ready ready, const int32_t* stop) {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (changed_.wait_for(lock, kNetworkWaitSlice, ready)) return Wait::Ready;
            lock.unlock();
            PumpWhileWaiting();
            lock.lock();
            if (ready()) return Wait::Ready;
            if (stop && *stop == 1) return Wait::Stopped;
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<char>> chunks_;
    size_t queued_ = 0;
    bool opened_ = false;
    bool ended_ = false;
    bool failed_ = false;
    DWORD code_ = 0;
    bool cancelled_ = false;
    bool finished_ = false;  // the network thread has nothing more to do for this transfer
    std::vector<char> current_;  // the piece the GUI thread is writing
};

// A request that a stop left waiting on the network: closing it is what ends a read that would
// otherwise wait for the server, and it is done off the GUI thread, which must not wait for it.
void GiveUp(std::shared_ptr<SharedRequest> request) {
    std::thread([request = std::move(request)] { request->Close(); }).detach();
}
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
    PendingFile file(path, FileSharing::None);  // a refusal goes to the caller
    try {
        if (ReceiveBody(request.Get(), file, nullptr, nullptr).end != BodyEnd::Whole) return false;
        file.Keep();
        return true;
    } catch (...) {
        return false;
    }
}

bool DownloadDocument(const std::string& url, const std::string& path) {
    const InternetHandle internet = OpenInternet(kFileAgent);
    if (!internet) return false;
    const InternetHandle request = OpenUrl(internet.Get(), url, kDownloadFlags);
    if (!request) return false;
    const std::optional<std::wstring> status = QueryText(request.Get(), HTTP_QUERY_STATUS_CODE, 10);
    if (!status || *status != L"200") return false;
    // The body goes beside the target first, so that a transfer that breaks off leaves the old copy.
    const std::string partial = path + ".orvanta-download";
    try {
        PendingFile file(partial, FileSharing::None);
        if (ReceiveBody(request.Get(), file, nullptr, nullptr).end != BodyEnd::Whole) return false;
        file.Keep();
    } catch (...) {
        return false;
    }
    if (::MoveFileExW(Wide(partial).c_str(), Wide(path).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    ::DeleteFileW(Wide(partial).c_str());
    return false;
}

struct GameFileDownloads::Impl {
    std::shared_ptr<InternetHandle> session;
    std::unique_ptr<NetworkThread> thread;

    NetworkThread& Thread() {
        if (!thread || !thread->Usable()) thread = std::make_unique<NetworkThread>();
        return *thread;
    }
};

GameFileDownloads::GameFileDownloads() : impl_(std::make_unique<Impl>()) {}

GameFileDownloads::~GameFileDownloads() = default;

bool GameFileDownloads::Download(const std::string& url, const std::string& path, int32_t size, ProgressBarView& bar,
                                 ProgressImage& image, int32_t fullWidth, int32_t& stop) {
    bar.SetMax(100);
    bar.SetPosition(0);
    if (!impl_->session) {
        InternetHandle internet = OpenInternet(GameAgent());
        if (!internet) RaiseInternetError(::GetLastError());
        impl_->session = std::make_shared<InternetHandle>(std::move(internet));
    }
    auto request = std::make_shared<SharedRequest>(impl_->session);
    auto stream = std::make_shared<BodyStream>();
    NetworkThread& thread = impl_->Thread();
    thread.Post([stream, request, url] { BodyStream::Transfer(stream, request, url); });
    // Every way out of here ends the transfer. One left before the network thread was done with it
    // (a stop, a file that cannot be written) gives up that thread and the request, which may be
    // waiting for a server that sends nothing.
    struct EndTransfer {
        BodyStream& stream;
        std::shared_ptr<SharedRequest>& request;
        NetworkThread& thread;
        ~EndTransfer() {
            if (stream.Cancel()) return;
            thread.Abandon();
            GiveUp(std::move(request));
        }
    } end{*stream, request, thread};

    if (stream->Opened(&stop) == BodyStream::Wait::Stopped) {
        // As a stop after the first block would have left it: nothing at the target.
        RemoveFile(path);
        bar.SetPosition(bar.Max());
        return true;
    }
    if (!request->Get()) RaiseInternetError(request->OpenError());

    try {
        PendingFile file(path, FileSharing::None);
        const int64_t expected = QueryProgressLength(request->Get()).value_or(size);
        const auto progress = [&](int64_t received) {
            // Without any size the bar stays where it is (at 0) and the image is left alone.
            if (expected != 0) ShowGameProgress(received, expected, bar, image, fullWidth);
        };
        const ChunkSource source = [&stream, &stop] { return stream->Next(&stop); };
        if (ReceiveWatchedBody(request->Get(), file, stop, bar, progress, source)) file.Keep();
    } catch (...) {
        return false;
    }
    return true;
}

bool DownloadGameFile(const std::string& url, const std::string& path, int32_t size, ProgressBarView& bar,
                      ProgressImage& image, int32_t fullWidth, int32_t& stop) {
    GameFileDownloads downloads;
    return downloads.Download(url, path, size, bar, image, fullWidth, stop);
}

bool DownloadUpdateFile(const std::string& url, const std::string& path, ProgressBarView& bar, int64_t size,
                        int32_t& stop) {
    bar.SetMax(100);
    bar.SetPosition(0);
    const Transfer t = OpenTransfer(url);
    MarqueeScope marquee(bar);
    try {
        PendingFile file(path, FileSharing::None);
        const int64_t expected = QueryProgressLength(t.request.Get()).value_or(size);
        if (expected == 0) marquee.On();
        const auto progress = [&](int64_t received) {
            if (expected == 0) return;
            ShowUpdateProgress(received, expected, bar);
            PumpEvents();
        };
        if (!ReceiveWatchedBody(t.request.Get(), file, stop, bar, progress, DirectReads(t.request.Get()))) return true;
        if (expected == 0) {
            bar.SetMarquee(false);
            bar.SetPosition(bar.Max());
        }
        file.Keep();
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace orv
