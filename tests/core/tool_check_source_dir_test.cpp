// "orvanta-tool check --source-dir": a file that differs comes from a folder holding the build when
// the copy there proves to be the listed file, and is fetched otherwise.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

#include "launcher/integrity/entry_rules.h"
#include "tool_check_fixture.h"

namespace orv::check {
namespace {

using namespace test_support;

constexpr const char* kDust = "cstrike\\maps\\de_dust2.bsp";

struct SourceFixture : RunFixture {
    std::string source = Join(dir.Path(), "share");
    std::vector<std::string> asked;
    std::mutex mutex;
    CheckPlatform platform = SystemCheckPlatform();

    SourceFixture() {
        std::filesystem::copy(test::FsPath(build), test::FsPath(source), std::filesystem::copy_options::recursive);
        platform.newFetcher = [this] {
            std::lock_guard lock(mutex);
            return std::unique_ptr<Fetcher>(new FolderFetcher(root, {}, &asked));
        };
    }
    CheckOptions Copying(bool dryRun) const {
        CheckOptions o = Options(true);
        o.repair = !dryRun;
        o.dryRun = dryRun;
        o.sourceDir = source;
        return o;
    }
    bool Asked(const std::string& name) {
        std::string url = std::string(kBase) + "cstrike/v34/" + name + ".lzma";
        std::replace(url.begin(), url.end(), '\\', '/');
        std::lock_guard lock(mutex);
        return std::find(asked.begin(), asked.end(), url) != asked.end();
    }
    const CheckEvent* Last(const RecordingSink& sink, const std::string& name) const {
        const CheckEvent* last = nullptr;
        for (const CheckEvent& e : sink.all)
            if (e.path == "\\" + name) last = &e;
        return last;
    }
};

TEST(ToolCheckSourceDir, OnlyACopyThatProvesToBeTheListedFileIsTaken) {
    SourceFixture f;
    const std::string dust = f.files.at(kDust);
    std::string otherCrc = dust;
    otherCrc[1000] ^= 1;
    struct Case {
        const char* name;
        std::function<void(const std::string& path)> source;
        bool copied;
    };
    const Case cases[] = {
        {"a good copy", [](const std::string&) {}, true},
        {"another size", [](const std::string& p) { test::WriteFile(p, "short"); }, false},
        {"another CRC-32", [&](const std::string& p) { test::WriteFile(p, otherCrc); }, false},
        {"missing", [](const std::string& p) { RemoveFile(p); }, false},
        {"a folder", [](const std::string& p) { RemoveFile(p), CreateDirectories(p); }, false},
    };
    for (const Case& c : cases) {
        const std::string copy = Join(f.source, kDust);
        std::filesystem::remove_all(test::FsPath(copy));
        test::WriteFile(copy, dust);
        c.source(copy);
        RemoveFile(Join(f.game, kDust));
        f.asked.clear();
        RecordingSink sink;
        const CheckSummary s = f.Run(f.Copying(false), sink, f.platform);
        const CheckEvent* last = f.Last(sink, kDust);
        ASSERT_TRUE(last) << c.name;
        EXPECT_EQ(EventName(last->kind), std::string("repaired")) << c.name;
        EXPECT_EQ(last->copied, c.copied) << c.name;
        EXPECT_EQ(f.Asked(kDust), !c.copied) << c.name;
        if (c.copied) {
            EXPECT_EQ(last->url, EntryPlace(f.source, "\\" + std::string(kDust)));
            EXPECT_EQ(last->bytes, static_cast<int64_t>(dust.size()));
        }
        EXPECT_EQ(ExitStatus(s), ExitMatches) << c.name;
        f.ExpectGameIsBuild();
        for (const std::string& name : f.Listing()) EXPECT_FALSE(IsUnpackTemporaryPath(name)) << c.name << ": " << name;
    }
}

TEST(ToolCheckSourceDir, TheFirstRunCopiesEverythingAndCountsItApartFromDownloads) {
    SourceFixture f;
    RecordingSink sink;
    const CheckSummary s = f.Run(f.Copying(false), sink, f.platform);
    EXPECT_EQ(s.copied, 4u);  // the empty file and the folders are made, not copied
    EXPECT_EQ(s.repaired, s.bad);
    EXPECT_EQ(s.bytesCopied, f.files.at("hl2.exe").size() + f.files.at(kDust).size() +
                                 f.files.at("cstrike\\cfg\\autoexec.cfg").size() +
                                 f.files.at("cstrike\\Игрок\\ник с пробелом.txt").size());
    EXPECT_EQ(s.bytesFetched, 0u);
    f.ExpectGameIsBuild();
    for (const std::string& url : f.asked) EXPECT_EQ(url.find("/v34/"), std::string::npos) << url;  // no game file
}

TEST(ToolCheckSourceDir, ADryRunTellsCopiesFromDownloadsAndWritesNothing) {
    SourceFixture f;
    test::WriteFile(Join(f.source, "hl2.exe"), "not the game");
    const std::set<std::string> before = f.Listing();
    RecordingSink sink;
    const CheckSummary s = f.Run(f.Copying(true), sink, f.platform);
    const auto events = sink.Joined();
    EXPECT_EQ(events.at("\\hl2.exe"), "bad would-fetch");
    EXPECT_EQ(events.at("\\" + std::string(kDust)), "bad would-copy");
    EXPECT_EQ(s.copied, 3u);
    EXPECT_EQ(s.toFetch, 1u);
    EXPECT_EQ(s.bytesToFetch, test::ReadFile(Join(f.root, "cstrike\\v34\\hl2.exe.lzma")).size());
    EXPECT_EQ(ExitStatus(s), ExitDifferences);
    EXPECT_EQ(f.Listing(), before);
    EXPECT_FALSE(f.Asked(kDust));  // the copy answered for it: not even asked for its length
}

}  // namespace
}  // namespace orv::check
