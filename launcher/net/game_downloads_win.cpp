// The game file downloads of a check run: one network thread and one WinInet session for the run,
// each body read on that thread ahead of the GUI thread, which writes it in the download's blocks.
//
// Who owns what. The network thread opens the session, opens every request on it, asks each
// request for its length, reads its body and closes it, then closes the session when it ends: no
// other thread ever holds a WinInet handle of these downloads. The GUI thread is handed values only
// (whether the request opened, the platform's code when not, the length headers, the bytes).
//
// How a stop ends a blocked read. A synchronous WinInet call can only be ended from outside by
// closing its handle from another thread, but the InternetCloseHandle documentation makes that
// safe only while no call is being made or will be made with the handle, which is exactly not the
// case while a read is blocked; closing the session instead takes the request away from under its
// owner (HINTERNET Handles: children go with their parent, and closed values are recycled at once).
// So the handles stay with their owner, and the owner never waits without end: each request carries
// connect, send and receive time-outs (INTERNET_OPTION_*_TIMEOUT). A receive time-out is one socket
// receive, so it bounds every wait of a read; the system's default is 30 s (HKLMReceiveTimeOut). A
// stop cancels the transfer; the network thread notices when its current call returns, at the
// latest when the time-out runs out, closes the request and ends, and the GUI thread keeps the
// window alive until it has joined that thread. The next download starts a new one.
#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "launcher/base/events.h"
#include "launcher/net/download_body_win.h"
#include "launcher/net/download_win.h"
#include "launcher/net/timed_request_win.h"
#include "launcher/platform/files.h"
#include "launcher/platform/scoped_win.h"

namespace orv {
namespace {

using namespace download_detail;

// How long the GUI thread waits for a network step before it services the window again.
constexpr auto kNetworkWaitSlice = std::chrono::milliseconds(5);
// The most of a body read ahead of the GUI thread: the network thread waits while this much lies
// unwritten, so that a fast server cannot fill the memory with a large file.
constexpr size_t kMaxReadAhead = 1024 * 1024;

std::atomic<int> g_runningThreads{0};

// What the network thread hands the GUI thread for one game file, as it comes: the network thread
// never waits for the GUI thread to ask for the next read, and the GUI thread waits only when
// nothing has come yet.
class BodyStream {
public:
    // What the GUI thread waits for.
    enum class Wait { Ready, Stopped };

    // What opening the request gave.
    struct Head {
        bool opened = false;
        DWORD openError = 0;  // the platform's code when the request (or the session) did not open
        ResponseLength length;
    };

    // ---- The network thread's side

    void Open(Head head) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            head_ = std::move(head);
            opened_ = true;
            finished_ = !head_.opened;
        }
        changed_.notify_all();
    }
    // Waits while the GUI thread has enough to write. False when the transfer was cancelled.
    bool WaitForRoom() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return queued_ < kMaxReadAhead || cancelled_; });
        return !cancelled_;
    }
    // Hands on what one read gave. False when the body is over (its end or a failed read).
    bool Deliver(const NetworkRead& read) {
        const bool over = read.failed || read.got == 0;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (read.failed) {
                failed_ = true;
                code_ = read.code;
            } else if (read.got == 0) {
                ended_ = true;
            } else {
                chunks_.emplace_back(read.buffer.begin(), read.buffer.begin() + read.got);
                queued_ += read.got;
            }
            finished_ = over;
        }
        changed_.notify_all();
        return !over;
    }

    // Ends the transfer with `code` wherever it stands.
    void Abort(DWORD code) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (!opened_) {
                head_ = Head{};
                head_.openError = code;
                opened_ = true;
            } else if (!finished_) {
                failed_ = true;
                code_ = code;
            }
            finished_ = true;
        }
        changed_.notify_all();
    }

    // ---- The GUI thread's side

    // Waits until the request has been made. Stopped when `stop` is 1 after a wait in which the
    // window was serviced.
    Wait Opened(const int32_t& stop) {
        return WaitFor([this] { return opened_; }, &stop);
    }
    Head TakeHead() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return std::move(head_);
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

    // The GUI thread is done with the transfer: a network thread still at it stops at its next
    // step. True when it had already finished, so that the thread is free for the next transfer.
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
    Head head_;
    std::deque<std::vector<char>> chunks_;
    size_t queued_ = 0;
    bool opened_ = false;
    bool ended_ = false;
    bool failed_ = false;
    DWORD code_ = 0;
    bool cancelled_ = false;
    bool finished_ = false;      // the network thread has nothing more to do for this transfer
    std::vector<char> current_;  // the piece the GUI thread is writing
};

// One transfer on the network thread, from opening the request to closing it.
void Transfer(HINTERNET session, DWORD timeoutMs, BodyStream& stream, const std::string& url) {
    BodyStream::Head head;
    const TimedRequest t = OpenTimedRequest(session, url, timeoutMs);
    if (!t.request) {
        head.openError = t.error;
        stream.Open(std::move(head));
        return;
    }
    head.opened = true;
    head.length = QueryResponseLength(t.request.Get());
    stream.Open(std::move(head));
    NetworkRead read;
    while (stream.WaitForRoom()) {
        read.Run(t.request.Get());
        if (!stream.Deliver(read)) return;
    }
}

