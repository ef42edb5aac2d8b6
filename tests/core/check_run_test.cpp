// The check-and-repair run on real files: a build published by the publisher into a server folder,
// a game folder that differs from it, and a server reached through copies instead of HTTP. The
// view records what the main window would show.
#include "launcher/integrity/check_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "launcher/base/app_state.h"
#include "launcher/base/errors.h"
#include "launcher/base/events.h"
#include "launcher/base/texts.h"
#include "launcher/config/launcher_settings.h"
#include "launcher/integrity/checklist.h"
#include "launcher/integrity/crc32.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/files.h"
#include "launcher/platform/long_path.h"
#include "launcher/startup_sequence.h"
#include "support/chunk_store.h"
#include "support/process_state.h"
#include "support/small_disk_posix.h"
#include "support/test_files.h"
#include "tools/publish.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using test::Exists;
using test::ReadFile;
using test::WriteFile;

constexpr const char* kBase = "http://updates.test/base/";

// ---- Texts

TEST(CheckRunTexts, PathsFromThirtyFiveCharactersShowTheirLastThirtySix) {
    const std::string p34 = "\\cstrike\\maps\\" + std::string(16, 'a') + ".bsp";
    const std::string p35 = "\\cstrike\\maps\\" + std::string(17, 'a') + ".bsp";
    const std::string p36 = "\\cstrike\\maps\\" + std::string(18, 'a') + ".bsp";
    ASSERT_EQ(p34.size(), 34u);
    ASSERT_EQ(p35.size(), 35u);
    EXPECT_FALSE(IsLongStatusPath(p34));
    EXPECT_TRUE(IsLongStatusPath(p35));
    EXPECT_EQ(CheckingFileText(p34, p34, UiRussian), "Проверяется файл: " + p34);
    EXPECT_EQ(CheckingFileText(p35, p35, UiRussian), "Проверяется файл: ..." + p35) << "35 shows whole";
    EXPECT_EQ(CheckingFileText(p36, p36, UiRussian), "Проверяется файл: ..." + p36) << "36 is the last 36";
    const std::string p40 = "\\abcd" + p35;
    EXPECT_EQ(CheckingFileText(p40, p40, UiEnglish), "Checks file: ..." + p40.substr(4));
    // Characters, not bytes: 35 Cyrillic letters are long, 34 are not.
    const std::string cyr34 = "\\" + [] { std::string s; for (int i = 0; i < 33; ++i) s += "ж"; return s; }();
    EXPECT_FALSE(IsLongStatusPath(cyr34));
    EXPECT_TRUE(IsLongStatusPath(cyr34 + "ж"));
}

TEST(CheckRunTexts, EnglishShowsShortPathsInLowerCaseRussianKeepsTheirCase) {
    const std::string path = "\\CStrike\\Игрок.CFG";
    const std::string lowered = LowerCaseText(path);
    EXPECT_EQ(lowered, "\\cstrike\\игрок.cfg");
    EXPECT_EQ(CheckingFileText(path, lowered, UiEnglish), "Checks file: \\cstrike\\игрок.cfg");
    EXPECT_EQ(CheckingFileText(path, lowered, UiRussian), "Проверяется файл: \\CStrike\\Игрок.CFG");
    // A long path keeps its case in both languages.
    const std::string longPath = "\\CSTRIKE\\MAPS\\DE_DUST2_REMAKE_FINAL.BSP";
    EXPECT_EQ(CheckingFileText(longPath, LowerCaseText(longPath), UiEnglish),
              "Checks file: ..." + longPath.substr(longPath.size() - 36));
    EXPECT_EQ(LowerCaseText("ЁЛКА ÀÉ×"), "ёлка àé×");
}

TEST(CheckRunTexts, TheThreeRussianCounterSpellingsAndOneEnglish) {
    EXPECT_EQ(CountersText(CountersMoment::BeforeLongPath, "12", 3, 1, UiRussian),
              "Всего/Проверено/Выкачено файлов: 12 / 3 / 1");
    EXPECT_EQ(CountersText(CountersMoment::AfterFile, "12", 4, 1, UiRussian),
              "Всего/Проверено/Загружено файлов: 12 / 4 / 1");
    EXPECT_EQ(CountersText(CountersMoment::AtEnd, "12", 12, 2, UiRussian),
              "Всего/Проверено/Загруженно файлов: 12 / 12 / 2");
    for (const CountersMoment m : {CountersMoment::BeforeLongPath, CountersMoment::AfterFile, CountersMoment::AtEnd})
        EXPECT_EQ(CountersText(m, "x", -1, 0, UiEnglish), "Total/Checked/Downloaded files: x / -1 / 0");
}

TEST(CheckRunTexts, OverallWidthFollowsTheTotalAndStaysFullWithoutOne) {
    EXPECT_EQ(OverallProgressWidth(3, 1), 139);
    EXPECT_EQ(OverallProgressWidth(3, 3), 417);
    EXPECT_EQ(OverallProgressWidth(1000, 1), 0);
    EXPECT_EQ(OverallProgressWidth(2, 3), 625) << "a total below the count makes it wider than full";
    EXPECT_EQ(OverallProgressWidth(0, 5), 417) << "no total: no division, the image stays full";
    EXPECT_EQ(OverallProgressWidth(-4, 5), 417);
    EXPECT_EQ(OverallProgressWidth(1, 2147483647), 32767) << "cut where the conversion would overflow";
}

