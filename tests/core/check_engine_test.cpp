// The check engine on real files: jobs handed over in list order, results taken in that order
// whatever order the threads finish in, downloads in list order and never far ahead, and nothing
// left beside the files however the walker lets go.
#include "launcher/integrity/check_engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "launcher/integrity/crc32.h"
#include "launcher/integrity/entry_rules.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/platform/files.h"
#include "launcher/platform/sha256.h"
#include "launcher/net/resume_rules.h"
#include "support/test_files.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

// A server of ".lzma" files in a folder; it records what was asked, in order, and can hold a
// transfer until the test lets it go.
struct FolderServer {
    std::string root;
    std::mutex mutex;
    std::vector<std::string> asked;
    std::atomic<int> inFlight{0}, mostInFlight{0};
    std::atomic<bool> hold{false};

    class Connection final : public Fetcher {
    public:
        explicit Connection(FolderServer& server) : server_(server) {}
        FetchResult Get(const std::string& url, const std::string& path, const std::atomic<bool>& stop,
                        const FetchProgress& progress) override {
            {
                std::lock_guard lock(server_.mutex);
                server_.asked.push_back(url);
            }
            const int now = ++server_.inFlight;
            for (int most = server_.mostInFlight; now > most && !server_.mostInFlight.compare_exchange_weak(most, now);) {
            }
            FetchResult result;
            while (server_.hold && !stop) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (stop) {
                result.stopped = true;
            } else if (!test::Exists(server_.root + "/" + url)) {
                result.failed = FetchStep::Status;
                result.status = 404;
            } else {
                const std::string body = test::ReadFile(server_.root + "/" + url);
                WriteNewFile(path, body);
                if (progress) progress(static_cast<int64_t>(body.size()), std::to_string(body.size()));
                result.ok = true;
                result.status = 200;
            }
            --server_.inFlight;
            return result;
        }
        FetchResult Head(const std::string&) override { return {}; }

    private:
        FolderServer& server_;
    };
};

class CheckEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        game_ = dir_.File("game");
        server_.root = dir_.File("server");
        fs::create_directories(game_);
        fs::create_directories(server_.root);
    }

    // A listed file: its content on the server, and what lies at its place (nothing when `local`
    // is empty and `present` false).
    EngineJob Listed(const std::string& name, const std::string& content, const std::string& local, bool present) {
        std::string flat = name;
        for (char& c : flat)
            if (c == '/') c = '_';
        const std::string plain = dir_.File(flat + ".plain");
        test::WriteFile(plain, content);
        fs::create_directories(fs::path(server_.root + "/" + name).parent_path());
        EXPECT_TRUE(TLZMAAlone().Main(plain, server_.root + "/" + name + ".lzma", "e"));
        if (present) test::WriteFile(game_ + "/" + name, local);
        EngineJob job;
        job.place = game_ + "/" + name;
        job.size = static_cast<int64_t>(content.size());
        job.crcText = Crc32Text(Crc32Of(content));
        job.url = name + ".lzma";
        return job;
    }

    EnginePlatform Platform() {
        EnginePlatform platform;
        platform.newFetcher = [this] { return std::make_unique<FolderServer::Connection>(server_); };
        platform.listFolder = &ListFolder;
        platform.removeFile = &RemoveFile;
        platform.replaceFile = [](const std::string& from, const std::string& to) {
            std::error_code error;
            fs::rename(from, to, error);
            return !error;
        };
        return platform;
    }

    // Whatever the engine makes beside a file, anywhere in the game folder.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> found;
        for (const auto& item : fs::recursive_directory_iterator(game_)) {
            const std::string name = item.path().filename().string();
            if (name.ends_with(".lzma") || name.ends_with(".orvanta-unpack") || name.ends_with(".orvanta-partial"))
                found.push_back(name);
        }
        return found;
    }

    test::TempDir dir_;
    std::string game_;
    FolderServer server_;
};

const auto kGoOn = [] { return true; };

