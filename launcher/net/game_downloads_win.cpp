// The game file downloads of a check run: one network thread and one WinInet session for the run,
// each body read on that thread ahead of the GUI thread, which writes it in the download's blocks.
#include <windows.h>
#include <wininet.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "launcher/base/events.h"
#include "launcher/net/download_body_win.h"
#include "launcher/net/download_win.h"
#include "launcher/platform/files.h"
#include "launcher/platform/scoped_win.h"

namespace orv {
namespace {

using namespace download_detail;

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

}  // namespace orv
