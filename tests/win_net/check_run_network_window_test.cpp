// The check run of the real main window on a bad network: the fault server serves the published
// build (its /root/ route) with cuts, stalls and a paced rate, and /stats tells what went over the
// wire. Run through tests/rig/with-servers.sh.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "launcher/integrity/entry_rules.h"
#include "launcher/net/download_win.h"
#include "launcher/net/game_file_fetcher_win.h"
#include "launcher/net/resume_rules.h"
#include "launcher/ui/gui_thread_win.h"
#include "launcher/platform/wide_win.h"
#include "win_net/check_run_window_fixture.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// What the fault server counted for one id.
struct Stats {
    int64_t requests = -1;
    int64_t bytes = -1;
    std::vector<int64_t> offsets;
};

int64_t NumberAfter(const std::string& json, const std::string& key, size_t& at) {
    at = json.find("\"" + key + "\"");
    if (at == std::string::npos) return -1;
    at = json.find_first_of("0123456789", at);
    return at == std::string::npos ? -1 : std::stoll(json.substr(at));
}

int64_t SizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

class CheckRunNetworkWindowTest : public CheckRunWindowTest {
protected:
    void SetUp() override {
        CheckRunWindowTest::SetUp();
        if (IsSkipped()) return;
        statsFile_ = scratch_.File("stats.json");
    }

    // An id of this test's own: the fault server keeps each id's cuts for its whole life.
    std::string Id(const std::string& what) const {
        return std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" + what;
    }
    // The published build as the fault server serves it, misbehaving as `opts` says.
    std::string FaultBase(const std::string& id, const std::string& opts) const {
        return Env("ORVANTA_FAULT_URL") + "root/" + id + "/" + opts + "/check-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    }
    // The build's files come from the fault server; the checklist still from nginx.
    void ServeFilesFrom(const std::string& id, const std::string& opts) {
        publish_.serverBase = FaultBase(id, opts);
        Publish();
    }
    // Every listed file in the game folder as the build has it, except `missing`.
    void PutAllBut(const std::string& missing) {
        for (const auto& [relative, bytes] : files_)
            if (relative != missing) PutGame(relative, bytes);
    }
    // The run's waits between tries made short; time limits as the run has them.
    static void ShortWaits(CheckRunPlatform& platform, std::chrono::milliseconds wait) {
        RunNetworkLimits limits;
        limits.waits = {wait};
        UseRunNetwork(platform, limits);
    }
    Stats StatsOf(const std::string& id) const {
        Stats stats;
        if (!DownloadFile(Env("ORVANTA_FAULT_URL") + "stats/" + id, statsFile_)) return stats;
        const std::string json = test::ReadFile(statsFile_);
        size_t at = 0;
        stats.requests = NumberAfter(json, "requests", at);
        stats.bytes = NumberAfter(json, "bytes", at);
        at = json.find('[', json.find("\"offsets\""));
        const size_t end = json.find(']', at);
        while (at != std::string::npos && (at = json.find_first_of("0123456789", at)) < end) {
            stats.offsets.push_back(std::stoll(json.substr(at)));
            at = json.find_first_not_of("0123456789", at);
        }
        return stats;
    }
    int64_t PublishedSize(const std::string& relative) const { return SizeOf(ServerFile("\\" + relative)); }

    test::TempDir scratch_;
    std::string statsFile_;
};

TEST_F(CheckRunNetworkWindowTest, ALargeFileCutSeveralTimesIsRepairedFetchingLittleMoreThanItsSize) {
    const std::string big = "cstrike\\maps\\big.bsp";
    PutBuild(big, test::MakeData(1500000, 7, false));
    const std::string id = Id("cut");
    ServeFilesFrom(id, "cut=300000+700000+1100000");
    Start();
    PutAllBut(big);
    adjust = [](CheckRunPlatform& platform) { ShortWaits(platform, 50ms); };
    form_->Events.Image_Button_CheckClick();

    EXPECT_EQ(Messages(), std::vector<std::string>{"Проверка файлов прошла успешно"});
    ExpectUnchangedOrRepaired(files_);
    const int64_t lzma = PublishedSize(big);
    ASSERT_GT(lzma, 1100000) << "every cut must fall inside the file";
    const Stats stats = StatsOf(id);
    EXPECT_EQ(stats.requests, 4) << "one request per cut and one for the rest";
    EXPECT_LE(stats.bytes * 10, lzma * 11) << "the breaks went on where they stopped";
    ExpectIdle();
}

TEST_F(CheckRunNetworkWindowTest, TheStatusLineTellsOfARetryWhileItWaitsAndOfTheFileOnceItGoesOn) {
    const std::string id = Id("cut");
    ServeFilesFrom(id, "cut=60000");
    Start();
    PutAllBut("hl2.exe");
    adjust = [](CheckRunPlatform& platform) { ShortWaits(platform, 1500ms); };
    // Read on the GUI thread between the run's pumps, as the player would see it.
    std::vector<std::string> shown;
    std::atomic<bool> runOver{false};
    std::thread sampler([&] {
        while (!runOver) {
            PostToGuiThread([&] {
                if (shown.empty() || shown.back() != form_->Label4.Text()) shown.push_back(form_->Label4.Text());
            });
            std::this_thread::sleep_for(10ms);
        }
    });
    form_->Events.Image_Button_CheckClick();
    runOver = true;
    sampler.join();
    ASSERT_TRUE(test::PumpUntil(test::NothingQueued, test::kGuiWait));

    ExpectUnchangedOrRepaired(files_);
    const std::string retrying = "Связь прервалась, повторная попытка (2 из 5) через 2 с: \\hl2.exe";
    const auto at = std::find(shown.begin(), shown.end(), retrying);
    ASSERT_NE(at, shown.end()) << "the wait was never told";
    EXPECT_NE(std::find(at, shown.end(), "Проверяется файл: \\hl2.exe"), shown.end())
        << "the file's own text did not come back once the download went on";
    EXPECT_EQ(Messages(), std::vector<std::string>{"Проверка файлов прошла успешно"});
}

// The checklist's server accepts the connection and says nothing: the window answers meanwhile, and
// Stop ends the run at once, as a stop, with nothing walked and nothing to tell.
TEST_F(CheckRunNetworkWindowTest, StopWhileTheChecklistStallsEndsTheRunAtOnceAndQuietly) {
    const std::string id = Id("stallhead");
    Start();
    PutGame("hl2.exe", "an old hl2");
    adjust = [this, id](CheckRunPlatform& platform) { platform.serverBase = FaultBase(id, "stallhead"); };
    const HWND window = form_->Handle();
    std::atomic<bool> asked{false}, answered{false};
    Clock::time_point stopPosted{};
    std::thread player([&] {
        const auto deadline = Clock::now() + 20s;
        while (Clock::now() < deadline && !(asked = StatsOf(id).requests >= 1)) std::this_thread::sleep_for(20ms);
        DWORD_PTR result = 0;
        answered = ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &result) != 0;
        stopPosted = Clock::now();
        PostToGuiThread([this] { form_->Events.Image_Button_StopClick(); });
    });
    form_->Events.Image_Button_CheckClick();
    const Clock::time_point runEnded = Clock::now();
    player.join();

