// The real window's check run over WinInet against nginx, on a build published in chunks: a large
// file that differs is built from the chunks it lacks, and nothing else is fetched for it. Run
// through tests/rig/with-servers.sh.
#include <windows.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "launcher/integrity/checklist.h"
#include "launcher/integrity/entry_rules.h"
#include "launcher/integrity/lzma_alone.h"
#include "support/chunk_store.h"
#include "support/hooked_fetcher.h"
#include "win_net/check_run_window_fixture.h"

namespace orv {
namespace {

class CheckRunChunksWindowTest : public CheckRunWindowTest {};

TEST_F(CheckRunChunksWindowTest, ALargeFileThatDiffersIsBuiltFromItsChunksThroughWinInet) {
    const std::string big = test::MakeData((4 << 20) + 70000, 61, false);
    const std::string relative = "cstrike\\pak01_dir.vpk";
    PutBuild(relative, big);
    // The index and store are made here with the core's own rule, not by the publisher.
    publish_.chunks = false;
    Publish();
    const test::TempDir scratch;
    const std::string plain = scratch.File("css34.dim");
    ASSERT_TRUE(TLZMAAlone().Main(ServerRootFile(ChecklistPath("css34")), plain, "d"));
    ChecklistReader entries = ChecklistReader::Open(plain, CodePage::Windows1251);
    ChunkIndex index;
    for (uint64_t entry = 0; !entries.AtEnd(); ++entry)
        if (entries.Next().path == "\\" + relative) test::AddChunked(index, serverRoot_, entry, big);
    index.Seal();
    test::WriteFile(ServerRootFile(ChunkIndexPath("css34")), ChunkIndexText(index));

    Start();
    for (const auto& [name, bytes] : files_) PutGame(name, bytes);
    std::string damaged = big;
    for (size_t i = 0; i < 10; ++i) damaged[(1 << 20) + i * 3001] ^= 0x7F;
    PutGame(relative, damaged);

    std::mutex mutex;
    std::vector<std::string> urls;
    adjust = [&](CheckRunPlatform& platform) {
        test::HookFetches(platform, [&](const std::string& url, const std::string&) {
            std::lock_guard lock(mutex);
            urls.push_back(url);
            return url;
        });
    };
    form_->Events.Image_Button_CheckClick();

    EXPECT_EQ(Messages(), std::vector<std::string>{"Проверка файлов прошла успешно"});
    EXPECT_TRUE(test::ReadFile(Game(relative)) == big) << "not repaired";
    ASSERT_GE(urls.size(), 2u);
    EXPECT_EQ(urls[0], ChunkIndexUrl("css34", serverBase_));
    for (size_t i = 1; i < urls.size(); ++i) EXPECT_EQ(urls[i].rfind(serverBase_ + "chunks/", 0), 0u) << urls[i];
    EXPECT_LE(urls.size(), 1u + 10u) << "ten changed bytes in a 30 KB stretch";
    for (const std::string& leftover : LeftoversBeside(Game(relative))) EXPECT_FALSE(test::Exists(leftover)) << leftover;
    EXPECT_FALSE(test::Exists(Game("css34.dim.chunks")));
    ExpectIdle();
}

}  // namespace
}  // namespace orv
