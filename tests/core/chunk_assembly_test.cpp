// A file built from chunks: what the old file and other listed files hold is taken from them, only
// the rest is asked of the store, and a store that lacks a chunk or serves other bytes leaves
// nothing behind.
#include "launcher/integrity/chunk_assembly.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <algorithm>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "launcher/integrity/crc32.h"
#include "launcher/integrity/entry_rules.h"
#include "launcher/net/folder_fetcher.h"
#include "support/chunk_store.h"
#include "support/test_files.h"

namespace orv {
namespace {

constexpr const char* kBase = "http://store.test/";

// The folder fetcher, with every address asked for counted and a hook before each request.
struct CountingStore {
    std::string root;
    std::mutex mutex;
    std::vector<std::string> asked;
    std::function<void()> beforeGet;

    class Connection final : public Fetcher {
    public:
        explicit Connection(CountingStore& store) : store_(store), inner_(NewFolderFetcher(store.root, kBase)) {}
        FetchResult Get(const std::string& url, const std::string& path, const std::atomic<bool>& stop,
                        const FetchProgress& progress) override {
            {
                std::lock_guard lock(store_.mutex);
                store_.asked.push_back(url);
            }
            if (store_.beforeGet) store_.beforeGet();
            return inner_->Get(url, path, stop, progress);
        }
        FetchResult Head(const std::string& url) override { return inner_->Head(url); }

    private:
        CountingStore& store_;
        std::unique_ptr<Fetcher> inner_;
    };
};

std::set<std::string> FolderNames(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(test::FsPath(folder)))
        names.insert(entry.path().filename().string());
    return names;
}

class ChunkAssemblyTest : public ::testing::Test {
protected:
    void SetUp() override {
        store_.root = root_.Path();
        game_ = folder_.Path();
        place_ = folder_.File("pak01.vpk");
    }

    // The target's index: `bytes` at entry 5, and `others` (entry, bytes) published beside it.
    void Publish(const std::string& bytes, const std::vector<std::pair<uint64_t, std::string>>& others = {}) {
        target_ = bytes;
        std::vector<std::pair<uint64_t, std::string>> files = others;
        files.emplace_back(5, bytes);
        std::sort(files.begin(), files.end());
        for (const auto& [entry, content] : files) test::AddChunked(index_, store_.root, entry, content);
        index_.Seal();
    }

    ChunkAssemblyResult Assemble(const std::atomic<bool>& stop) {
        ChunkAssemblyRequest request;
        request.index = &index_;
        request.file = index_.FileAt(5);
        request.place = place_;
        request.placeOf = [this](uint64_t entry) {
            const auto found = places_.find(entry);
            return found == places_.end() ? std::string() : found->second;
        };
        request.output = UnpackTemporaryPath(place_);
        request.fetchStem = ChunkFetchStem(place_);
        request.size = static_cast<int64_t>(target_.size());
        request.crcText = Crc32Text(Crc32Of(target_));
        request.newFetcher = [this] { return std::make_unique<CountingStore::Connection>(store_); };
        request.storeBase = kBase;
        return AssembleFromChunks(request, stop);
    }

    size_t ChunksOfTarget() const { return index_.FileAt(5)->chunkCount; }

