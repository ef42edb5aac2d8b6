// The launcher's HTTP client over WinInet: one availability probe and the downloads, called on the
// GUI thread. Each call opens and closes its own internet handle, except the game files of a check
// run, which share one session and make their network calls on a thread of their own
// (GameFileDownloads, game_downloads_win.cpp), and the launcher update, which goes on from where a
// broken body stopped on a thread of its own. Bodies are saved as they come, error pages included;
// the status code only matters to the probe. Every request has the time limits of fetcher.h, and
// the whole-file downloads try a body that breaks off or a server that stays silent again, from its
// first byte, as the check run's downloads do (RetryPolicy).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "launcher/net/fetcher.h"
#include "launcher/net/progress.h"
#include "launcher/net/resuming_fetcher.h"

namespace orv {

// The time limits of the probe and the downloads here, the launcher update's included, and the
// waits between the tries of those that try again.
struct DownloadTimeLimits {
    uint32_t connectMs = kConnectTimeLimitMs;
    uint32_t receiveMs = kReceiveTimeLimitMs;
    std::vector<std::chrono::milliseconds> waits = RetryPolicy{}.waits;
};
// For the tests, which cannot wait half a minute per silent server. Gives the previous limits.
DownloadTimeLimits SetDownloadTimeLimits(DownloadTimeLimits limits);
DownloadTimeLimits CurrentDownloadTimeLimits();

// True when the URL answers with status 200, 302, 301, 307 or 308; false for any other status and
// when the server cannot be reached. Never raises.
bool ProbeUrl(const std::string& url);

// Saves the URL's body to `path` without any display. False when the server cannot be reached or
// the body still breaks off at the last try (the partial file is deleted); raises EOSError when
// `path` cannot be created.
bool DownloadFile(const std::string& url, const std::string& path);
// As DownloadFile, for a small file of known bound: false as well, with nothing left at `path`,
// when the server promises or sends more than `maxBytes`; reading stops there.
bool DownloadBoundedFile(const std::string& url, const std::string& path, uint64_t maxBytes);

// Saves a small document of the server (the folder cleaner's keep list) to `path` without any
// display, replacing the file there. Only an answer with status 200 is the document: for an error
// page, an unreachable server, a body that breaks off or a file that cannot be written the result
// is false and `path` is left as it was.
bool DownloadDocument(const std::string& url, const std::string& path);

// Saves one game file for the check run, driving the per-file bar (maximum 100) and the image
// (0..fullWidth pixels). `size` is the caller's expectation, used only when the server sends no
// length. The event queue is pumped once per 4096-byte block; `stop` is read after every block that
// arrived, and 1 ends the transfer with the file deleted, the bar full and the result true.
// False after a read or file failure ("Error InternetReadFile" is shown for a read failure), with
// nothing left at `path`. Raises EOSError when the server cannot be reached.
// The network calls happen on a thread of their own while the window is kept alive: a stop pressed
// while the server sends nothing ends the transfer as a stop after a block does, once the network
// thread is back from its call (within kGameDownloadTimeoutMs), and that thread has ended when the
// call returns. A server silent for longer than that breaks the body off, as a failed read.
bool DownloadGameFile(const std::string& url, const std::string& path, int32_t size, ProgressBarView& bar,
                      ProgressImage& image, int32_t fullWidth, int32_t& stop);

// The longest the game downloads wait for the server at one step (connecting, sending, each read):
// the longest a stop waits for a silent server, and the longest pause a transfer outlives. The
// system's own socket receive time-out can be set no lower than this (HKLMReceiveTimeOut).
constexpr uint32_t kGameDownloadTimeoutMs = 5000;

// The game file downloads of one check run: DownloadGameFile with one internet handle for the whole
// run, so that WinInet keeps the connection to the update server open from one file to the next,
// and one network thread for all files, which owns every WinInet handle of them. A stop or a
// failure that leaves a body unread ends that thread before Download returns; the next file gets a
// new one, and none outlives the object.
class GameFileDownloads {
public:
    explicit GameFileDownloads(uint32_t timeoutMs = kGameDownloadTimeoutMs);
    ~GameFileDownloads();
    GameFileDownloads(const GameFileDownloads&) = delete;
    GameFileDownloads& operator=(const GameFileDownloads&) = delete;

    bool Download(const std::string& url, const std::string& path, int32_t size, ProgressBarView& bar,
                  ProgressImage& image, int32_t fullWidth, int32_t& stop);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// How many network threads of game downloads are running in the process: for the tests that show a
// stop leaves none behind.
int RunningGameDownloadThreads();

// Told that the launcher update waits to try again (the notice), and with nullptr that the
// transfer goes on, on the calling thread.
using UpdateRetryShown = std::function<void(const RetryNotice* waiting)>;

// Saves a launcher update for the self-update window. As DownloadGameFile, with a bar only; `size`
// 0 means not given, and without a size from the server either the bar runs in marquee style until
// the body is complete. The transfer runs on a worker while the calling thread pumps the events
// every few milliseconds and drives the bar; a body that breaks off or a silent server is tried
// again from where it stopped (up to RetryPolicy's tries), and `retryShown` hears of each wait.
// Once it gives up, a body that broke off is told to the player ("Error InternetReadFile") and
// gives false; a server that cannot be reached at all raises EOSError. Nothing is left at `path`
// unless the result is true after a whole body.
bool DownloadUpdateFile(const std::string& url, const std::string& path, ProgressBarView& bar, int64_t size,
                        int32_t& stop, const UpdateRetryShown& retryShown = {});

}  // namespace orv
