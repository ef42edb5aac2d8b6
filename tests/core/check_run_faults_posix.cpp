// The whole check-and-repair run against hostile checklists and against being killed: a build
// published into a local server folder, a game folder that differs from it, and the run over this
// machine's files (tests/support/local_check_platform_posix.h).
//
// - A checklist of a million entries and one with a 100 MB line are walked to the end in a child
//   process whose peak memory is measured: every entry is counted or refused, nothing crashes.
// - The run repairing a damaged file is killed at random moments (in the helper repairrun): the file
//   is always the old or the new complete content, and whatever a kill leaves beside it does not
//   keep a later run from completing with the folder as the build has it.
// - A body shorter or longer than its announced length never puts a cut stream in the file's place.
//
// ORVANTA_SAVE_KILLS sets the kills (scripts/faults runs a few hundred).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "game_profile.h"
#include "launcher/base/app_state.h"
#include "launcher/base/message_box.h"
#include "launcher/integrity/check_run.h"
#include "launcher/integrity/crc32.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/files.h"
#include "support/child_memory_posix.h"
#include "support/local_check_platform_posix.h"
#include "support/process_state.h"
#include "support/test_files.h"
#include "tools/publish.h"

// The codec's own encoder, for packing test checklists fast (its Types.h needs no <windows.h> here).
#include <LzmaEnc.h>

namespace orv {
namespace {

namespace fs = std::filesystem;
using test::SlashPath;

constexpr const char* kBase = "http://updates.test/base/";
constexpr const char* kMap = "cstrike\\maps\\de_dust2.bsp";

class CheckRunFaults : public ::testing::Test {
protected:
    void SetUp() override {
        game_ = dir_.File("game");
        fs::create_directories(game_);
        GameFolder = game_;
        UiLanguage = UiEnglish;
    }

    // Publishes `files` as build v77 (checklist css77) and gives the game folder its catalogue.
    void Publish(const std::map<std::string, std::string>& files) {
        files_ = files;
        for (const auto& [name, bytes] : files) {
            const fs::path path = fs::path(dir_.File("build")) / SlashPath(name);
            fs::create_directories(path.parent_path());
            test::WriteFile(path.string(), bytes);
        }
        publish::PublishOptions o;
        o.buildDir = dir_.File("build");
        o.serverRoot = Server();
        o.serverBase = kBase;
        o.gameName = "Counter-Strike";
        o.buildName = "v77";
        o.checklistName = "css77";
        o.downloadPath = "cstrike/builds/v77";
        o.appName = "css";
        o.jobs = 1;
        publish::Publish(o, [](const std::string&) {});
        test::WriteFile(Game("inf.ini"), test::ReadFile(Server() + "/" + CataloguePath()));
    }
    // Every build file in the game folder as the build has it.
    void LayOutBuild() {
        for (const auto& [name, bytes] : files_) PutGame(name, bytes);
    }
    void PutGame(const std::string& name, const std::string& bytes) {
        const fs::path path = fs::path(game_) / SlashPath(name);
        fs::create_directories(path.parent_path());
        test::WriteFile(path.string(), bytes);
    }
    // Puts `dim` on the server as the build's checklist: the same container as the publisher's, in
    // the codec's fast mode, which packs the million-entry list many times faster.
    void ServeChecklist(const std::string& dim) {
        static ISzAlloc alloc = {[](void*, size_t size) { return std::malloc(size); },
                                 [](void*, void* address) { std::free(address); }};
        CLzmaEncProps props;
        LzmaEncProps_Init(&props);
        props.level = 0;
        props.dictSize = 1u << 20;
        constexpr size_t kHeader = LZMA_PROPS_SIZE + 8;
        std::string packed(kHeader + dim.size() / 2 + (1u << 16), '\0');
        auto* out = reinterpret_cast<Byte*>(packed.data());
        SizeT packedSize = packed.size() - kHeader;
        SizeT propsSize = LZMA_PROPS_SIZE;
        ASSERT_EQ(LzmaEncode(out + kHeader, &packedSize, reinterpret_cast<const Byte*>(dim.data()), dim.size(), &props,
                             out, &propsSize, 0, nullptr, &alloc, &alloc),
                  SZ_OK);
        for (size_t i = 0; i < 8; ++i) out[LZMA_PROPS_SIZE + i] = static_cast<Byte>(uint64_t{dim.size()} >> (8 * i));
        packed.resize(kHeader + packedSize);
        test::WriteFile(Server() + "/" + ChecklistPath("css77"), packed);
    }
    std::string Server() const { return dir_.File("www"); }
    std::string Game(const std::string& name) const { return (fs::path(game_) / SlashPath(name)).string(); }