// Appended rather than joined with +: mingw's GCC 12 sees an overlapping copy in the inlined
// insert that "x" + std::string makes and fails the build on the warning.
std::string Numbered(const char* prefix, int i) { return std::string(prefix).append(std::to_string(i)); }

TEST_F(CheckEngineTest, ResultsComeInListOrderWhateverOrderTheThreadsFinishIn) {
    EngineOptions options;
    options.checkers = 4;
    EnginePlatform platform = Platform();
    // The first files take longest to check: later ones are done first.
    platform.check = [](const EngineJob& job, const std::atomic<bool>& stop, std::vector<char>& buffer) {
        const int index = std::stoi(job.place.substr(job.place.rfind('f') + 1));
        std::this_thread::sleep_for(std::chrono::milliseconds(index < 3 ? 30 - 10 * index : 0));
        return CheckListedFile(job.place, job.size, job.crcText, stop, buffer);
    };
    CheckEngine engine(options, platform);
    struct Case {
        const char* local;
        bool present;
        FileState state;
    };
    const Case cases[] = {
        {"content 0", true, FileState::Good},   {"other 1", true, FileState::OtherSize},
        {"", false, FileState::Missing},        {"content X", true, FileState::OtherCrc},
        {"content 4", true, FileState::Good},   {"content 5", true, FileState::Good},
    };
    std::vector<uint64_t> ids;
    for (size_t i = 0; i < std::size(cases); ++i)
        ids.push_back(engine.Submit(Listed("f" + std::to_string(i), "content " + std::to_string(i), cases[i].local,
                                           cases[i].present)));
    for (size_t i = 0; i < ids.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(engine.Wait(ids[i], JobStage::Replaced, kGoOn));
        const JobStatus status = engine.Status(ids[i]);
        EXPECT_EQ(status.check.state, cases[i].state);
        const bool good = cases[i].state == FileState::Good;
        EXPECT_EQ(status.fetched, !good);
        if (!good) {
            // Fetched, unpacked beside the file and proven; the walker puts it in place.
            EXPECT_EQ(status.unpack.state, UnpackState::Unpacked);
            EngineJob placed;
            placed.place = game_ + "/f" + std::to_string(i);
            EXPECT_EQ(test::ReadFile(CheckEngine::UnpackedPath(placed)),
                      "content " + std::to_string(i));
            EXPECT_FALSE(test::Exists(game_ + "/f" + std::to_string(i) + ".lzma")) << "the download is spent";
        }
        engine.Release(ids[i]);
    }
    EXPECT_EQ(server_.asked, (std::vector<std::string>{"f1.lzma", "f2.lzma", "f3.lzma"})) << "in list order";
    EXPECT_TRUE(Leftovers().empty()) << "what the walker did not take goes with the job";
}

