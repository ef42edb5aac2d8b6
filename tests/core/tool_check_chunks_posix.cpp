// "orvanta-tool check --repair" on a build published in chunks: a large file that differs is built
// from the chunks it lacks, and without a usable index it is fetched whole as before.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "launcher/integrity/checklist.h"
#include "launcher/integrity/lzma_alone.h"
#include "support/chunk_store.h"
#include "tool_check_fixture.h"

namespace orv::check {
namespace {

using test_support::FolderFetcher;
using test_support::Join;
using test_support::kBase;
using test_support::RecordingSink;

std::string Signing(const std::string& name) { return std::string(ORVANTA_TEST_DATA) + "/signing/" + name; }

// Every address asked for, from whichever thread.
struct Asked {
    std::mutex mutex;
    std::vector<std::string> urls;
    size_t Count(const std::string& part) {
        std::lock_guard lock(mutex);
        return static_cast<size_t>(std::count_if(urls.begin(), urls.end(), [&](const std::string& u) {
            return u.find(part) != std::string::npos;
        }));
    }
};

class Recorded final : public Fetcher {
public:
    Recorded(const std::string& root, Asked& asked) : inner_(root, {}, nullptr), asked_(asked) {}
    FetchResult Get(const std::string& url, const std::string& path, const std::atomic<bool>& stop,
                    const FetchProgress& progress) override {
        Note(url);
        return inner_.Get(url, path, stop, progress);
    }
    FetchResult Head(const std::string& url) override {
        Note(url);
        return inner_.Head(url);
    }

private:
    void Note(const std::string& url) {
        std::lock_guard lock(asked_.mutex);
        asked_.urls.push_back(url);
    }
    FolderFetcher inner_;
    Asked& asked_;
};

struct ChunkedBuild {
    orv::test::TempDir dir;
    std::string build = Join(dir.Path(), "build");
    std::string root = Join(dir.Path(), "www");
    std::string game = Join(dir.Path(), "game");
    std::string big = orv::test::MakeData((4 << 20) + 100000, 41, false);
    std::vector<std::pair<std::string, std::string>> files = {
        {"hl2.exe", orv::test::MakeData(70000, 1, false)},
        {"cstrike\\cfg\\autoexec.cfg", "bind w +forward\r\n"},
        {"cstrike\\pak01_dir.vpk", big},
    };
    Asked asked;

    explicit ChunkedBuild(const std::vector<std::string>& keys = {}) {
        for (const auto& [name, bytes] : files) {
            for (const std::string& folder : {build, game}) {
                const std::string path = Join(folder, name);
                CreateDirectories(path.substr(0, path.find_last_of("\\/")));
                orv::test::WriteFile(path, bytes);
            }
        }
        publish::PublishOptions o;
        o.buildDir = build;
        o.serverRoot = root;
        o.serverBase = kBase;
        o.gameName = "Counter-Strike";
        o.buildName = "v34";
        o.checklistName = "css34";
        o.downloadPath = "cstrike/v34";
        o.jobs = 1;
        o.signing.keys = keys;
        publish::Publish(o, [](const std::string&) {});
    }

    // The index and the chunk store, as a publisher in chunks lays them out.
    void PublishChunks() {
        const std::string unpacked = Join(dir.Path(), "css34.dim");
        ASSERT_TRUE(TLZMAAlone().Main(Join(root, "cstrike\\css34.dim.lzma"), unpacked, "d"));
        ChecklistReader entries = ChecklistReader::Open(unpacked, CodePage::Windows1251);
        ChunkIndex index;
        for (uint64_t entry = 0; !entries.AtEnd(); ++entry) {
            const ChecklistEntry e = entries.Next();
            if (e.path == "\\cstrike\\pak01_dir.vpk") orv::test::AddChunked(index, root, entry, big);
        }
        index.Seal();
        ASSERT_EQ(index.Files().size(), 1u);
        orv::test::WriteFile(Join(root, "cstrike\\css34.dim.chunks"), ChunkIndexText(index));
    }

    // The game's copy of the large file, a few bytes of it changed.
    void Damage() {
        std::string damaged = big;
        for (size_t i = 0; i < 64; ++i) damaged[(2 << 20) + i * 997] ^= 0x33;
        orv::test::WriteFile(Join(game, "cstrike\\pak01_dir.vpk"), damaged);
    }

    CheckSummary Repair(RecordingSink& sink, std::optional<EcdsaPublicKey> key = std::nullopt, bool fromRoot = false) {
        CheckOptions o;
        if (fromRoot) o.serverRoot = root;
        else o.server = kBase;
        o.serverBase = kBase;
        o.gameDir = game;
        o.repair = true;
        o.jobs = 2;
        o.connections = 2;
        o.publicKey = key;
        CheckPlatform platform = SystemCheckPlatform();
        platform.newFetcher = [this] { return std::make_unique<Recorded>(root, asked); };
        std::atomic<bool> stop{false};
        return RunCheck(o, platform, sink, stop);
    }