TEST(CheckRunTexts, RefusedPathsAreListedAndALongListIsCut) {
    std::vector<std::string> paths;
    for (int i = 0; i < 12; ++i) paths.push_back("\\..\\f" + std::to_string(i));
    const std::string english = RefusedPathsText(paths, UiEnglish);
    EXPECT_NE(english.find("\\..\\f0\n\\..\\f1\n"), std::string::npos);
    EXPECT_NE(english.find("\\..\\f9\n... and 2 more"), std::string::npos);
    EXPECT_EQ(english.find("\\..\\f10"), std::string::npos);
    EXPECT_NE(RefusedPathsText({"C:\\x"}, UiRussian).find("пропущены"), std::string::npos);
    // A path is shown by its first bytes, never cut inside a character.
    const std::string huge = "\\" + std::string(RefusedPathShownBytes - 2, 'a') + "жжж" + std::string(1u << 20, 'b');
    const std::string shown = RefusedPathsText({huge, "\\..\\x"}, UiEnglish);
    EXPECT_LT(shown.size(), 2 * RefusedPathShownBytes);
    EXPECT_NE(shown.find("\\" + std::string(RefusedPathShownBytes - 2, 'a') + "...\n\\..\\x"), std::string::npos);
    const std::string exact(RefusedPathShownBytes, 'c');
    EXPECT_NE(RefusedPathsText({exact, "\\y"}, UiEnglish).find(exact + "\n"), std::string::npos) << "shown whole";
}

// ---- The platform's paths

TEST(CheckRunPlatformPaths, EveryFileServiceGetsTheExtendedFormOfALongPath) {
    std::vector<std::string> seen;
    CheckRunPlatform plain;
    plain.downloadFile = [&](const std::string& url, const std::string& path) {
        seen.insert(seen.end(), {url, path});
        return true;
    };
    plain.unpackChecklist = plain.replaceFile = [&](const std::string& a, const std::string& b) {
        seen.insert(seen.end(), {a, b});
        return true;
    };
    plain.removeFile = plain.engine.removeFile = [&](const std::string& path) {
        seen.push_back(path);
        return true;
    };
    plain.makeNormal = plain.createEmptyFile = plain.createFolder = [&](const std::string& path) {
        seen.push_back(path);
    };
    plain.engine.listFolder = [&](const std::string& path) {
        seen.push_back(path);
        return std::vector<FolderEntry>{};
    };
    plain.openChecklist = [&](const std::string& path, const AnsiTextDecoder& decode) {
        seen.push_back(path);
        return ChecklistReader(std::string(), decode);
    };
    const CheckRunPlatform wrapped = WithExtendedLengthPaths(plain);

    // A place short enough, whose download and temporary names beside it are not.
    const std::string place = "C:\\games\\" + std::string(PlainPathLimit - 12, 'p');
    const std::string url = "http://updates.test/" + std::string(300, 'u');
    const std::string download = DownloadTargetPath(place), temporary = UnpackTemporaryPath(place);
    const auto extended = [](const std::string& path) { return "\\\\?\\" + path; };
    wrapped.downloadFile(url, download);
    wrapped.unpackChecklist(download, temporary);
    wrapped.replaceFile(temporary, place);
    wrapped.removeFile(download);
    wrapped.engine.removeFile(temporary);
    wrapped.engine.listFolder(temporary);
    wrapped.makeNormal(download);
    wrapped.createEmptyFile(temporary);
    wrapped.createFolder(temporary);
    wrapped.openChecklist(download, CodePage::Windows1251);
    const std::string d = extended(download), t = extended(temporary);
    EXPECT_EQ(seen, (std::vector<std::string>{url, d, d, t, t, place, d, t, t, d, t, t, d}))
        << "addresses stay as they are; a path below the limit too";
    // The engine's own file calls take the place in the form the run gives it.
    EXPECT_EQ(wrapped.filePath(download), d);

    // Unset services stay unset, and the checklist is still opened.
    const CheckRunPlatform bare = WithExtendedLengthPaths(CheckRunPlatform{});
    EXPECT_FALSE(bare.removeFile);
    EXPECT_FALSE(bare.replaceFile);
    EXPECT_TRUE(bare.openChecklist);
}

TEST(CheckRunPlatformPaths, EveryAttributeIsClearedNotOnlyThoseInTheWayOfAWrite) {
    // The values of FILE_ATTRIBUTE_*.
    const struct {
        const char* name;
        uint32_t attributes;
        bool clear;
    } cases[] = {
        {"none (normal)", 0x80, false},         {"archive alone", 0x20, false},
        {"not content indexed", 0x2000, true},  {"archive, hidden", 0x22, true},
        {"read-only", 0x01, true},              {"system", 0x04, true},
        {"temporary", 0x100, true},             {"offline", 0x1000, true},
        {"could not be asked", 0xFFFFFFFFu, true},
    };
    for (const auto& c : cases) EXPECT_EQ(HasAttributesToClear(c.attributes), c.clear) << c.name;
}

// ---- The run

class RecordingView final : public CheckRunView {
public:
    void SetStatus(const std::string& text) override {
        statuses.push_back(text);
        log.push_back("S:" + text + "@" + std::to_string(overallPosition));
        if (onStatus) onStatus(text);
    }
    void SetCounters(const std::string& text) override {
        counters.push_back(text);
        log.push_back("C:" + text);
    }
    void ResetOverall(int max) override {
        overallMax = max;
        overallPosition = 0;
    }
    int OverallPosition() const override { return overallPosition; }
    void SetOverallPosition(int position) override { overallPosition = position; }
    void SetOverallWidth(int pixels) override { widths.push_back(pixels); }
    void SetFileMax(int max) override { fileMax = max; }
    void FillFileProgress() override { ++fills; }
    void BringToFront() override { ++fronts; }
    void RequestClose() override { ++closeRequests; }
    void Stop() override {
        StopFlag = 1;
        ++stops;
    }

