#include <gtest/gtest.h>

#include "launcher/base/errors.h"
#include "tools/mirror.h"

namespace orv::mirror {
namespace {

const std::string kSha(64, 'a');

MirrorRecord Record(std::string owner, int64_t packed, int64_t mtime, int64_t size, std::string crc, std::string sha = {}) {
    return {std::move(owner), packed, mtime, size, std::move(crc), std::move(sha)};
}

bool Same(const MirrorRecord& a, const MirrorRecord& b) {
    return a.owner == b.owner && a.packedSize == b.packedSize && a.mtime == b.mtime && a.size == b.size &&
           a.crcText == b.crcText && a.sha256 == b.sha256;
}

TEST(MirrorState, RoundTripKeepsEveryField) {
    MirrorState state;
    state["cstrike/v1/maps/de dust.bsp.lzma"] = Record("ck1", 1234, -5, 99999, "4294967295", kSha);
    state["cstrike/inf.ini"] = Record("", 10, 1700000000123456789, -1, "");
    state["cstrike/v1/Игрок/ник.txt.lzma"] = Record("ck 2", 1, 2, 0, "0");
    const MirrorState read = ReadState(WriteState(state));
    ASSERT_EQ(read.size(), state.size());
    for (const auto& [path, record] : state) {
        ASSERT_TRUE(read.count(path)) << path;
        EXPECT_TRUE(Same(read.at(path), record)) << path;
    }
}

TEST(MirrorState, GarbledOrHostileLinesAreDropped) {
    const std::string header = "orvanta-mirror-state 1\n";
    const std::string good = "a/b.lzma\tck\t10\t5\t20\t123\t-\n";
    struct Case {
        const char* what;
        std::string line;
    };
    const Case cases[] = {
        {"a path that climbs out", "../etc/passwd\tck\t10\t5\t20\t123\t-\n"},
        {"a climb percent-encoded", "a/%2e%2e/x\tck\t10\t5\t20\t123\t-\n"},
        {"an absolute path", "/etc/passwd\tck\t10\t5\t20\t123\t-\n"},
        {"a drive letter", "c:/x\tck\t10\t5\t20\t123\t-\n"},
        {"a backslash", "a\\..\\x\tck\t10\t5\t20\t123\t-\n"},
        {"the state file itself", ".orvanta-mirror\tck\t10\t5\t20\t123\t-\n"},
        {"the staging folder", ".orvanta-mirror.staging/inf.ini\t-\t10\t5\t-1\t-\t-\n"},
        {"a part file", "a/b.lzma.orvanta-part\tck\t10\t5\t20\t123\t-\n"},
        {"too few fields", "a/c.lzma\tck\t10\t5\t20\n"},
        {"too many fields", "a/c.lzma\tck\t10\t5\t20\t123\t-\tmore\n"},
        {"a size that is no number", "a/c.lzma\tck\t1x\t5\t20\t123\t-\n"},
        {"a negative packed size", "a/c.lzma\tck\t-1\t5\t20\t123\t-\n"},
        {"a CRC-32 of letters", "a/c.lzma\tck\t10\t5\t20\tabc\t-\n"},
        {"a short SHA-256", "a/c.lzma\tck\t10\t5\t20\t123\tabcd\n"},
        {"a control character in the path", "a/\x01.lzma\tck\t10\t5\t20\t123\t-\n"},
        {"an overlong line", "a/" + std::string(kMostStateLine, 'x') + "\tck\t10\t5\t20\t123\t-\n"},
    };
    for (const Case& c : cases) {
        const MirrorState state = ReadState(header + c.line + good);
        EXPECT_EQ(state.size(), 1u) << c.what;
        EXPECT_TRUE(state.count("a/b.lzma")) << c.what;
    }
}

TEST(MirrorState, AnotherFormatIsNotTrusted) {
    EXPECT_TRUE(ReadState("orvanta-mirror-state 2\na/b.lzma\tck\t10\t5\t20\t123\t-\n").empty());
    EXPECT_TRUE(ReadState("").empty());
    EXPECT_TRUE(ReadState("a/b.lzma\tck\t10\t5\t20\t123\t-\n").empty());
}

TEST(MirrorState, TooManyRecordsAreRefused) {
    std::string text = "orvanta-mirror-state 1\n";
    for (char digit = '0'; digit <= '9'; ++digit) {
        text += 'f';
        text += digit;
        text += "\t-\t1\t1\t-1\t-\t-\n";
    }
    EXPECT_EQ(ReadState(text, 10).size(), 10u);
    EXPECT_EQ(ReadState(text + "f0\t-\t2\t1\t-1\t-\t-\n", 10).at("f0").packedSize, 2);  // the later line wins
    EXPECT_THROW(ReadState(text + "f10\t-\t1\t1\t-1\t-\t-\n", 10), Error);
}

TEST(MirrorDecision, FromRecordDiskAndListing) {
    const ListedFile listed{20, "123", ""};
    const ListedFile hashed{20, "123", kSha};
    const MirrorRecord record = Record("ck", 10, 5, 20, "123");
    const MirrorRecord withSha = Record("ck", 10, 5, 20, "123", kSha);
    const MirrorRecord otherSha = Record("ck", 10, 5, 20, "123", std::string(64, 'b'));
    const DiskFile same{true, 10, 5};
    struct Case {
        const char* what;
        const MirrorRecord* record;
        DiskFile disk;
        ListedFile listed;
        Decision want;
    };
    const Case cases[] = {
        {"missing on disk", &record, {false, -1, 0}, listed, Decision::Fetch},
        {"missing, no record", nullptr, {false, -1, 0}, listed, Decision::Fetch},
        {"record vouches, same listing", &record, same, listed, Decision::Keep},
        {"present without a record", nullptr, same, listed, Decision::Verify},
        {"other size on disk", &record, {true, 11, 5}, listed, Decision::Verify},
        {"touched on disk", &record, {true, 10, 6}, listed, Decision::Verify},
        {"listing has another CRC-32", &record, same, {20, "124", ""}, Decision::Fetch},
        {"listing has another size", &record, same, {21, "123", ""}, Decision::Fetch},
        {"hash list came since", &record, same, hashed, Decision::Verify},
        {"same SHA-256", &withSha, same, hashed, Decision::Keep},
        {"other SHA-256", &otherSha, same, hashed, Decision::Fetch},
        {"hash list went", &withSha, same, listed, Decision::Keep},
    };
    for (const Case& c : cases) EXPECT_EQ(Decide(c.record, c.disk, c.listed), c.want) << c.what;
}

// A chunk's name is its content: the record counts only with the indexed packed size on disk.
TEST(MirrorDecision, ChunksFromRecordAndDisk) {
    IndexedChunk chunk;
    chunk.sha256.fill(0xaa);
    chunk.size = 65536;
    chunk.packedSize = 66000;
    const MirrorRecord record = Record("ck", 66000, 5, 65536, "1", kSha);
    const MirrorRecord otherDigest = Record("ck", 66000, 5, 65536, "1", std::string(64, 'b'));
    const MirrorRecord otherSize = Record("ck", 66000, 5, 65535, "1", kSha);
    const DiskFile same{true, 66000, 5};
    struct Case {
        const char* what;
        const MirrorRecord* record;
        DiskFile disk;
        Decision want;
    };
    const Case cases[] = {
        {"missing", &record, {false, -1, 0}, Decision::Fetch},
        {"recorded, same packed size", &record, same, Decision::Keep},
        {"another packed size on disk", &record, {true, 65999, 5}, Decision::Fetch},
        {"present without a record", nullptr, same, Decision::Verify},
        {"touched since it was recorded", &record, {true, 66000, 6}, Decision::Verify},
        {"a record of another digest", &otherDigest, same, Decision::Verify},
        {"a record of another size", &otherSize, same, Decision::Verify},
    };
    for (const Case& c : cases) EXPECT_EQ(DecideChunk(c.record, c.disk, chunk), c.want) << c.what;
}

TEST(MirrorPaths, ChunkStorePathsAreExact) {
    const std::string hex(64, 'a');
    EXPECT_TRUE(IsChunkStorePath("chunks/aa/" + hex + ".lzma"));
    for (const std::string& path : {"chunks/ab/" + hex + ".lzma", "chunks/aa/" + hex + ".lzma.orvanta-part",
                                    "chunks/aa/" + std::string(63, 'a') + "A.lzma", "chunks/aa/" + hex + ".bin",
                                    "chunk/aaa/" + hex + ".lzma", "cstrike/aa/" + hex + ".lzma"})
        EXPECT_FALSE(IsChunkStorePath(path)) << path;
}

TEST(MirrorPaths, BelowTheBaseOnly) {
    const std::string base = "http://origin.example/up/";
    struct Case {
        const char* address;
        const char* entry;
        std::optional<std::string> want;
    };
    const Case cases[] = {
        {"http://origin.example/up/cstrike/v1", "\\maps\\a.bsp", "cstrike/v1/maps/a.bsp.lzma"},
        {"http://origin.example/up/cstrike/v1/", "\\a.txt", "cstrike/v1/a.txt.lzma"},
        {"http://other.example/up/cstrike/v1", "\\a.txt", std::nullopt},
        {"http://origin.example/cstrike/v1", "\\a.txt", std::nullopt},
        {"http://origin.example/up/", "\\a.txt", std::nullopt},
        {"http://origin.example/up/../v1", "\\a.txt", std::nullopt},
        {"http://origin.example/up/%2E%2E/v1", "\\a.txt", std::nullopt},
        {"http://origin.example/up/cstrike/v1", "\\..\\..\\a.txt", std::nullopt},
        {"http://origin.example/up/cstrike/v1", "\\c:\\a.txt", std::nullopt},
        {"http://origin.example/up/.orvanta-mirror", "\\a.txt", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(MirrorFilePath(c.address, base, c.entry), c.want) << c.address << c.entry;
}

TEST(MirrorOrder, NothingLastUnlessEveryBuildIsComplete) {
    struct Case {
        const char* what;
        std::vector<BuildOutcome> builds;
        bool anyFailed;
        bool interrupted;
        std::vector<std::string> checklists;
        bool finish;
    };
    const Case cases[] = {
        {"all complete", {{"a", true}, {"b", true}}, false, false, {"a", "b"}, true},
        {"one build failed", {{"a", true}, {"b", false}}, true, false, {"a"}, false},
        {"a failure outside the builds", {{"a", true}}, true, false, {"a"}, false},
        {"interrupted", {{"a", true}}, false, true, {}, false},
        {"no builds", {}, false, false, {}, true},
    };
    for (const Case& c : cases) {
        const PlacementPlan plan = PlanPlacement(c.builds, c.anyFailed, c.interrupted);
        EXPECT_EQ(plan.checklists, c.checklists) << c.what;
        EXPECT_EQ(plan.finish, c.finish) << c.what;
    }
}

TEST(MirrorArguments, ProblemsAreNamed) {
    struct Case {
        std::vector<std::string> args;
        const char* problem;  // a part of it; nullptr: accepted
    };
    const Case cases[] = {
        {{"--server", "http://o/", "--to", "m"}, nullptr},
        {{"--to", "m"}, "--server"},
        {{"--server", "http://o/"}, "--to"},
        {{"--server", "ftp://o/", "--to", "m"}, "http"},
        {{"--server", "http://o/", "--to", "m", "--build-name", "v1"}, "--game-name"},
        {{"--server", "http://o/", "--to", "m", "--jobs", "65"}, "--jobs"},
        {{"--server", "http://o/", "--to", "m", "--game-code", "../x"}, "--game-code"},
        {{"--server", "http://o/", "--to", "m", "--dry-run", "--dry-run"}, "twice"},
        {{"--server", "http://o/", "--to", "m", "--unknown"}, "unknown"},
    };
    for (const Case& c : cases) {
        MirrorOptions options;
        const std::optional<std::string> problem = ParseMirrorArguments(c.args, options);
        if (!c.problem) {
            EXPECT_FALSE(problem) << *problem;
            EXPECT_EQ(options.serverBase, "http://o/");
        } else {
            ASSERT_TRUE(problem) << c.problem;
            EXPECT_NE(problem->find(c.problem), std::string::npos) << *problem;
        }
    }
}

}  // namespace
}  // namespace orv::mirror
