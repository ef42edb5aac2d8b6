// Download speed of the launcher's game-file download: DownloadGameFile with bar and image doubles
// that only keep their values, and an event pump that only counts, so that what is measured is the
// 4096-byte WinInet read loop and the file writes. scripts/bench-download runs it next to curl.
//
//   orvanta-bench-download URL [TARGET_FILE] [--runs N]
//
// Prints one line per run and a last line "best: <MB/s> MB/s" (MB = 10^6 bytes).
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "launcher/base/errors.h"
#include "launcher/base/events.h"
#include "launcher/net/download_win.h"
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

int Run(int argc, char** argv) {
    std::string url;
    std::string target;
    int runs = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else if (url.empty()) {
            url = arg;
        } else if (target.empty()) {
            target = arg;
        } else {
            std::fprintf(stderr, "unexpected argument: %s\n", arg.c_str());
            return 2;
        }
    }
    if (url.empty() || runs < 1) {
        std::fprintf(stderr, "usage: orvanta-bench-download URL [TARGET_FILE] [--runs N]\n");
        return 2;
    }
    if (target.empty()) target = DefaultTarget();

    orv::SetEventPump(&CountPump);
    double best = 0;
    for (int run = 1; run <= runs; ++run) {
        KeptBar bar;
        KeptImage image;
        int32_t stop = 0;
        g_pumps = 0;
        const auto start = std::chrono::steady_clock::now();
        const bool ok = orv::DownloadGameFile(url, target, 0, bar, image, 417, stop);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const long long bytes = FileSize(target);
        ::DeleteFileW(orv::Wide(target).c_str());
        if (!ok || bytes <= 0) {
            std::fprintf(stderr, "run %d: the download failed\n", run);
            return 1;
        }
        const double mbps = bytes / 1e6 / seconds;
        if (mbps > best) best = mbps;
        std::printf("run %d: %lld bytes in %.3f s, %lld blocks, bar %d, image %d: %.1f MB/s\n", run, bytes, seconds,
                    g_pumps, bar.Position(), image.Width(), mbps);
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