    std::function<void(const std::string&)> onStatus;
    std::vector<std::string> statuses, counters;
    std::vector<std::string> log;  // both lines in order; a status with the overall position
    std::vector<int> widths;
    int overallMax = -1, overallPosition = -1, fileMax = -1, fills = 0, fronts = 0, closeRequests = 0, stops = 0;
};

std::string Crc(const std::string& bytes) { return Crc32Text(Crc32Of(bytes)); }

std::string Native(std::string path) {
#ifndef _WIN32
    for (char& c : path)
        if (c == '\\') c = '/';
#endif
    return path;
}

class CheckRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = {AppName, ServerBaseVersion, ServerBuildVersion, LocalBaseVersion, LocalBuildVersion};
        savedStop_ = StopFlag;
        CreateLzmaAloneInstance();
        game_ = dir_.File("game");
        CreateDirectories(game_);
        CreateDirectories(Build(""));
        GameFolder = game_;
        UiLanguage = UiRussian;
        AppName = "css";
        ServerBaseVersion = "5";
        ServerBuildVersion = "77";
        StopFlag = 0;

        files_ = {
            {"hl2.exe", test::MakeData(70000, 1, false)},
            {"cstrike\\maps\\de_dust2.bsp", test::MakeData(200000, 2, true)},
            {"cstrike\\cfg\\autoexec.cfg", "bind w +forward\r\n"},
            {"cstrike\\cfg\\empty.cfg", ""},
            {"cstrike\\new\\deeper\\inner.txt", "nested"},
        };
        for (const auto& [name, bytes] : files_) PutBuild(name, bytes);
        Publish();

        platform_ = PortableCheckRunPlatform();
        platform_.serverBase = kBase;
        platform_.catalogueCodec = CodePageCodec(CodePage::Windows1251);
        platform_.checklistPage = CodePage::Windows1251;
        platform_.setCurrentFolder = [this](const std::string& folder) { currentFolder = folder; };
        platform_.downloadFile = [this](const std::string& url, const std::string& path) { return Fetch(url, path); };
        platform_.engine.newFetcher = [this] { return std::make_unique<LocalFetcher>(*this); };
        // The test waits on the run's thread, between the run's own steps.
        previousPump_ = SetEventPump(&CheckRunTest::Pump);
        current_ = this;
        platform_.replaceFile = [](const std::string& from, const std::string& to) {
            std::error_code error;
            if (fs::is_directory(test::FsPath(to))) return false;
            fs::remove(test::FsPath(to), error);
            fs::rename(test::FsPath(from), test::FsPath(to), error);
            return !error;
        };
        platform_.makeNormal = [](const std::string& path) {
            if (FileExists(path)) test::SetReadOnly(path, false);
        };
        platform_.createFolder = [](const std::string& path) {
            std::error_code error;
            fs::create_directory(test::FsPath(path), error);
        };
    }
    void TearDown() override {
        SetEventPump(previousPump_);
        current_ = nullptr;
        std::tie(AppName, ServerBaseVersion, ServerBuildVersion, LocalBaseVersion, LocalBuildVersion) = saved_;
        StopFlag = savedStop_;
    }

    // The update server as a folder: a download copies the file its address names. It runs on the
    // engine's download thread; what the test asks of it happens on the run's thread (Pump).
    class LocalFetcher final : public Fetcher {
    public:
        explicit LocalFetcher(CheckRunTest& test) : test_(test) {}
        FetchResult Get(const std::string& url, const std::string& path, const std::atomic<bool>& stop,
                        const FetchProgress&) override {
            FetchResult result;
            {
                std::lock_guard lock(test_.mutex_);
                test_.downloads.push_back(url);
            }
            if (test_.duringDownload) {
                // Held until the run stops it, as a transfer the player stops midway.
                test_.fetchStarted_ = true;
                for (int i = 0; i < 5000 && !stop; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            if (stop) {
                result.stopped = true;
                return result;
            }
            result.ok = test_.Fetch(test_.sourceFor ? test_.sourceFor(url) : url, path);
            if (!result.ok) result.failed = FetchStep::Request;
            else result.status = 200;
            return result;
        }
        FetchResult Head(const std::string&) override { return FetchResult{}; }

    private:
        CheckRunTest& test_;
    };
    static void Pump() {
        CheckRunTest* test = current_;
        if (test && test->fetchStarted_ && test->duringDownload) {
            test->fetchStarted_ = false;
            test->duringDownload();
        }
    }
    // No file that the run unpacks beside its files is left anywhere in the game folder.
    void ExpectNoUnpackLeft() {
        for (const auto& item : fs::recursive_directory_iterator(test::FsPath(Native(game_)))) {
            const std::string name = item.path().filename().string();
            EXPECT_FALSE(name.ends_with(".orvanta-unpack")) << name;
            EXPECT_FALSE(name.ends_with(".lzma")) << name;
        }
    }

    std::string Build(const std::string& relative) const { return dir_.File("build") + (relative.empty() ? "" : "\\" + relative); }
    std::string Root() const { return dir_.File("www"); }
    std::string Game(const std::string& relative) const { return game_ + "\\" + relative; }
    void PutBuild(const std::string& relative, const std::string& bytes) {
        const std::string path = Build(relative);
        CreateDirectories(path.substr(0, path.find_last_of('\\')));
        WriteFile(path, bytes);
    }
    void PutGame(const std::string& relative, const std::string& bytes) {
        const std::string path = Game(relative);
        CreateDirectories(path.substr(0, path.find_last_of('\\')));
        WriteFile(path, bytes);
    }

    void Publish() {
        publish::PublishOptions o;
        o.buildDir = Build("");
        o.serverRoot = Root();
        o.serverBase = kBase;
        o.gameName = "Counter-Strike";
        o.buildName = "v77";
        o.checklistName = "css77";
        o.downloadPath = "cstrike/builds/v77";
        o.appName = "css";
        o.jobs = 1;
        publish::Publish(o, [](const std::string&) {});
        WriteFile(Game("inf.ini"), ReadFile(Server(CataloguePath())));
    }
    // A server address's file in the server folder.
    std::string Server(const std::string& relative) const { return Root() + "\\" + relative; }
    bool Fetch(const std::string& url, const std::string& path) {
        const std::string base = kBase;
        if (url.rfind(base, 0) != 0) return false;
        const std::string source = Server(url.substr(base.size()));
        if (!Exists(Native(source))) return false;
        WriteFile(path, ReadFile(Native(source)));
        return true;
    }
    std::string ServerFile(const std::string& entryPath) const {
        return Server(GameFileUrl("cstrike/builds/v77", entryPath));
    }
    void ReplaceChecklist(const std::string& dim) {
        const std::string plain = dir_.File("plain.dim");
        WriteFile(plain, dim);
        ASSERT_TRUE(TLZMAAlone().Main(plain, Native(Server(ChecklistPath("css77"))), "e"));
    }

    CheckRunResult Run() { return RunCheck(CheckRunRequest{}, view, platform_); }
    void ExpectGameMatchesBuild() {
        for (const auto& [name, bytes] : files_) {
            ASSERT_TRUE(Exists(Native(Game(name)))) << name;
            EXPECT_TRUE(ReadFile(Native(Game(name))) == bytes) << name;
        }
    }
    std::vector<std::string> Messages() const { return state_.messages; }

    test::ProcessStateGuard state_;
    test::TempDir dir_;
    std::string game_;
    std::map<std::string, std::string> files_;
    CheckRunPlatform platform_;
    RecordingView view;
    std::string currentFolder;
    std::mutex mutex_;
    std::vector<std::string> downloads;
    std::function<void()> duringDownload;
    std::function<std::string(const std::string& url)> sourceFor;
    std::atomic<bool> fetchStarted_{false};
    EventPump previousPump_ = nullptr;
    static inline CheckRunTest* current_ = nullptr;

private:
    std::tuple<std::string, std::string, std::string, std::string, std::string> saved_;
    int32_t savedStop_ = 1;
};

TEST_F(CheckRunTest, RepairsEveryKindOfDifferenceAndRecordsTheVersion) {
    // Missing: hl2.exe and the nested folders. Wrong size, wrong CRC at the right size, a good
    // read-only file, and an empty-file entry over a file with content.
    PutGame("cstrike\\maps\\de_dust2.bsp", "short");
    std::string sameSize = files_["cstrike\\cfg\\autoexec.cfg"];
    sameSize[0] = 'B';
    PutGame("cstrike\\cfg\\autoexec.cfg", sameSize);
    PutGame("cstrike\\cfg\\empty.cfg", "not empty");
    PutGame("cstrike\\cfg\\mine.cfg", "the player's own");
    WriteFile(Game("hl2.exe"), files_["hl2.exe"]);
    test::SetReadOnly(Game("hl2.exe"), true);

    const CheckRunResult result = Run();

    ExpectGameMatchesBuild();
    EXPECT_EQ(ReadFile(Game("cstrike\\cfg\\mine.cfg")), "the player's own") << "unlisted files stay";
    EXPECT_TRUE(result.completed);
    EXPECT_TRUE(result.versionRecorded);
    EXPECT_EQ(result.checked, 5);
    EXPECT_EQ(result.downloaded, 3) << "missing nested file, wrong size, wrong CRC";
    EXPECT_EQ(downloads.size(), 3u);
    EXPECT_EQ(Messages(), std::vector<std::string>{"Проверка файлов прошла успешно"});
    EXPECT_EQ(ReadLauncherSetting("cssClientVersion", "BaseVersion", ""), "5");
    EXPECT_EQ(ReadLauncherSetting("cssClientVersion", "BuildVersion", ""), "77");
    EXPECT_EQ(LocalBaseVersion, "5");
    EXPECT_EQ(LocalBuildVersion, "77");
    EXPECT_EQ(currentFolder, game_);
    // The good read-only file was only made writable.
    EXPECT_NE(fs::status(test::FsPath(Game("hl2.exe"))).permissions() & fs::perms::owner_write, fs::perms::none);
    EXPECT_EQ(StopFlag, 1) << "the run ends through the stop procedure";
    EXPECT_EQ(view.stops, 1);
    EXPECT_EQ(view.overallMax, 5);
    EXPECT_EQ(view.overallPosition, 5);
    EXPECT_EQ(view.widths.back(), 417);
    EXPECT_EQ(view.counters.back(), "Всего/Проверено/Загруженно файлов: 5 / 5 / 3");
    EXPECT_EQ(view.statuses.front(), "Выкачиваем cheklist");
    EXPECT_EQ(view.statuses[1], "Проверяется файл: ");
    EXPECT_EQ(view.fronts, 1);
    EXPECT_EQ(view.closeRequests, 0);
    // Nothing of the run is left behind: checklists, downloads, unpack names.
    for (const char* left : {"css77.dim", "css77.dim.lzma", "hl2.exe.lzma", "cstrike\\maps\\de_dust2.bsp.lzma"})
        EXPECT_FALSE(Exists(Native(Game(left)))) << left;
    ExpectNoUnpackLeft();
    // A second run finds everything good and downloads nothing.
    downloads.clear();
    StopFlag = 0;
    view = RecordingView{};
    EXPECT_EQ(Run().downloaded, 0);
    EXPECT_TRUE(downloads.empty());
}

TEST_F(CheckRunTest, LeftoversOfACutOffRepairBesideListedFilesGo) {
    for (const auto& [name, bytes] : files_) PutGame(name, bytes);
    PutGame("cstrike\\maps\\de_dust2.bsp", "damaged");
    // A good file and a damaged one, each with what a killed run left: a partial download and
    // unpacked content that never took the file's place; and the same beside a file not listed.
    const std::vector<std::string> listedLeftovers = {"hl2.exe.lzma", "hl2.exe.orvanta-unpack",
                                                      "cstrike\\maps\\de_dust2.bsp.lzma",
                                                      "cstrike\\maps\\de_dust2.bsp.orvanta-unpack"};
    for (const std::string& name : listedLeftovers) PutGame(name, "left by a killed run");
    // The killed run's unpacked checklist tells that it did not end.
    PutGame("css77.dim", "left by a killed run");
    PutGame("cstrike\\cfg\\mine.cfg.orvanta-unpack", "not beside a listed file");
    // A leftover is removed where there is one, found by one listing of each folder: asking for
    // what is not there costs a round trip to the file system for every listed file.
    std::map<std::string, int> listings;
    std::mutex seen;
    platform_.engine.listFolder = [&, list = platform_.engine.listFolder](const std::string& folder) {
        {
            std::lock_guard lock(seen);
            ++listings[folder];
        }
        return list(folder);
    };
    std::vector<std::string> removedMissing;
    const auto remover = [&](std::function<bool(const std::string&)> remove) {
        return [&, remove](const std::string& path) {
            if (!FileExists(path)) {
                std::lock_guard lock(seen);
                removedMissing.push_back(path);
            }
            return remove(path);
        };
    };
    platform_.removeFile = remover(platform_.removeFile);
    platform_.engine.removeFile = remover(platform_.engine.removeFile);

    const CheckRunResult result = Run();

    EXPECT_TRUE(result.completed);
    ExpectGameMatchesBuild();
    for (const std::string& name : listedLeftovers) EXPECT_FALSE(Exists(Native(Game(name)))) << name;
    EXPECT_EQ(ReadFile(Native(Game("cstrike\\cfg\\mine.cfg.orvanta-unpack"))), "not beside a listed file");
    EXPECT_EQ(downloads.size(), 1u) << "only the damaged file; a leftover is no download of this run";
    // Only the run's own clean-up of its downloads, which may be gone already, asks for more.
    for (const std::string& path : removedMissing)
        EXPECT_TRUE(path.ends_with("css77.dim.lzma") || path.ends_with("de_dust2.bsp.lzma")) << path;
    EXPECT_FALSE(listings.empty());
    for (const auto& [folder, times] : listings) {
        // The game folder once more, first, for the checklist that tells of the killed run.
        EXPECT_EQ(times, folder == game_ ? 2 : 1) << folder << ": listed once, not per file";
    }
}

TEST_F(CheckRunTest, AfterRunsThatAllEndedNoFolderIsListedForLeftovers) {
    for (const auto& [name, bytes] : files_) PutGame(name, bytes);
    PutGame("cstrike\\maps\\de_dust2.bsp", "damaged");
    std::vector<std::string> listed;
    std::mutex seen;
    platform_.engine.listFolder = [&, list = platform_.engine.listFolder](const std::string& folder) {
        {
            std::lock_guard lock(seen);
            listed.push_back(folder);
        }
        return list(folder);
    };
    const CheckRunResult result = Run();
    EXPECT_TRUE(result.completed);
    ExpectGameMatchesBuild();
    EXPECT_EQ(listed, std::vector<std::string>{game_}) << "only the game folder, for a checklist left behind";
    EXPECT_FALSE(Exists(Native(Game("css77.dim"))));
}

TEST_F(CheckRunTest, TheGameFolderEntryAndNamesEndingInDotsOrBlanksCompleteTheRun) {
    const std::string cfg = files_["cstrike\\cfg\\autoexec.cfg"];
    const std::string listed = "\\cstrike \\cfg.\\autoexec.cfg.";
    // Fetched by its listed name, from a server that keeps it so (a Windows folder cannot: the test
    // serves it from the file published under the plain name).
    sourceFor = [](const std::string&) {
        return std::string(kBase) + GameFileUrl("cstrike/builds/v77", "\\cstrike\\cfg\\autoexec.cfg");
    };
    ReplaceChecklist("0\r\n\\.\r\n0\r\n0\r\n\\cstrike \\.\r\n0\r\n0\r\n\\cstrike \\cfg.\\.\r\n0\r\n" +
                     std::to_string(cfg.size()) + "\r\n" + listed + "\r\n" + Crc(cfg) + "\r\n0\r\n\\empty. \r\n0");

    const CheckRunResult result = Run();

    EXPECT_TRUE(result.refusedPaths.empty());
    EXPECT_TRUE(result.completed);
    EXPECT_TRUE(result.versionRecorded) << "the installed version is recorded, so the question is not asked again";
    EXPECT_EQ(ReadLauncherSetting("cssClientVersion", "BuildVersion", ""), "77");
    EXPECT_EQ(ReadFile(Native(Game("cstrike\\cfg\\autoexec.cfg"))), cfg) << "under the name Windows keeps";
    EXPECT_TRUE(Exists(Native(Game("empty"))));
    std::vector<std::string> top;
    for (const auto& item : fs::directory_iterator(test::FsPath(Native(game_)))) top.push_back(item.path().filename().string());
    EXPECT_NE(std::find(top.begin(), top.end(), "cstrike"), top.end());
    EXPECT_EQ(std::find(top.begin(), top.end(), "cstrike "), top.end()) << "no folder under the listed name";
    EXPECT_EQ(result.checked, 2) << "the game folder entry and the folders are not counted";
    ASSERT_EQ(downloads.size(), 1u);
    EXPECT_NE(downloads[0].find("autoexec.cfg..lzma"), std::string::npos) << "fetched by its listed name";
}

TEST_F(CheckRunTest, LongPathsRefreshTheCountersWithOneEntryFewerFirst) {
    PutBuild("cstrike\\materials\\models\\weapons\\v_rif_ak47.vmt", "ak");
    files_["cstrike\\materials\\models\\weapons\\v_rif_ak47.vmt"] = "ak";
    Publish();
    UiLanguage = UiEnglish;
    Run();
    const std::string longPath = "\\cstrike\\materials\\models\\weapons\\v_rif_ak47.vmt";
    const std::string longStatus = "Checks file: ..." + longPath.substr(longPath.size() - 36);
    const auto at = std::find_if(view.log.begin(), view.log.end(),
                                 [&](const std::string& line) { return line.rfind("S:" + longStatus + "@", 0) == 0; });
    ASSERT_NE(at, view.log.end());
    ASSERT_NE(at + 1, view.log.end());
    // Right after it the counters show the entries done so far less one.
    const int done = std::stoi(at->substr(at->rfind('@') + 1));
    EXPECT_EQ((at + 1)->rfind("C:Total/Checked/Downloaded files: 6 / " + std::to_string(done - 1) + " / ", 0), 0u)
        << *(at + 1);
    EXPECT_EQ(view.counters.back(), "Total/Checked/Downloaded files: 6 / 6 / 5");
}

TEST_F(CheckRunTest, StopDuringAChecksumLeavesTheGoodFileAndShowsNoSuccess) {
    for (const auto& [name, bytes] : files_) PutGame(name, bytes);
    const std::string big = files_["cstrike\\maps\\de_dust2.bsp"];
    view.onStatus = [](const std::string& text) {
        // The player presses Stop while the large file is being summed.
        if (text.find("de_dust2") != std::string::npos) StopFlag = 1;
    };
    const CheckRunResult result = Run();
    EXPECT_FALSE(result.completed);
    EXPECT_EQ(result.downloaded, 1) << "the stopped transfer counts";
    EXPECT_TRUE(ReadFile(Game("cstrike\\maps\\de_dust2.bsp")) == big);
    ExpectGameMatchesBuild();
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(ReadLauncherSetting("cssClientVersion", "BaseVersion", "none"), "none");
    ExpectNoUnpackLeft();
}

TEST_F(CheckRunTest, StopDuringADownloadUnpacksNothing) {
    duringDownload = [] { StopFlag = 1; };
    const CheckRunResult result = Run();
    EXPECT_EQ(result.downloaded, 1);
    for (const auto& [name, bytes] : files_) EXPECT_FALSE(Exists(Native(Game(name)))) << name << ": nothing put in place";
    ExpectNoUnpackLeft();
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(view.stops, 1);
}

class UnpackQuestionTest : public CheckRunTest {
protected:
    // The server's hl2.exe is an error page instead of its ".lzma"; the player has a copy.
    void Break(MsgResult answer) {
        WriteFile(Native(ServerFile("\\hl2.exe")), "<html><body>502 Bad Gateway</body></html>");
        PutGame("hl2.exe", "the old copy");
        answers_.emplace(answer);
    }
    void TearDown() override {
        answers_.reset();
        CheckRunTest::TearDown();
    }
    const std::vector<MessageRequest>& Seen() const { return answers_->seen; }
    std::vector<std::string> Texts() const { return answers_->Texts(); }
    std::optional<test::QuestionAnswers> answers_;
};

TEST_F(UnpackQuestionTest, AbortStopsTheRunAndKeepsTheOldFile) {
    Break(MsgResult::Abort);
    const CheckRunResult result = Run();
    ASSERT_EQ(Seen().size(), 1u);
    EXPECT_EQ(Seen()[0].text, "Error while unpacking the file, what should I do ??");
    EXPECT_EQ(Seen()[0].caption, "Think please :)");
    EXPECT_EQ(Seen()[0].flags, mb::AbortRetryIgnore | mb::IconError);
    EXPECT_FALSE(result.completed);
    EXPECT_EQ(ReadFile(Game("hl2.exe")), "the old copy");
    EXPECT_FALSE(Exists(Native(Game("hl2.exe.lzma"))));
    EXPECT_FALSE(Exists(Native(UnpackTemporaryPath(Game("hl2.exe")))));
    EXPECT_EQ(view.stops, 2) << "Abort, then the run's own end";
    EXPECT_EQ(ReadLauncherSetting("cssClientVersion", "BaseVersion", "none"), "none");
}

#ifndef _WIN32
// The disk fills up in the middle of a repair: the download fits, its unpacked content does not.
// The file being repaired and every good file keep their bytes, the failure is asked about as any
// failed unpack, no part file stays, and a run once there is space again repairs the game.
TEST_F(UnpackQuestionTest, ADiskFullMidRepairKeepsEveryFileAndALaterRunCompletes) {
    test::SmallDisk disk(Native(game_), 8u << 20);
    if (!disk.Mounted()) GTEST_SKIP() << disk.WhyNot();
    WriteFile(Game("inf.ini"), ReadFile(Server(CataloguePath())));
    for (const auto& [name, bytes] : files_) PutGame(name, bytes);
    const std::string damaged(files_["cstrike\\maps\\de_dust2.bsp"].size(), 'x');
    PutGame("cstrike\\maps\\de_dust2.bsp", damaged);
    const auto packed = fs::file_size(test::FsPath(Native(ServerFile("\\cstrike\\maps\\de_dust2.bsp"))));
    ASSERT_LT(packed + (64u << 10), damaged.size()) << "the case needs a download smaller than its content";
    disk.Fill(packed + (64u << 10));
    answers_.emplace(MsgResult::Abort);

    const CheckRunResult full = Run();
    EXPECT_FALSE(full.completed);
    ASSERT_EQ(Seen().size(), 1u);
    EXPECT_EQ(Seen()[0].flags, mb::AbortRetryIgnore | mb::IconError);
    for (const auto& [name, bytes] : files_) {
        const std::string expected = name == "cstrike\\maps\\de_dust2.bsp" ? damaged : bytes;
        EXPECT_TRUE(ReadFile(Native(Game(name))) == expected) << name << ": bytes lost on the full disk";
    }
    EXPECT_FALSE(Exists(Native(UnpackTemporaryPath(Game("cstrike\\maps\\de_dust2.bsp")))));
    EXPECT_FALSE(Exists(Native(Game("cstrike\\maps\\de_dust2.bsp.lzma"))));

    disk.Empty();
    answers_.emplace(MsgResult::Abort);
    StopFlag = 0;
    const CheckRunResult later = Run();
    EXPECT_TRUE(later.completed);
    for (const MessageRequest& box : Seen()) EXPECT_NE(box.flags, mb::AbortRetryIgnore | mb::IconError) << box.text;
    ExpectGameMatchesBuild();
}
#endif

TEST_F(UnpackQuestionTest, RetrySaysSkippedAndGoesOnWithoutCountingIt) {
    Break(MsgResult::Retry);
    UiLanguage = UiEnglish;
    const CheckRunResult result = Run();
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Error while unpacking the file, what should I do ??",
                                                 "Retry Error! Skipped.", "File checker was successful"}));
    EXPECT_EQ(ReadFile(Game("hl2.exe")), "the old copy");
    EXPECT_EQ(result.checked, 4);
    EXPECT_EQ(result.downloaded, 4);
    EXPECT_EQ(view.counters.back(), "Total/Checked/Downloaded files: 5 / 4 / 4");
}

