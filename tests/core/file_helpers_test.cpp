// File sizes, emptying files and short paths as the file checker and the console-tool command line
// use them; runs natively and under Wine.
#include <gtest/gtest.h>

#include "launcher/base/errors.h"
#include "launcher/platform/file_helpers.h"
#include "support/test_files.h"

namespace orv {
namespace {

TEST(FileHelpers, FileSize64ReportsSizesAndMinusOneForMissingFiles) {
    test::TempDir dir;
    EXPECT_EQ(FileSize64(dir.File("missing.bin")), -1);
    EXPECT_EQ(FileSize64(dir.File("no folder\\missing.bin")), -1);
    EXPECT_EQ(FileSize64(""), -1);
    for (size_t size : {size_t{0}, size_t{1}, size_t{4096}, size_t{65521}, size_t{1} << 20}) {
        // Appended piecewise: GCC 12 misreads "f" + to_string(...) as an overlapping copy.
        std::string name = std::to_string(size);
        name.insert(0, 1, 'f');
        name += ".bin";
        const std::string path = dir.File(name);
        test::WriteFile(path, test::MakeData(size, 7, false));
        EXPECT_EQ(FileSize64(path), static_cast<int64_t>(size)) << size;
    }
    EXPECT_EQ(FileSize64(dir.Path()), 0);
}

TEST(FileHelpers, CreateEmptyFileLeavesZeroBytesOrRaises) {
    test::TempDir dir;
    const std::string fresh = dir.File("fresh.bin");
    CreateEmptyFile(fresh);
    EXPECT_TRUE(test::Exists(fresh));
    EXPECT_EQ(FileSize64(fresh), 0);

    for (size_t size : {size_t{0}, size_t{1}, size_t{65521}}) {
        const std::string path = dir.File("old" + std::to_string(size) + ".bin");
        test::WriteFile(path, test::MakeData(size, 3, true));
        CreateEmptyFile(path);
        EXPECT_EQ(test::ReadFile(path), "") << size;
    }

    try {
        CreateEmptyFile(dir.File("no such folder\\file.bin"));
        ADD_FAILURE() << "a file in a missing folder was reported as created";
    } catch (const EOSError& e) {
        EXPECT_NE(e.Code(), 0u);
        EXPECT_STRNE(e.what(), "");
    }

    // A read-only file is refused and keeps its bytes.
    const std::string locked = dir.File("locked.bin");
    test::WriteFile(locked, "keep");
    test::SetReadOnly(locked, true);
    EXPECT_THROW(CreateEmptyFile(locked), EOSError);
    test::SetReadOnly(locked, false);
    EXPECT_EQ(test::ReadFile(locked), "keep");
}

TEST(FileHelpers, ShortPathOfAnExistingPathNamesTheSameFile) {
    test::TempDir dir;
    EXPECT_EQ(GetShortPath(dir.File("missing.exe")), "");
    EXPECT_EQ(GetShortPath(dir.File("missing folder\\tool.exe")), "");
    EXPECT_EQ(GetShortPath(""), "");

    const std::string path = dir.File("a rather long file name with blanks.data");
    test::WriteFile(path, "same file");
    const std::string shortPath = GetShortPath(path);
    ASSERT_FALSE(shortPath.empty());
    EXPECT_EQ(test::ReadFile(shortPath), "same file");
    // Written through the short form, read through the long one.
    test::WriteFile(shortPath, "changed");
    EXPECT_EQ(test::ReadFile(path), "changed");

    EXPECT_FALSE(GetShortPath(dir.Path()).empty());
}

}  // namespace
}  // namespace orv
