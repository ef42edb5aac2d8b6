// What a checklist entry names in the game folder and what a cut-off repair leaves beside a file:
// the rules the launcher's run and orvanta-tool check share.
#include "launcher/integrity/entry_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "launcher/integrity/checklist.h"
#include "launcher/integrity/chunk_assembly.h"

namespace orv {
namespace {

TEST(EntryRules, EachListedPathNamesWhatWindowsWouldMakeOfIt) {
    const TargetKind Refused = TargetKind::Refused, GameRoot = TargetKind::GameRoot, Folder = TargetKind::Folder,
                    File = TargetKind::File;
    const struct {
        const char* listed;
        bool zeroSize;
        TargetKind kind;
        const char* path;
    } cases[] = {
        {"\\hl2.exe", false, File, "\\hl2.exe"},
        {"\\cstrike\\cfg\\empty.cfg", true, File, "\\cstrike\\cfg\\empty.cfg"},
        {"\\cstrike\\maps\\.", true, Folder, "\\cstrike\\maps"},
        {"\\a/b.txt", false, File, "\\a\\b.txt"},
        // The game folder itself: nothing to create, nothing refused.
        {"\\.", true, GameRoot, ""},
        {"\\.", false, Refused, ""},
        // Trailing dots and blanks go, as Windows drops them, in every name of the path.
        {"\\readme.", false, File, "\\readme"},
        {"\\readme. .", true, File, "\\readme"},
        {"\\name ", false, File, "\\name"},
        {"\\maps.\\.", true, Folder, "\\maps"},
        {"\\maps \\de_dust2.bsp", false, File, "\\maps\\de_dust2.bsp"},
        {"\\a..\\b", false, File, "\\a\\b"},
        {"\\c..d", false, File, "\\c..d"},
        // What remains must be safe.
        {"\\..", false, Refused, ""},
        {"\\...", false, Refused, ""},
        {"\\. .\\x", false, Refused, ""},
        {"\\ ", true, Refused, ""},
        {"\\nul.", false, Refused, ""},
        {"\\con .", false, Refused, ""},
        {"\\a\\..\\..\\x", false, Refused, ""},
        {"\\a\\.\\b", false, Refused, ""},
        {"\\a\\\\b", false, Refused, ""},
        {"\\\\server\\share\\x", false, Refused, ""},
        {"\\C:\\x.", false, Refused, ""},
        {"\\x.:stream", false, Refused, ""},
        {"hl2.exe", false, Refused, ""},
        {"", true, Refused, ""},
        // A file entry may not name a folder.
        {"\\cstrike\\.", false, Refused, ""},
        {"\\.\\.", true, Refused, ""},
    };
    for (const auto& c : cases) {
        const EntryTarget target = ResolveEntry(c.listed, c.zeroSize);
        EXPECT_EQ(target.kind, c.kind) << c.listed << (c.zeroSize ? " (0)" : "");
        EXPECT_EQ(target.path, c.path) << c.listed;
        if (target.kind == TargetKind::Folder || target.kind == TargetKind::File) {
            EXPECT_TRUE(IsSafeRelativeEntryPath(target.path)) << c.listed;
        }
    }
}

TEST(EntryRules, TheEntryOverloadReadsTheSizeLineAsItStands) {
    const auto gameFolderEntry = [](std::string sizeText) {
        ChecklistEntry entry;
        entry.path = "\\.";
        entry.sizeText = std::move(sizeText);
        return entry;
    };
    EXPECT_EQ(ResolveEntry(gameFolderEntry("0")).kind, TargetKind::GameRoot);
    // "00" converts to 0, but is not the marker.
    EXPECT_EQ(ResolveEntry(gameFolderEntry("00")).kind, TargetKind::Refused);
}

TEST(EntryRules, AHugeLineIsRefusedWithoutGrowing) {
    EXPECT_EQ(ResolveEntry("\\" + std::string(100u << 20, 'a'), false).kind, TargetKind::Refused);
    EXPECT_EQ(ResolveEntry("\\" + std::string(LongestEntryPath, 'a') + ".", false).kind, TargetKind::Refused)
        << "too long even without its dot";
    EXPECT_EQ(ResolveEntry("\\" + std::string(LongestEntryPath - 1, 'a') + "...", false).kind, TargetKind::File);
}

TEST(EntryRules, LeftoversBesideAFileAreItsDownloadItsUnpackedContentTheDownloadsRecordAndChunks) {
    const std::vector<std::string> leftovers = LeftoversBeside("C:\\g\\hl2.exe");
    std::vector<std::string> expected = {"C:\\g\\hl2.exe.lzma", "C:\\g\\hl2.exe.orvanta-unpack",
                                         "C:\\g\\hl2.exe.lzma.orvanta-partial"};
    for (unsigned n = 1; n <= kMostChunkConnections; ++n) expected.push_back("C:\\g\\hl2.exe.orvanta-chunk" + std::to_string(n));
    EXPECT_EQ(leftovers, expected);
    EXPECT_EQ(ChunkFetchStem("C:\\g\\hl2.exe") + "1", leftovers[3]);
    EXPECT_EQ(PartialRecordPath("C:\\g\\hl2.exe"), leftovers[2]);
    for (const std::string& path : leftovers) EXPECT_NE(path, "C:\\g\\hl2.exe");
    EXPECT_TRUE(IsUnpackTemporaryPath(leftovers[1]));
    // A name met in a folder, whatever its letter case: Windows finds it under either.
    for (const auto& [name, leftover] : std::vector<std::pair<std::string, bool>>{
             {"hl2.exe.lzma", true}, {"HL2.EXE.LZMA", true}, {"a.Orvanta-Unpack", true}, {"x.lzma.txt", false},
             {".lzma", false}, {"lzma", false}, {"hl2.exe", false}, {"a.orvanta-unpac", false},
             {"hl2.exe.lzma.orvanta-partial", true}, {"HL2.EXE.LZMA.ORVANTA-PARTIAL", true},
             {".orvanta-partial", false}, {"a.orvanta-partial.txt", false},
             {"pak01.vpk.orvanta-chunk3", true}, {"PAK01.VPK.ORVANTA-CHUNK12", true}, {"a.orvanta-chunk", false},
             {".orvanta-chunk1", false}, {"a.orvanta-chunk123", false}, {"a.orvanta-chunk1.txt", false}})
        EXPECT_EQ(IsLeftoverName(name), leftover) << name;
}

}  // namespace
}  // namespace orv