    test::TempDir root_, folder_;
    CountingStore store_;
    std::string game_, place_, target_;
    ChunkIndex index_;
    std::map<uint64_t, std::string> places_;
    std::atomic<bool> stop_{false};
};

TEST_F(ChunkAssemblyTest, TakesWhatTheOldFileHoldsAndFetchesOnlyTheRest) {
    const std::string old = test::MakeData(3 << 20, 7, false);
    std::string changed = old;
    // A few bytes changed in the middle and some inserted near the end: the chunks around them
    // change, every other chunk stays.
    for (size_t i = 0; i < 100; ++i) changed[(1 << 20) + i] ^= 0x5A;
    changed.insert(changed.size() - 300000, test::MakeData(5000, 9, false));
    Publish(changed);
    test::WriteFile(place_, old);

    const ChunkAssemblyResult result = Assemble(stop_);
    ASSERT_TRUE(result.ok()) << result.detail;
    EXPECT_EQ(test::ReadFile(UnpackTemporaryPath(place_)), changed);
    EXPECT_EQ(result.chunksFetched, store_.asked.size());
    EXPECT_GE(store_.asked.size(), 1u);
    EXPECT_LE(store_.asked.size(), 8u) << "of " << ChunksOfTarget();
    EXPECT_EQ(result.bytesReused + [&] {
        uint64_t fetched = 0;
        for (const IndexedChunk& chunk : index_.ChunksOf(*index_.FileAt(5)))
            for (const std::string& url : store_.asked)
                if (url.find(DigestHex(chunk.sha256)) != std::string::npos) fetched += chunk.size;
        return fetched;
    }(), changed.size());
    for (const std::string& url : store_.asked) EXPECT_EQ(url.rfind(std::string(kBase) + "chunks/", 0), 0u) << url;
    EXPECT_EQ(FolderNames(game_), (std::set<std::string>{"pak01.vpk", "pak01.vpk.orvanta-unpack"}));
}

TEST_F(ChunkAssemblyTest, TakesAChunkAnotherListedFileHolds) {
    const std::string shared = test::MakeData(1 << 20, 11, false);
    const std::string target = shared + test::MakeData(200000, 12, false);
    Publish(target, {{2, shared}});
    places_[2] = folder_.File("pak02.vpk");
    test::WriteFile(places_[2], shared);

    const ChunkAssemblyResult result = Assemble(stop_);
    ASSERT_TRUE(result.ok()) << result.detail;
    EXPECT_EQ(test::ReadFile(UnpackTemporaryPath(place_)), target);
    EXPECT_GE(result.bytesReused, (1u << 20) - kChunkMaxSize);
    EXPECT_LT(store_.asked.size(), ChunksOfTarget());
}

TEST_F(ChunkAssemblyTest, AListedFileThatChangedIsNotTrusted) {
    const std::string shared = test::MakeData(1 << 20, 11, false);
    const std::string target = shared + test::MakeData(200000, 12, false);
    Publish(target, {{2, shared}});
    places_[2] = folder_.File("pak02.vpk");
    test::WriteFile(places_[2], test::MakeData(1 << 20, 99, false));  // same size, other bytes

    const ChunkAssemblyResult result = Assemble(stop_);
    ASSERT_TRUE(result.ok()) << result.detail;
    EXPECT_EQ(test::ReadFile(UnpackTemporaryPath(place_)), target);
    EXPECT_EQ(store_.asked.size(), ChunksOfTarget());
}

struct Fault {
    const char* name;
    std::function<void(const std::string& root, const ChunkIndex& index)> spoil;
    ChunkFailure expected;
};

class ChunkStoreFaultTest : public ChunkAssemblyTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(ChunkStoreFaultTest, FailsAndLeavesNothing) {
    Publish(test::MakeData(2 << 20, 21, false));
    GetParam().spoil(store_.root, index_);
    std::atomic<bool> stop{false};
    const ChunkAssemblyResult result = Assemble(stop);
    EXPECT_EQ(result.failure, GetParam().expected) << result.detail;
    EXPECT_TRUE(FolderNames(game_).empty());
}

std::string StoredChunk(const std::string& root, const ChunkIndex& index, size_t n) {
    return root + "/" + ChunkPath(DigestHex(index.ChunksOf(*index.FileAt(5))[n].sha256));
}

INSTANTIATE_TEST_SUITE_P(
    Store, ChunkStoreFaultTest,
    ::testing::Values(
        Fault{"missing", [](const std::string& root, const ChunkIndex& index) { RemoveFile(StoredChunk(root, index, 3)); },
              ChunkFailure::Missing},
        Fault{"other_bytes",
              [](const std::string& root, const ChunkIndex& index) {
                  // Another chunk's packed bytes under this chunk's name.
                  test::WriteFile(StoredChunk(root, index, 2), test::ReadFile(StoredChunk(root, index, 1)));
              },
              ChunkFailure::NotDecodable},
        Fault{"same_size_other_bytes",
              [](const std::string& root, const ChunkIndex& index) {
                  const std::string bytes(index.ChunksOf(*index.FileAt(5))[2].size, 'x');
                  test::WriteFile(StoredChunk(root, index, 2),
                                  test::PackChunk(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
              },
              ChunkFailure::OtherBytes},
        Fault{"not_lzma",
              [](const std::string& root, const ChunkIndex& index) { test::WriteFile(StoredChunk(root, index, 0), "<html>"); },
              ChunkFailure::NotDecodable},
        Fault{"endless",
              [](const std::string& root, const ChunkIndex& index) {
                  test::WriteFile(StoredChunk(root, index, 4), std::string(kChunkPackedMaxSize + 1, 'z'));
              },
              ChunkFailure::NotDecodable}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(ChunkAssemblyTest, AStopLeavesNothing) {
    Publish(test::MakeData(2 << 20, 31, false));
    std::atomic<bool> stop{false};
    store_.beforeGet = [&] { stop = true; };
    const ChunkAssemblyResult result = Assemble(stop);
    EXPECT_EQ(result.failure, ChunkFailure::Stopped);
    EXPECT_TRUE(FolderNames(game_).empty());
}

}  // namespace
}  // namespace orv