    EXPECT_TRUE(asked) << "the checklist was never asked for";
    EXPECT_TRUE(answered) << "the window did not answer while the checklist stalled";
    const auto stopMs = std::chrono::duration_cast<std::chrono::milliseconds>(runEnded - stopPosted).count();
    std::printf("stalled checklist: run ended %lld ms after Stop was posted\n", static_cast<long long>(stopMs));
    EXPECT_LT(stopMs, 1000) << "Stop did not end the checklist's download at once";
    EXPECT_TRUE(Messages().empty()) << Messages().front();
    EXPECT_EQ(test::ReadFile(Game("hl2.exe")), "an old hl2") << "nothing is walked after the stop";
    EXPECT_FALSE(test::Exists(Game("css34.dim.lzma")));
    EXPECT_FALSE(test::Exists(Game("css34.dim")));
    EXPECT_EQ(ReadLauncherSetting("cssClientVersion", "BuildVersion", ""), "7");
    EXPECT_FALSE(WindowClosed());
    ExpectIdle();
}

// A stop in the middle of a large download keeps what came, with its record and the checklist
// that makes the next run look beside the files; the next run goes on from there.
TEST_F(CheckRunNetworkWindowTest, APartialKeptAfterAStopIsResumedByTheNextRun) {
    const std::string huge = "cstrike\\maps\\huge.bsp";
    // The whole file's download is what is resumed here: published in chunks, it would be built
    // from those instead.
    publish_.chunks = false;
    PutBuild(huge, test::MakeData(static_cast<size_t>(kKeepPartialFromBytes) + 512 * 1024, 9, false));
    const std::string id = Id("paced");
    ServeFilesFrom(id, "rate=4000000");
    Start();
    PutAllBut(huge);
    adjust = [](CheckRunPlatform& platform) { ShortWaits(platform, 50ms); };
    const std::string partial = DownloadTargetPath(Game(huge));
    constexpr int64_t kStopFrom = 2 * 1024 * 1024;
    std::atomic<int64_t> seen{0};
    std::thread player([&] {
        const auto deadline = Clock::now() + 60s;
        while (Clock::now() < deadline && (seen = SizeOf(partial)) < kStopFrom) std::this_thread::sleep_for(5ms);
        PostToGuiThread([this] { form_->Events.Image_Button_StopClick(); });
    });
    form_->Events.Image_Button_CheckClick();
    player.join();

    ASSERT_GE(seen, kStopFrom) << "the download never got that far";
    EXPECT_TRUE(Messages().empty());
    const int64_t kept = SizeOf(partial);
    EXPECT_GE(kept, kStopFrom) << "the partial download went";
    EXPECT_TRUE(test::Exists(ResumeRecordPath(partial)));
    EXPECT_TRUE(test::Exists(Game("css34.dim"))) << "the next run would not look beside the files";
    ExpectIdle();

    form_->Events.Image_Button_CheckClick();
    EXPECT_EQ(Messages(), std::vector<std::string>{"Проверка файлов прошла успешно"});
    ExpectUnchangedOrRepaired(files_);
    EXPECT_FALSE(test::Exists(partial));
    EXPECT_FALSE(test::Exists(ResumeRecordPath(partial)));
    EXPECT_FALSE(test::Exists(Game("css34.dim")));
    const Stats stats = StatsOf(id);
    ASSERT_GE(stats.offsets.size(), 2u);
    EXPECT_EQ(stats.offsets[0], 0);
    EXPECT_GT(stats.offsets[1], 0) << "the next run started again from the first byte";
    EXPECT_LE(stats.bytes * 10, PublishedSize(huge) * 11);
}

}  // namespace
}  // namespace orv