// The thread that owns the session and the requests of the game downloads.
class NetworkThread {
public:
    explicit NetworkThread(DWORD timeoutMs) : state_(std::make_shared<State>()) {
        ++g_runningThreads;
        try {
            thread_ = std::thread(&NetworkThread::Loop, state_, timeoutMs);
        } catch (...) {
            --g_runningThreads;
            throw;
        }
    }
    NetworkThread(const NetworkThread&) = delete;
    NetworkThread& operator=(const NetworkThread&) = delete;
    // Idle by now (a transfer the thread had not finished ended it already): it leaves at once.
    ~NetworkThread() {
        if (!thread_.joinable()) return;
        Quit();
        thread_.join();
    }

    void Post(std::shared_ptr<BodyStream> stream, std::string url) {
        {
            const std::lock_guard<std::mutex> lock(state_->mutex);
            state_->next = std::move(stream);
            state_->url = std::move(url);
        }
        state_->changed.notify_all();
    }

    // Ends the thread while a transfer may still be at a network call (cancelled already): the
    // window is kept alive until the call has returned and the thread has closed its handles.
    void End() {
        Quit();
        std::unique_lock<std::mutex> lock(state_->mutex);
        while (!state_->changed.wait_for(lock, kNetworkWaitSlice, [&] { return state_->ended; })) {
            lock.unlock();
            PumpWhileWaiting();
            lock.lock();
        }
        lock.unlock();
        thread_.join();
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::shared_ptr<BodyStream> next;
        std::string url;
        bool quit = false;
        bool ended = false;
    };

    void Quit() {
        {
            const std::lock_guard<std::mutex> lock(state_->mutex);
            state_->quit = true;
        }
        state_->changed.notify_all();
    }

    static void Loop(const std::shared_ptr<State>& state, DWORD timeoutMs) {
        std::shared_ptr<BodyStream> stream;
        try {
            InternetHandle session;
            for (;;) {
                std::string url;
                {
                    std::unique_lock<std::mutex> lock(state->mutex);
                    state->changed.wait(lock, [&] { return state->next || state->quit; });
                    if (state->quit) break;
                    stream = std::move(state->next);
                    url = std::move(state->url);
                }
                // A session that did not open is tried again for the next file.
                if (!session) session = OpenInternet(GameAgent());
                if (session) {
                    Transfer(session.Get(), timeoutMs, *stream, url);
                } else {
                    stream->Abort(::GetLastError());
                }
                stream.reset();
            }
        } catch (...) {
            // Only memory can run out here; the transfer in hand fails, and the thread ends.
            if (stream) stream->Abort(ERROR_NOT_ENOUGH_MEMORY);
        }
        {
            const std::lock_guard<std::mutex> lock(state->mutex);
            state->ended = true;
        }
        state->changed.notify_all();
        --g_runningThreads;
    }

    std::shared_ptr<State> state_;
    std::thread thread_;
};

}  // namespace

int RunningGameDownloadThreads() { return g_runningThreads.load(); }

struct GameFileDownloads::Impl {
    DWORD timeoutMs = 0;
    std::unique_ptr<NetworkThread> thread;
};

GameFileDownloads::GameFileDownloads(uint32_t timeoutMs) : impl_(std::make_unique<Impl>()) { impl_->timeoutMs = timeoutMs; }

GameFileDownloads::~GameFileDownloads() = default;

bool GameFileDownloads::Download(const std::string& url, const std::string& path, int32_t size, ProgressBarView& bar,
                                 ProgressImage& image, int32_t fullWidth, int32_t& stop) {
    bar.SetMax(100);
    bar.SetPosition(0);
    if (!impl_->thread) impl_->thread = std::make_unique<NetworkThread>(impl_->timeoutMs);
    auto stream = std::make_shared<BodyStream>();
    impl_->thread->Post(stream, url);
    // Every way out of here ends the transfer. One left before the network thread was done with it
    // (a stop, a file that cannot be written) ends that thread before the call returns.
    struct EndTransfer {
        BodyStream& stream;
        std::unique_ptr<NetworkThread>& thread;
        ~EndTransfer() {
            if (stream.Cancel()) return;
            thread->End();
            thread.reset();
        }
    } end{*stream, impl_->thread};

    if (stream->Opened(stop) == BodyStream::Wait::Stopped) {
        // As a stop after the first block would have left it: nothing at the target.
        RemoveFile(path);
        bar.SetPosition(bar.Max());
        return true;
    }
    const BodyStream::Head head = stream->TakeHead();
    if (!head.opened) RaiseInternetError(head.openError);

    try {
        PendingFile file(path, FileSharing::None);
        const int64_t expected = ProgressLength(head.length).value_or(size);
        const auto progress = [&](int64_t received) {
            // Without any size the bar stays where it is (at 0) and the image is left alone.
            if (expected != 0) ShowGameProgress(received, expected, bar, image, fullWidth);
        };
        const ChunkSource source = [&stream, &stop] { return stream->Next(&stop); };
        if (ReceiveWatchedBody(file, stop, bar, progress, source, head.length.promised)) file.Keep();
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