TEST_F(UnpackQuestionTest, IgnoreGoesOnAndATruncatedStreamIsRefusedTheSameWay) {
    Break(MsgResult::Ignore);
    const std::string good = ReadFile(Native(ServerFile("\\cstrike\\maps\\de_dust2.bsp")));
    WriteFile(Native(ServerFile("\\cstrike\\maps\\de_dust2.bsp")), good.substr(0, good.size() / 2));
    PutGame("cstrike\\maps\\de_dust2.bsp", "old map");
    const CheckRunResult result = Run();
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Error while unpacking the file, what should I do ??",
                                                 "Error while unpacking the file, what should I do ??",
                                                 "Проверка файлов прошла успешно"}));
    EXPECT_EQ(ReadFile(Game("hl2.exe")), "the old copy");
    EXPECT_EQ(ReadFile(Game("cstrike\\maps\\de_dust2.bsp")), "old map") << "a cut stream never replaces the file";
    EXPECT_EQ(result.checked, 3);
}

TEST_F(CheckRunTest, AnUnreachableChecklistIsReportedTwiceThenTheMissingListEndsTheRun) {
    platform_.downloadFile = [](const std::string&, const std::string&) { return false; };
    EXPECT_THROW(Run(), EOSError);
    const std::string shown = "http://updates.test/base/cstrike/builds/v77/css77.dim.lzma";
    EXPECT_EQ(Messages(), (std::vector<std::string>{
                              "Ошибка загрузки " + shown + " видимо сервер недоступен, либо интернет не работает",
                              "Ошибка распаковки " + shown + " проверка остановлена."}));
    EXPECT_EQ(view.closeRequests, 1);
    EXPECT_EQ(view.stops, 1);
    EXPECT_TRUE(downloads.empty());
}