    const CheckEvent& RepairOf(const RecordingSink& sink) const {
        for (const CheckEvent& e : sink.all)
            if (e.path == "\\cstrike\\pak01_dir.vpk" && e.kind == EventKind::Repaired) return e;
        ADD_FAILURE() << "the large file was not repaired";
        return sink.all.front();
    }
};

TEST(ToolCheckChunks, ALargeFileIsBuiltFromTheChunksItLacks) {
    ChunkedBuild server;
    server.PublishChunks();
    server.Damage();
    RecordingSink sink;
    const CheckSummary summary = server.Repair(sink);

    EXPECT_EQ(orv::test::ReadFile(Join(server.game, "cstrike\\pak01_dir.vpk")), server.big);
    const CheckEvent& repaired = server.RepairOf(sink);
    EXPECT_TRUE(repaired.fromChunks) << repaired.chunkFallback;
    EXPECT_EQ(server.asked.Count("pak01_dir.vpk.lzma"), 0u);
    EXPECT_EQ(server.asked.Count("css34.dim.chunks"), 1u);
    const size_t chunks = server.asked.Count("/chunks/");
    EXPECT_EQ(repaired.chunksFetched, chunks);
    EXPECT_GE(chunks, 1u);
    EXPECT_LE(chunks, 20u) << "64 bytes changed in a 64 KiB stretch";
    EXPECT_GE(repaired.chunkBytesReused, server.big.size() - chunks * kChunkMaxSize);
    EXPECT_EQ(summary.fromChunks, 1u);
    EXPECT_EQ(summary.chunkBytesFetched, repaired.chunkBytesFetched);
    EXPECT_EQ(ExitStatus(summary), ExitMatches);
}

TEST(ToolCheckChunks, AServerFolderServesItsChunksWhereTheyLie) {
    ChunkedBuild server;
    server.PublishChunks();
    server.Damage();
    RecordingSink sink;
    const CheckSummary summary = server.Repair(sink, std::nullopt, true);
    EXPECT_EQ(orv::test::ReadFile(Join(server.game, "cstrike\\pak01_dir.vpk")), server.big);
    EXPECT_TRUE(server.RepairOf(sink).fromChunks) << server.RepairOf(sink).chunkFallback;
    EXPECT_EQ(summary.fromChunks, 1u);
}

TEST(ToolCheckChunks, WithoutAnIndexTheFileIsFetchedWhole) {
    ChunkedBuild server;
    server.Damage();
    RecordingSink sink;
    const CheckSummary summary = server.Repair(sink);

    EXPECT_EQ(orv::test::ReadFile(Join(server.game, "cstrike\\pak01_dir.vpk")), server.big);
    const CheckEvent& repaired = server.RepairOf(sink);
    EXPECT_FALSE(repaired.fromChunks);
    EXPECT_EQ(repaired.chunkFallback, "the build has no chunk index");
    EXPECT_EQ(server.asked.Count("pak01_dir.vpk.lzma"), 1u);
    EXPECT_EQ(server.asked.Count("/chunks/"), 0u);
    EXPECT_EQ(summary.chunkFallbacks, 1u);
}

TEST(ToolCheckChunks, AGoodFolderAsksForNoIndex) {
    ChunkedBuild server;
    server.PublishChunks();
    RecordingSink sink;
    EXPECT_EQ(ExitStatus(server.Repair(sink)), ExitMatches);
    EXPECT_EQ(server.asked.Count("css34.dim.chunks"), 0u);
}

TEST(ToolCheckChunks, AKeyedBuildTakesNoIndexItsStatementDoesNotName) {
    ChunkedBuild server({Signing("key.pem")});
    server.PublishChunks();
    server.Damage();
    std::string hex = orv::test::ReadFile(Signing("public.hex"));
    while (!hex.empty() && hex.back() == '\n') hex.pop_back();
    RecordingSink sink;
    const CheckSummary summary = server.Repair(sink, PublisherKeyFromHex(hex));

    EXPECT_EQ(orv::test::ReadFile(Join(server.game, "cstrike\\pak01_dir.vpk")), server.big);
    EXPECT_EQ(server.RepairOf(sink).chunkFallback, "the checklist statement names no chunk index");
    EXPECT_EQ(server.asked.Count("css34.dim.chunks"), 0u);
    EXPECT_EQ(server.asked.Count("pak01_dir.vpk.lzma"), 1u);
    EXPECT_EQ(ExitStatus(summary), ExitMatches);
}

}  // namespace
}  // namespace orv::check