TEST_F(CheckEngineTest, WithReplaceTheFileTakesItsPlaceOnlyWhenItsContentIsTheListed) {
    EngineOptions options;
    options.replace = true;
    CheckEngine engine(options, Platform());
    EngineJob right = Listed("right", "the listed content", "damaged", true);
    EngineJob wrong = Listed("wrong", "what the server has", "the old file", true);
    wrong.crcText = "12345";  // the list says otherwise
    EngineJob refused = Listed("refused", "not a stream", "the old one", true);
    test::WriteFile(server_.root + "/refused.lzma", "<html>502</html>");
    const uint64_t a = engine.Submit(right), b = engine.Submit(wrong), c = engine.Submit(refused);
    for (const uint64_t id : {a, b, c}) ASSERT_TRUE(engine.Wait(id, JobStage::Replaced, kGoOn));
    EXPECT_TRUE(engine.Status(a).replaceOk);
    EXPECT_EQ(test::ReadFile(right.place), "the listed content");
    EXPECT_EQ(engine.Status(b).unpack.state, UnpackState::OtherContent);
    EXPECT_EQ(test::ReadFile(wrong.place), "the old file");
    EXPECT_EQ(engine.Status(c).unpack.state, UnpackState::NotUnpacked);
    EXPECT_EQ(test::ReadFile(refused.place), "the old one");
    for (const uint64_t id : {a, b, c}) engine.Release(id);
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(CheckEngineTest, ASignedHashDecidesAfterSizeAndCrcAndTheOldFileStaysOnAMismatch) {
    const std::string content = "the publisher's bytes";
    const Sha256Digest signedHash = Sha256Of(content);
    Sha256Digest otherHash = signedHash;
    otherHash[31] ^= 1;
    const struct {
        const char* name;
        std::optional<Sha256Digest> sha256;
        const char* crcText;  // nullptr: the listed one
        UnpackState state;
    } cases[] = {
        {"signed", signedHash, nullptr, UnpackState::Unpacked},
        {"unsigned", std::nullopt, nullptr, UnpackState::Unpacked},
        {"forged", otherHash, nullptr, UnpackState::OtherHash},
        {"listed wrong too", otherHash, "1", UnpackState::OtherContent},
    };
    EngineOptions options;
    options.replace = true;
    CheckEngine engine(options, Platform());
    std::vector<uint64_t> ids;
    std::vector<EngineJob> jobs;
    for (const auto& c : cases) {
        EngineJob job = Listed(c.name, content, "the old file", true);
        job.sha256 = c.sha256;
        if (c.crcText) job.crcText = c.crcText;
        jobs.push_back(job);
        ids.push_back(engine.Submit(job));
    }
    for (size_t i = 0; i < ids.size(); ++i) {
        ASSERT_TRUE(engine.Wait(ids[i], JobStage::Replaced, kGoOn)) << cases[i].name;
        EXPECT_EQ(engine.Status(ids[i]).unpack.state, cases[i].state) << cases[i].name;
        const bool installed = cases[i].state == UnpackState::Unpacked;
        EXPECT_EQ(test::ReadFile(jobs[i].place), installed ? content : "the old file") << cases[i].name;
        engine.Release(ids[i]);
    }
    EXPECT_TRUE(Leftovers().empty()) << "a refused unpack leaves nothing beside the file";
}

TEST_F(CheckEngineTest, AnUnpackWhoseHashDiffersLeavesNothingAtItsOutput) {
    const EngineJob job = Listed("alone", "content", "", false);
    const std::string output = dir_.File("alone.out");
    const std::atomic<bool> stop{false};
    const UnpackOutcome outcome =
        UnpackChecked(server_.root + "/alone.lzma", output, job.size, job.crcText, stop, Sha256Of("other"));
    EXPECT_EQ(outcome.state, UnpackState::OtherHash);
    EXPECT_EQ(outcome.bytes, 7u);
    EXPECT_FALSE(FileExists(output));
}

TEST_F(CheckEngineTest, DownloadsStayAFewFilesAheadOfTheWalkerAndAStopLeavesNothing) {
    EngineOptions options;
    options.fetchAhead = 2;
    options.window = 16;
    CheckEngine engine(options, Platform());
    std::vector<uint64_t> ids;
    for (int i = 0; i < 10; ++i)
        ids.push_back(engine.Submit(Listed(Numbered("d", i), test::MakeData(5000, i, true), "x", true)));
    EXPECT_FALSE(engine.HasRoom() && ids.size() >= 16);
    // The walker takes the first result and lingers: the engine fetches two files and waits.
    ASSERT_TRUE(engine.Wait(ids[0], JobStage::Unpacked, kGoOn));
    ASSERT_TRUE(engine.Wait(ids[1], JobStage::Unpacked, kGoOn));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // room to overrun, were there no bound
    {
        std::lock_guard lock(server_.mutex);
        EXPECT_EQ(server_.asked.size(), 2u) << "no more than two files wait for the walker";
    }
    engine.Release(ids[0]);
    ASSERT_TRUE(engine.Wait(ids[2], JobStage::Unpacked, kGoOn));
    // The next download is held mid-transfer; the walker stops with results queued ahead of it.
    server_.hold = true;
    engine.Release(ids[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (server_.inFlight == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(server_.inFlight, 1);
    int pumps = 0;
    engine.Finish([&] { ++pumps; });
    EXPECT_EQ(CheckEngine::RunningThreads(), 0) << "a thread outlived the engine";
    EXPECT_TRUE(Leftovers().empty()) << "a queued or cut-off repair left files beside its place";
    for (int i = 0; i < 10; ++i) EXPECT_EQ(test::ReadFile(game_ + "/d" + std::to_string(i)), "x") << i;
    EXPECT_EQ(server_.mostInFlight, 1) << "one connection, one transfer at a time";
}

TEST_F(CheckEngineTest, AWalkerThatGivesUpWaitingGetsFalseAndTheJobStaysItsToRelease) {
    CheckEngine engine(EngineOptions{}, Platform());
    server_.hold = true;
    const uint64_t id = engine.Submit(Listed("held", "content", "", false));
    int calls = 0;
    EXPECT_FALSE(engine.Wait(id, JobStage::Fetched, [&] { return ++calls < 3; }));
    EXPECT_EQ(calls, 3);
    EXPECT_FALSE(engine.Status(id).fetched);
    engine.Release(id);  // while its transfer is held: it ends with the engine
    server_.hold = false;
    engine.Finish([] {});
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(CheckEngineTest, LeftoversBesideListedFilesGoAndEachFolderIsListedOnce) {
    EngineOptions options;
    options.checkers = 4;
    options.fetchers = 0;
    EnginePlatform platform = Platform();
    std::mutex mutex;
    std::map<std::string, int> listings;
    platform.listFolder = [&](const std::string& folder) {
        {
            std::lock_guard lock(mutex);
            ++listings[folder];
        }
        return ListFolder(folder);
    };
    CheckEngine engine(options, platform);
    fs::create_directories(game_ + "/sub");
    std::vector<EngineJob> jobs;
    for (int i = 0; i < 12; ++i) {
        const std::string name = (i % 2 ? "sub/" : "") + std::string("l") + std::to_string(i);
        jobs.push_back(Listed(name, Numbered("c", i), Numbered("c", i), true));
    }
    for (const char* left : {"l0.lzma", "sub/l1.orvanta-unpack", "sub/mine.orvanta-unpack"})
        test::WriteFile(game_ + "/" + left, "left by a killed run");
    std::vector<uint64_t> ids;
    for (const EngineJob& job : jobs) ids.push_back(engine.Submit(job));
    for (const uint64_t id : ids) {
        ASSERT_TRUE(engine.Wait(id, JobStage::Checked, kGoOn));
        EXPECT_EQ(engine.Status(id).check.state, FileState::Good);
        engine.Release(id);
    }
    EXPECT_EQ(Leftovers(), std::vector<std::string>{"mine.orvanta-unpack"}) << "beside no listed file: kept";
    EXPECT_EQ(listings.size(), 2u);
    for (const auto& [folder, times] : listings) EXPECT_EQ(times, 1) << folder;
}

// What a fetcher that goes on with downloads finds and leaves: the download with its record.
class PartialAware final : public Fetcher {
public:
    struct Seen {
        std::mutex mutex;
        std::map<std::string, bool> partialAtGet;  // by address: download and record both there
        std::set<std::string> breakOff;            // addresses whose body breaks off and is kept
    };
    PartialAware(FolderServer& server, Seen& seen) : inner_(server), seen_(seen) {}
    FetchResult Get(const std::string& url, const std::string& path, const std::atomic<bool>& stop,
                    const FetchProgress& progress) override {
        const std::string record = ResumeRecordPath(path);
        bool breaks = false;
        {
            std::lock_guard lock(seen_.mutex);
            seen_.partialAtGet[url] = test::Exists(path) && test::Exists(record);
            breaks = seen_.breakOff.count(url) > 0;
        }
        if (breaks) {
            test::WriteFile(path, "the first part");
            test::WriteFile(record, FormatResumeRecord({url, "\"v\"", 1 << 30}));
            FetchResult result;
            result.failed = FetchStep::Short;
            result.written = 14;
            return result;
        }
        RemoveFile(record);
        return inner_.Get(url, path, stop, progress);
    }
    FetchResult Head(const std::string& url) override { return inner_.Head(url); }

private:
    FolderServer::Connection inner_;
    Seen& seen_;
};

TEST_F(CheckEngineTest, APartialWithItsRecordWaitsForTheFetchOnlyBesideAFileThatDiffers) {
    EngineOptions options;
    options.checkers = 2;
    EnginePlatform platform = Platform();
    PartialAware::Seen seen;
    platform.newFetcher = [&] { return std::make_unique<PartialAware>(server_, seen); };
    CheckEngine engine(options, platform);
    const struct {
        const char* name;
        bool good;
        bool download, record;  // left beside it by an earlier run
        bool fetched;           // the job has an address
        bool partialAtGet;
    } cases[] = {
        {"good", true, true, true, true, false},
        {"differs", false, true, true, true, true},
        {"record alone", false, false, true, true, false},
        {"download alone", false, true, false, true, false},
        {"only checked", false, true, true, false, false},
    };
    // Everything on disk before the first job: the folder is listed once, when its first job comes.
    std::vector<EngineJob> jobs;
    for (const auto& c : cases) {
        EngineJob job = Listed(c.name, std::string("content of ") + c.name, c.good ? std::string("content of ") + c.name : "old", true);
        if (!c.fetched) job.url.clear();
        if (c.download) test::WriteFile(CheckEngine::DownloadPath(job), "part");
        if (c.record) test::WriteFile(PartialRecordPath(job.place), FormatResumeRecord({job.url + "x", "\"v\"", 100}));
        jobs.push_back(job);
    }
    std::vector<uint64_t> ids;
    for (const EngineJob& job : jobs) ids.push_back(engine.Submit(job));
    for (size_t i = 0; i < ids.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        ASSERT_TRUE(engine.Wait(ids[i], JobStage::Unpacked, kGoOn));
        if (cases[i].fetched && !cases[i].good) {
            std::lock_guard lock(seen.mutex);
            EXPECT_EQ(seen.partialAtGet[std::string(cases[i].name) + ".lzma"], cases[i].partialAtGet);
        }
        engine.Release(ids[i]);
    }
    engine.Finish([] {});
    EXPECT_EQ(Leftovers(), std::vector<std::string>{}) << "a stale partial or record stayed";
    EXPECT_EQ(engine.PartialsKept(), 0u);
}

TEST_F(CheckEngineTest, APartialTheFetcherKeptOutlivesTheEngineAndIsCounted) {
    EnginePlatform platform = Platform();
    PartialAware::Seen seen;
    seen.breakOff = {"big.lzma"};
    platform.newFetcher = [&] { return std::make_unique<PartialAware>(server_, seen); };
    std::vector<EngineJob> jobs{Listed("small", "the small file", "old", true), Listed("big", "the big file", "old", true)};
    {
        CheckEngine engine(EngineOptions{}, platform);
        const uint64_t small = engine.Submit(jobs[0]), big = engine.Submit(jobs[1]);
        ASSERT_TRUE(engine.Wait(small, JobStage::Unpacked, kGoOn));
        ASSERT_TRUE(engine.Wait(big, JobStage::Unpacked, kGoOn));
        EXPECT_FALSE(engine.Status(big).fetch.ok);
        EXPECT_TRUE(engine.Status(small).unpacked);
        // Let go before the walker takes it, and the engine ends with it held: neither removes it.
        engine.Release(small);
        engine.Finish([] {});
        EXPECT_EQ(engine.PartialsKept(), 1u);
    }
    EXPECT_EQ(test::ReadFile(CheckEngine::DownloadPath(jobs[1])), "the first part");
    EXPECT_TRUE(test::Exists(PartialRecordPath(jobs[1].place)));
    EXPECT_FALSE(test::Exists(CheckEngine::DownloadPath(jobs[0])));
    EXPECT_FALSE(test::Exists(CheckEngine::UnpackedPath(jobs[0])));
}

}  // namespace
}  // namespace orv