TEST_F(CheckRunTest, ACountThatIsNotANumberEndsTheRunWithTheConversionError) {
    std::string catalogue = ReadFile(Game("inf.ini"));
    const size_t at = catalogue.find("kolf1=");
    ASSERT_NE(at, std::string::npos);
    catalogue.replace(at, catalogue.find_first_of("\r\n", at) - at, "kolf1=5x");
    WriteFile(Game("inf.ini"), catalogue);
    try {
        Run();
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "'5x' is not a valid integer value");
    }
    EXPECT_TRUE(Exists(Native(Game("css77.dim")))) << "the checklist of a run that ended early stays";
}

TEST_F(CheckRunTest, WithoutACountTheOverallImageStaysFull) {
    std::string catalogue = ReadFile(Game("inf.ini"));
    const size_t at = catalogue.find("kolf1=");
    catalogue.erase(at, catalogue.find('\n', at) + 1 - at);
    WriteFile(Game("inf.ini"), catalogue);
    const CheckRunResult result = Run();
    EXPECT_EQ(result.checked, 5);
    EXPECT_EQ(view.overallMax, 0);
    EXPECT_EQ(view.widths, std::vector<int>(5, 417));
    EXPECT_EQ(view.counters.back(), "Всего/Проверено/Загруженно файлов: 0 / 0 / 4");
}