    test::ProcessStateGuard state_;
    test::TempDir dir_;
    std::string game_;
    std::map<std::string, std::string> files_;
};

// ---- Hostile checklists through the whole run

struct RunFigures {
    bool ended = false;  // RunCheck returned
    bool raised = false;
    bool completed = false;
    long long checked = 0, downloaded = 0, refused = 0, messages = 0, statuses = 0;
    size_t longestMessage = 0;
    char error[160] = {};
};

// The run in a child: its outcome, and the child's peak memory growth.
test::ChildRun<RunFigures> RunInChild(const std::string& server) {
    return test::RunInChild<RunFigures>([&] {
        RunFigures figures;
        // Boxes are counted, not kept: a kept 100 MB text would be the test's memory, not the run's.
        SetMessageHandler([&](const MessageRequest& request) {
            ++figures.messages;
            figures.longestMessage = std::max(figures.longestMessage, request.text.size());
            return MsgResult::Ok;
        });
        test::CountingView view;
        const CheckRunPlatform platform = test::LocalCheckRunPlatform(kBase, server);
        AppName = "css";
        StopFlag = 0;
        try {
            const CheckRunResult result = RunCheck(CheckRunRequest{}, view, platform);
            figures.ended = true;
            figures.completed = result.completed;
            figures.checked = result.checked;
            figures.downloaded = result.downloaded;
            figures.refused = static_cast<long long>(result.refusedPaths.size());
        } catch (const std::exception& error) {
            figures.raised = true;
            std::strncpy(figures.error, error.what(), sizeof figures.error - 1);
        }
        figures.statuses = view.statuses;
        return figures;
    });
}

std::string EntryLines(const std::string& size, const std::string& path, const std::string& crc) {
    return size + "\r\n" + path + "\r\n" + crc + "\r\n";
}

TEST_F(CheckRunFaults, AMillionEntriesAndAHundredMegabyteLineRunToTheEndWithBoundedMemory) {
    std::map<std::string, std::string> files;
    for (int i = 0; i < 50; ++i) files["cstrike\\f" + std::to_string(i) + ".txt"] = "file " + std::to_string(i);
    files[kMap] = test::MakeData(100000, 3, true);
    Publish(files);
    LayOutBuild();
    const auto good = [&](int i) {
        const std::string& bytes = files_["cstrike\\f" + std::to_string(i) + ".txt"];
        return EntryLines(std::to_string(bytes.size()), "\\cstrike\\f" + std::to_string(i) + ".txt",
                          Crc32Text(Crc32Of(bytes)));
    };
    const std::string mapEntry = EntryLines(std::to_string(files_[kMap].size()), "\\cstrike\\maps\\de_dust2.bsp",
                                            Crc32Text(Crc32Of(files_[kMap])));

    struct Checklist {
        std::string dim;
        long long checked = 0, refused = 0;
        size_t longestLine = 0;
        // The folders, then the damaged map (repaired once).
        Checklist(const std::string& map, size_t longest)
            : dim("0\r\n\\cstrike\\.\r\n0\r\n0\r\n\\cstrike\\maps\\.\r\n0\r\n" + map), checked(1),
              longestLine(longest) {}
    };
    // Per hundred entries of the million: one outside the game folder, 39 folders, 30 empty files
    // and 30 good files. Under AddressSanitizer, which takes no memory figure and runs each entry
    // many times slower, a tenth of them.
#ifdef ORVANTA_UNDER_ASAN
    constexpr int kEntries = 100000;
#else
    constexpr int kEntries = 1000000;
#endif
    const auto million = [&] {
        Checklist list(mapEntry, 40);
        for (int i = 0; i < kEntries - 3; ++i) {
            const int slot = i % 100;
            if (slot == 0) {
                list.dim += EntryLines("5", "\\..\\escaped" + std::to_string(i) + ".txt", "1");
                ++list.refused;
                continue;
            }
            if (slot < 40) {
                list.dim += "0\r\n\\cstrike\\.\r\n0\r\n";
                continue;
            }
            list.dim += slot < 70 ? EntryLines("0", "\\cstrike\\empty" + std::to_string(slot % 10) + ".txt", "0")
                                  : good(i % 50);
            ++list.checked;
        }
        return list;
    };
    // A good file on either side of an entry whose path is 100 MB long.
    const auto longLine = [&] {
        Checklist list(mapEntry, 100u << 20);
        list.dim += good(1) + "12\r\n\\" + std::string(100u << 20, 'a') + "\r\n305419896\r\n" + good(2);
        list.checked += 2;
        list.refused = 1;
        return list;
    };
    const struct {
        const char* what;
        std::function<Checklist()> make;
    } cases[] = {{kEntries == 1000000 ? "a million entries" : "a hundred thousand entries", million},
                 {"a 100 MB path line", longLine}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PutGame(kMap, std::string(files_[kMap].size(), 'x'));
        Checklist list = c.make();
        const size_t dimSize = list.dim.size();
        ServeChecklist(list.dim);
        list.dim = std::string();
        const auto run = RunInChild(Server());
        ASSERT_TRUE(run.ended) << "the child ended with status " << run.status;
        const RunFigures& f = run.result;
        EXPECT_FALSE(f.raised) << f.error;
        EXPECT_TRUE(f.ended);
        EXPECT_EQ(f.checked, list.checked);
        EXPECT_EQ(f.refused, list.refused);
        EXPECT_EQ(f.downloaded, 1);
        EXPECT_FALSE(f.completed) << "refused entries: the version is not recorded";
        EXPECT_EQ(test::ReadFile(Game(kMap)), files_[kMap]);
        EXPECT_FALSE(test::Exists(Game("css77.dim")));
        EXPECT_FALSE(test::Exists(dir_.File("escaped100.txt")));
        std::printf("[ memory   ] check run over a checklist of %s (%zu MB): %lld checked, %lld refused, %lld "
                    "messages (longest %zu bytes), peak %zu MB above the start\n",
                    c.what, dimSize >> 20, f.checked, f.refused, f.messages, f.longestMessage, run.peakGrowth >> 20);
#ifndef ORVANTA_UNDER_ASAN
        // The checklist held by the reader, four copies of its longest line (the line read, the
        // decoded path, the path kept as refused, one in passing), the checklist unpack's window and
        // blocks, and room for the allocator.
        EXPECT_LE(run.peakGrowth, dimSize + 4 * list.longestLine + (48u << 20));
#endif
    }
}

// ---- A run killed while it repairs

int KillsOfTheRun() {
    const char* text = std::getenv("ORVANTA_SAVE_KILLS");
    const int kills = text ? std::atoi(text) : 0;
    return kills > 0 ? kills : 25;
}

// Starts the helper on the game folder; its process id.
pid_t StartRepairRun(const std::string& game, const std::string& server) {
    const std::string program = ORVANTA_REPAIRRUN;
    std::vector<std::string> args = {program, game, server, kBase};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Its boxes are not the test's output.
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

// Everything in the folder: relative path and bytes.
std::map<std::string, std::string> FolderContent(const std::string& folder) {
    std::map<std::string, std::string> content;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file()) content[fs::relative(e.path(), folder).generic_string()] = test::ReadFile(e.path().string());
    return content;
}

// Names a killed run may leave: the unpack beside the file, the download, the checklists, a save's
// temporary file.
bool IsLeftover(const std::string& name) {
    for (const char* tail : {".orvanta-unpack", ".lzma", ".tmp", ".orvtmp", ".dim"})
        if (name.size() >= std::strlen(tail) && name.compare(name.size() - std::strlen(tail), std::string::npos, tail) == 0)
            return true;
    return false;
}

TEST_F(CheckRunFaults, AKilledRepairLeavesTheOldOrTheNewFileAndALaterRunCompletes) {
    std::map<std::string, std::string> files = {
        {"hl2.exe", test::MakeData(70000, 1, false)},
        {"cstrike\\cfg\\autoexec.cfg", "bind w +forward\r\n"},
        {kMap, test::MakeData(3u << 20, 2, true)},
    };
    Publish(files);
    LayOutBuild();
    const std::string oldMap = test::MakeData(files_[kMap].size() / 2, 7, true);
    const std::string& newMap = files_[kMap];
    const auto runToTheEnd = [&] {
        const pid_t pid = StartRepairRun(game_, Server());
        int status = -1;
        if (pid > 0) ::waitpid(pid, &status, 0);
        return status;
    };

    // The middle of three whole runs sets the range of the kills' moments.
    std::vector<std::chrono::microseconds> runs;
    for (int i = 0; i < 3; ++i) {
        PutGame(kMap, oldMap);
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(runToTheEnd(), 0);
        runs.push_back(std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start));
        ASSERT_TRUE(test::ReadFile(Game(kMap)) == newMap);
    }
    std::sort(runs.begin(), runs.end());
    const std::chrono::microseconds whole = runs[1];
    std::mt19937 random(20261210);
    // Half the kills anywhere in the run, half in its last third, where the map is fetched, unpacked
    // and put in place.
    std::uniform_int_distribution<long long> anywhere(0, whole.count());
    std::uniform_int_distribution<long long> late(whole.count() * 2 / 3, whole.count() * 11 / 10);

