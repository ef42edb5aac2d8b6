// Download speed of the launcher's game-file downloads. `--client game` (the default) is
// DownloadGameFile with bar and image doubles that only keep their values, and an event pump that
// only counts, so that what is measured is the 4096-byte WinInet read loop and the file writes.
// `--client resuming` is the check engine's connection that the launcher's run now fetches game
// files through (the resuming fetcher over the WinInet part fetcher, with the run's limits and
// retries), and it also tells how many body bytes came over the network for the file: above the
// file's size when a break made it fetch some twice. scripts/bench-download runs it next to curl.
//
//   orvanta-bench-download URL [TARGET_FILE] [--runs N] [--client game|resuming]
//
// A "{run}" in the URL becomes the run's number (the fault server's cuts happen once per id).
// Prints one line per run and a last line "best: <MB/s> MB/s" (MB = 10^6 bytes).
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "launcher/base/errors.h"
#include "launcher/base/events.h"
#include "launcher/net/download_win.h"
#include "launcher/net/game_file_fetcher_win.h"
#include "launcher/net/progress.h"
#include "launcher/platform/wide_win.h"

namespace {

class KeptBar final : public orv::ProgressBarView {
public:
    void SetMax(int value) override { max_ = value; }
    int Max() const override { return max_; }
    void SetPosition(int value) override { position_ = value; }
    int Position() const override { return position_; }
    void SetMarquee(bool on) override { marquee_ = on; }
    bool IsMarquee() const override { return marquee_; }

private:
    int max_ = 100;
    int position_ = 0;
    bool marquee_ = false;
};

class KeptImage final : public orv::ProgressImage {
public:
    void SetWidth(int pixels) override { width_ = pixels; }
    int Width() const override { return width_; }

private:
    int width_ = 0;
};

long long g_pumps = 0;
void CountPump() { ++g_pumps; }

long long FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(orv::Wide(path).c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string DefaultTarget() {
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD n = ::GetTempPathW(MAX_PATH, folder);
    return orv::Narrow(std::wstring(folder, n)) + "orvanta-bench-download.bin";
}

std::string ForRun(std::string url, int run) {
    const std::string mark = "{run}";
    for (size_t at = url.find(mark); at != std::string::npos; at = url.find(mark, at))
        url.replace(at, mark.size(), std::to_string(run));
    return url;
}

// One run's outcome.
struct Outcome {
    bool ok = false;
    long long received = -1;  // body bytes over the network, -1 when the client does not say
    int tries = 0;
    std::string detail;       // what the client's counters show
};

Outcome RunGameDownload(const std::string& url, const std::string& target) {
    KeptBar bar;
    KeptImage image;
    int32_t stop = 0;
    g_pumps = 0;
    Outcome o;
    o.ok = orv::DownloadGameFile(url, target, 0, bar, image, 417, stop);
    o.detail = std::to_string(g_pumps) + " blocks, bar " + std::to_string(bar.Position()) + ", image " +
               std::to_string(image.Width());
    return o;
}

Outcome RunResumingFetch(const std::string& url, const std::string& target) {
    const std::atomic<bool> stop{false};
    const std::unique_ptr<orv::Fetcher> fetcher = orv::NewGameFileFetcher(orv::RunNetworkLimits{}, {});
    const orv::FetchResult r = fetcher->Get(url, target, stop);
    Outcome o;
    o.ok = r.ok;
    o.received = r.received;
    o.tries = r.tries;
    o.detail = std::to_string(r.tries) + " requests";
    if (!r.ok) o.detail += ", " + r.error;
    return o;
}

int Run(int argc, char** argv) {
    std::string url;
    std::string target;
    std::string client = "game";
    int runs = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else if (arg == "--client" && i + 1 < argc) {
            client = argv[++i];
        } else if (url.empty()) {
            url = arg;
        } else if (target.empty()) {
            target = arg;
        } else {
            std::fprintf(stderr, "unexpected argument: %s\n", arg.c_str());
            return 2;
        }
    }
    if (url.empty() || runs < 1 || (client != "game" && client != "resuming")) {
        std::fprintf(stderr, "usage: orvanta-bench-download URL [TARGET_FILE] [--runs N] [--client game|resuming]\n");
        return 2;
    }
    if (target.empty()) target = DefaultTarget();

    orv::SetEventPump(&CountPump);
    double best = 0;
    for (int run = 1; run <= runs; ++run) {
        const std::string runUrl = ForRun(url, run);
        const auto start = std::chrono::steady_clock::now();
        const Outcome o = client == "game" ? RunGameDownload(runUrl, target) : RunResumingFetch(runUrl, target);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const long long bytes = FileSize(target);
        ::DeleteFileW(orv::Wide(target).c_str());
        if (!o.ok || bytes <= 0) {
            std::fprintf(stderr, "run %d: the download failed (%s)\n", run, o.detail.c_str());
            return 1;
        }
        const double mbps = bytes / 1e6 / seconds;
        if (mbps > best) best = mbps;
        std::printf("run %d: %lld bytes in %.3f s, %s: %.1f MB/s\n", run, bytes, seconds, o.detail.c_str(), mbps);
        if (o.received >= 0)
            std::printf("fetched %d: %lld of %lld bytes (%.2f) in %.3f s\n", run, o.received, bytes,
                        static_cast<double>(o.received) / static_cast<double>(bytes), seconds);
        std::fflush(stdout);
    }
    std::printf("best: %.1f MB/s\n", best);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvanta-bench-download: %s\n", e.what());
        return 1;
    }
}