TEST_F(CheckRunTest, EntriesThatLeaveTheGameFolderAreRefusedAndTheRestIsRepaired) {
    const std::string inner = files_["cstrike\\cfg\\autoexec.cfg"];
    // Files the hostile entries would name, had they been followed: the server holds them too.
    const std::vector<std::string> hostile = {"\\..\\escaped.txt", "\\cstrike\\..\\..\\escaped2.txt",
                                              "C:\\escaped3.txt", "\\\\server\\share\\x.txt",
                                              "\\hl2.exe:stream", "/etc/escaped4.txt", "\\..\\."};
    std::string dim;
    for (const std::string& path : hostile) {
        dim += std::to_string(inner.size()) + "\r\n" + path + "\r\n" + Crc(inner) + "\r\n";
    }
    dim += "0\r\n\\..\\emptied.txt\r\n0\r\n";
    dim += "0\r\n\\cstrike\\.\r\n0\r\n0\r\n\\cstrike\\cfg\\.\r\n0\r\n";
    dim += std::to_string(inner.size()) + "\r\n\\cstrike\\cfg\\autoexec.cfg\r\n" + Crc(inner);
    ReplaceChecklist(dim);
    WriteFile(dir_.File("emptied.txt"), "keep me");

    const auto outside = [&] {
        std::vector<std::string> all;
        const fs::path top = test::FsPath(dir_.Path());
        for (const auto& e : fs::recursive_directory_iterator(top)) {
            const std::string relative = fs::relative(e.path(), top).generic_string();
            if (relative.rfind("game", 0) != 0)
                all.push_back(relative + " " + (e.is_regular_file() ? std::to_string(e.file_size()) : "dir"));
        }
        return all;
    };
    const std::vector<std::string> before = outside();
    const CheckRunResult result = Run();

    EXPECT_EQ(outside(), before) << "nothing created or changed outside the game folder";
    EXPECT_EQ(ReadFile(dir_.File("emptied.txt")), "keep me");
    EXPECT_EQ(ReadFile(Game("cstrike\\cfg\\autoexec.cfg")), inner) << "the safe entries are repaired";
    EXPECT_EQ(result.refusedPaths.size(), hostile.size() + 1);
    EXPECT_EQ(result.checked, 1);
    EXPECT_FALSE(result.versionRecorded);
    ASSERT_EQ(Messages().size(), 1u) << "told once, instead of the success message";
    for (const std::string& path : hostile) EXPECT_NE(Messages()[0].find(path), std::string::npos) << path;
    EXPECT_EQ(ReadLauncherSetting("cssClientVersion", "BaseVersion", "none"), "none");
    EXPECT_EQ(downloads.size(), 1u) << "only the safe file is fetched";
}

