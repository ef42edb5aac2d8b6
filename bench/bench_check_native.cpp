// The launcher's portable check run (RunCheck, the same code as Orvanta.exe's) natively over the
// POSIX file layer, with a view that only counts: what the run costs without a window and without
// Wine. The server is a published server folder read directly (addresses below SERVER_BASE map to
// files below ROOT), so the figures are the run's own, not the network's.
//   usage: orvanta-bench-check-native GAME_DIR ROOT SERVER_BASE [--runs N]
// Prints "run: S s" (the best of N), "checked: N", "downloaded: N" and "peak memory: KB kB".
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <atomic>

#include "launcher/base/app_state.h"
#include "launcher/base/message_box.h"
#include "launcher/catalogue_reader.h"
#include "launcher/integrity/check_run.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/platform/files.h"
#include "launcher/platform/native_path_posix.h"
#include "launcher/startup_sequence.h"

namespace {

class CountingView final : public orv::CheckRunView {
public:
    void SetStatus(const std::string&) override { ++updates; }
    void SetCounters(const std::string&) override { ++updates; }
    void ResetOverall(int max) override {
        max_ = max;
        position_ = 0;
    }
    int OverallPosition() const override { return position_; }
    void SetOverallPosition(int position) override { position_ = position; }
    void SetOverallWidth(int) override { ++updates; }
    void SetFileMax(int) override {}
    void FillFileProgress() override {}
    void BringToFront() override {}
    void RequestClose() override {}
    void Stop() override { orv::StopFlag = 1; }
    long updates = 0;

private:
    int max_ = 0, position_ = 0;
};

// The file below `root` that an address below `base` names.
bool CopyFromRoot(const std::string& root, const std::string& base, const std::string& url, const std::string& path) {
    if (url.rfind(base, 0) != 0) return false;
    try {
        orv::WriteNewFile(path, orv::ReadFileBytes(root + "/" + url.substr(base.size())));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// The engine's download thread reads the server folder directly.
class RootFetcher final : public orv::Fetcher {
public:
    RootFetcher(std::string root, std::string base) : root_(std::move(root)), base_(std::move(base)) {}
    orv::FetchResult Get(const std::string& url, const std::string& path, const std::atomic<bool>&,
                         const orv::FetchProgress&) override {
        orv::FetchResult result;
        result.ok = CopyFromRoot(root_, base_, url, path);
        if (!result.ok) result.failed = orv::FetchStep::Request;
        return result;
    }
    orv::FetchResult Head(const std::string&) override { return {}; }

private:
    std::string root_, base_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: orvanta-bench-check-native GAME_DIR ROOT SERVER_BASE [--runs N]\n");
        return 2;
    }
    const std::string game = argv[1], root = argv[2], base = argv[3];
    const int runs = argc >= 6 && std::string(argv[4]) == "--runs" ? std::atoi(argv[5]) : 1;
    try {
        orv::CreateLzmaAloneInstance();
        orv::GameFolder = game;
        orv::WriteNewFile(orv::LocalCataloguePath(), orv::ReadFileBytes(root + "/" + orv::GameCode + "/inf.ini"));
        orv::SetMessageHandler([](const orv::MessageRequest& request) {
            std::fprintf(stderr, "message: %s\n", request.text.c_str());
            return orv::MsgResult::Ignore;
        });
        orv::CheckRunPlatform platform = orv::PortableCheckRunPlatform();
        platform.serverBase = base;
        platform.catalogueCodec = orv::CodePageCodec(orv::CodePage::Windows1251);
        platform.checklistPage = orv::CodePage::Windows1251;
        platform.setCurrentFolder = [](const std::string&) {};
        platform.downloadFile = [&](const std::string& url, const std::string& path) {
            return CopyFromRoot(root, base, url, path);
        };
        platform.engine.newFetcher = [&] { return std::make_unique<RootFetcher>(root, base); };
        platform.replaceFile = [](const std::string& from, const std::string& to) {
            return std::rename(orv::NativePath(from).c_str(), orv::NativePath(to).c_str()) == 0;
        };
        platform.makeNormal = [](const std::string&) {};
        platform.createFolder = [](const std::string& path) { orv::CreateDirectories(path); };

        double best = 1e300;
        orv::CheckRunResult result;
        for (int i = 0; i < std::max(runs, 1); ++i) {
            CountingView view;
            orv::StopFlag = 0;
            const auto start = std::chrono::steady_clock::now();
            result = orv::RunCheck(orv::CheckRunRequest{}, view, platform);
            best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        std::printf("run: %.3f s\nchecked: %d\ndownloaded: %d\npeak memory: %ld kB\n", best, result.checked,
                    result.downloaded, usage.ru_maxrss);
        return result.completed ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvanta-bench-check-native: %s\n", e.what());
        return 1;
    }
}