    const int kills = KillsOfTheRun();
    int oldContent = 0, newContent = 0, ended = 0, leftovers = 0, lost = 0;
    for (int kill = 0; kill < kills; ++kill) {
        if (test::ReadFile(Game(kMap)) != oldMap) PutGame(kMap, oldMap);
        const pid_t pid = StartRepairRun(game_, Server());
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(kill % 2 ? late(random) : anywhere(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        if (!WIFSIGNALED(status)) {
            ++ended;
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a run that ended by itself failed: " << status;
        }
        const std::string after = test::ReadFile(Game(kMap));
        if (after == oldMap) {
            ++oldContent;
        } else if (after == newMap) {
            ++newContent;
        } else {
            ++lost;
            ADD_FAILURE() << "kill " << kill << " left " << after.size() << " bytes of neither content";
        }
        bool left = false;
        for (const auto& [name, bytes] : FolderContent(game_)) left = left || IsLeftover(name);
        leftovers += left;
    }

    // A later run completes over whatever the kills left, and the folder is the build's again.
    PutGame(kMap, oldMap);
    EXPECT_EQ(runToTheEnd(), 0);
    std::map<std::string, std::string> expected;
    for (const auto& [name, bytes] : files_) expected[SlashPath(name)] = bytes;
    std::map<std::string, std::string> found = FolderContent(game_);
    // Besides the build: the catalogue and the settings file that records the version.
    EXPECT_TRUE(found.erase("inf.ini"));
    EXPECT_TRUE(found.erase(SettingsFileName));
    EXPECT_TRUE(found == expected) << [&] {
        std::string names;
        for (const auto& [name, bytes] : found) names += " " + name;
        return "the folder holds" + names;
    }();
    std::printf("[ kills    ] check-and-repair run (%lld ms whole): %d kills, %d left the old file, %d the new, "
                "%d runs ended first, %d left files beside it, %d lost\n",
                static_cast<long long>(whole.count() / 1000), kills, oldContent, newContent, ended, leftovers, lost);
}

// Many damaged files: when a kill comes, the engine has several of them downloaded or unpacked
// ahead of the run, waiting beside their files. Each file is its old or its new self afterwards,
// and the next run takes away whatever waited.
TEST_F(CheckRunFaults, AKillWhileRepairsAreQueuedAheadLeavesEachFileOldOrNew) {
    std::map<std::string, std::string> files;
    for (int i = 0; i < 12; ++i) files["cstrike\\q" + std::to_string(i) + ".bin"] = test::MakeData(300000, 10 + i, true);
    Publish(files);
    LayOutBuild();
    const auto damage = [&] {
        for (const auto& [name, bytes] : files_) PutGame(name, "old " + name);
    };
    const auto whole = [&] {
        damage();
        const auto start = std::chrono::steady_clock::now();
        const pid_t pid = StartRepairRun(game_, Server());
        int status = -1;
        if (pid > 0) ::waitpid(pid, &status, 0);
        EXPECT_EQ(status, 0);
        return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    };
    const std::chrono::microseconds run = whole();
    std::mt19937 random(20261211);
    std::uniform_int_distribution<long long> moment(run.count() / 4, run.count());
    int queued = 0;
    for (int kill = 0; kill < 10; ++kill) {
        damage();
        const pid_t pid = StartRepairRun(game_, Server());
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        int waiting = 0;
        for (const auto& [name, bytes] : FolderContent(game_)) waiting += name.ends_with(".lzma") || name.ends_with(".orvanta-unpack");
        queued += waiting > 1;
        for (const auto& [name, bytes] : files_) {
            const std::string after = test::ReadFile(Game(name));
            EXPECT_TRUE(after == "old " + name || after == bytes) << "kill " << kill << ": " << name << " is neither";
        }
    }
    whole();  // a run to its end over what the kills left
    for (const auto& [name, bytes] : FolderContent(game_)) EXPECT_FALSE(IsLeftover(name)) << name;
    for (const auto& [name, bytes] : files_) EXPECT_TRUE(test::ReadFile(Game(name)) == bytes) << name;
    std::printf("[ kills    ] repairs queued ahead: 10 kills, %d with more than one file waiting beside its place\n", queued);
}

// ---- A body that does not match its Content-Length

// The download client's side (a short or reset body gives false and no file, a longer body ends at
// the announced length or runs on) is tested against real servers; here the run gets what such a
// transfer leaves and must never put a cut stream in the file's place.
TEST_F(CheckRunFaults, ABodyShorterOrLongerThanItsLengthNeverDamagesTheFile) {
    Publish({{"hl2.exe", test::MakeData(70000, 1, false)}, {kMap, test::MakeData(200000, 2, true)}});
    LayOutBuild();
    const std::string url = std::string(kBase) + "cstrike/builds/v77/cstrike/maps/de_dust2.bsp.lzma";
    enum class Body { BrokenOff, ShortButReportedWhole, Longer };
    const struct {
        const char* what;
        Body body;
        bool repaired;
        std::vector<std::string> boxes;
    } cases[] = {
        {"broken off, reported", Body::BrokenOff, false,
         {"Error InternetReadFile", "Error loading " + url + " apparently the server is unavailable, or the internet does not work",
          "Error while unpacking the file, what should I do ??", "File checker was successful"}},
        {"short, taken as whole", Body::ShortButReportedWhole, false,
         {"Error while unpacking the file, what should I do ??", "File checker was successful"}},
        {"longer than its length", Body::Longer, true, {"File checker was successful"}},
    };
    const int32_t savedStop = StopFlag;
    const std::string savedApp = AppName;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PutGame(kMap, "the old map");
        CheckRunPlatform platform = test::LocalCheckRunPlatform(kBase, Server());
        // What the client hands over after the transfer: the body as it came.
        class Mangling final : public Fetcher {
        public:
            Mangling(std::unique_ptr<Fetcher> whole, const std::string& url, Body body)
                : whole_(std::move(whole)), url_(url), body_(body) {}
            FetchResult Get(const std::string& from, const std::string& path, const std::atomic<bool>& stop,
                            const FetchProgress& progress) override {
                FetchResult result = whole_->Get(from, path, stop, progress);
                if (!result.ok || from != url_) return result;
                const std::string got = test::ReadFile(path);
                switch (body_) {
                case Body::BrokenOff:  // the client deletes what arrived
                    RemoveFile(path);
                    result.ok = false;
                    result.failed = FetchStep::Short;
                    break;
                case Body::ShortButReportedWhole: WriteNewFile(path, got.substr(0, got.size() / 2)); break;
                case Body::Longer: WriteNewFile(path, got + std::string(4096, '\x5A')); break;
                }
                return result;
            }
            FetchResult Head(const std::string& from) override { return whole_->Head(from); }

        private:
            std::unique_ptr<Fetcher> whole_;
            std::string url_;
            Body body_;
        };
        platform.engine.newFetcher = [&c, url, whole = platform.engine.newFetcher] {
            return std::unique_ptr<Fetcher>(new Mangling(whole(), url, c.body));
        };
        test::QuestionAnswers answers(MsgResult::Ignore);
        test::CountingView view;
        AppName = "css";
        StopFlag = 0;
        const CheckRunResult result = RunCheck(CheckRunRequest{}, view, platform);
        EXPECT_EQ(answers.Texts(), c.boxes);
        EXPECT_EQ(view.closeRequests, c.body == Body::BrokenOff ? 1 : 0);
        EXPECT_EQ(result.checked, c.repaired ? 2 : 1);
        EXPECT_EQ(result.downloaded, c.body == Body::BrokenOff ? 0 : 1);
        if (c.repaired) {
            EXPECT_TRUE(test::ReadFile(Game(kMap)) == files_[kMap]);
        } else {
            EXPECT_EQ(test::ReadFile(Game(kMap)), "the old map") << "the old file is untouched";
        }
        for (const auto& [name, bytes] : FolderContent(game_)) EXPECT_FALSE(IsLeftover(name)) << name;
    }
    StopFlag = savedStop;
    AppName = savedApp;
}

}  // namespace
}  // namespace orv