TEST_F(CheckRunTest, AChecklistOfFoldersOnlyCreatesThemAndCountsNothing) {
    ReplaceChecklist("0\r\n\\a\\.\r\n0\r\n0\r\n\\a\\b\\.\r\n0\r\n0\r\n\\c\\d\\.\r\n0");
    const CheckRunResult result = Run();
    EXPECT_TRUE(DirectoryExists(Game("a\\b")));
    EXPECT_FALSE(DirectoryExists(Game("c"))) << "one level: a missing parent is not made";
    EXPECT_EQ(result.checked, 0);
    EXPECT_TRUE(view.widths.empty()) << "the overall image keeps its width";
    EXPECT_TRUE(result.completed);
}

TEST_F(CheckRunTest, ALargeFileThatDiffersIsBuiltFromTheChunksItLacks) {
    const std::string big = test::MakeData((4 << 20) + 5000, 51, false);
    PutBuild("cstrike\\pak01_dir.vpk", big);
    Publish();
    // The index, as a publisher in chunks writes it beside the checklist.
    const std::string plain = dir_.File("css77.dim");
    ASSERT_TRUE(TLZMAAlone().Main(Native(Server(ChecklistPath("css77"))), plain, "d"));
    ChecklistReader entries = ChecklistReader::Open(plain, CodePage::Windows1251);
    ChunkIndex index;
    for (uint64_t entry = 0; !entries.AtEnd(); ++entry)
        if (entries.Next().path == "\\cstrike\\pak01_dir.vpk") test::AddChunked(index, Native(Root()), entry, big);
    index.Seal();
    WriteFile(Native(Server(ChunkIndexPath("css77"))), ChunkIndexText(index));
    for (const auto& [name, bytes] : files_) PutGame(name, bytes);
    std::string damaged = big;
    damaged[3 << 20] ^= 1;
    PutGame("cstrike\\pak01_dir.vpk", damaged);

    const CheckRunResult result = Run();

    EXPECT_TRUE(ReadFile(Native(Game("cstrike\\pak01_dir.vpk"))) == big);
    EXPECT_TRUE(result.completed);
    EXPECT_EQ(result.downloaded, 1);
    ASSERT_GE(downloads.size(), 2u);
    EXPECT_EQ(downloads[0], ChunkIndexUrl("css77", kBase));
    for (size_t i = 1; i < downloads.size(); ++i) EXPECT_EQ(downloads[i].rfind(std::string(kBase) + "chunks/", 0), 0u) << downloads[i];
    EXPECT_LE(downloads.size(), 6u) << "one changed byte changes a chunk or two";
    EXPECT_FALSE(Exists(Native(Game("css77.dim.chunks"))));
    ExpectNoUnpackLeft();
}

}  // namespace
}  // namespace orv
