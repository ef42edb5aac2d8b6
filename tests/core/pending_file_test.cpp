// The file a download or a replacing write fills: kept only once complete; runs natively and under
// Wine.
#include <gtest/gtest.h>

#include <stdexcept>

#include "launcher/base/errors.h"
#include "launcher/platform/files.h"
#include "support/test_files.h"

namespace orv {
namespace {

TEST(PendingFile, StaysOnlyOnceKept) {
    test::TempDir dir;
    const std::string kept = dir.File("kept.bin");
    {
        PendingFile file(kept, FileSharing::None);
        file.Write("abc", 3);
        file.Write("de", 2);
        file.Keep();
    }
    EXPECT_EQ(test::ReadFile(kept), "abcde");

    // Given up, on its own or by an error, it goes together with the old file it truncated.
    const std::string dropped = dir.File("dropped.bin");
    test::WriteFile(dropped, "old");
    {
        PendingFile file(dropped);
        file.Write("new", 3);
    }
    EXPECT_FALSE(test::Exists(dropped));
    try {
        PendingFile file(dropped);
        file.Write("new", 3);
        throw std::runtime_error("broke off");
    } catch (const std::runtime_error&) {
    }
    EXPECT_FALSE(test::Exists(dropped));
}

TEST(PendingFile, RefusedCreationRaisesThePlatformError) {
    test::TempDir dir;
    EXPECT_THROW(PendingFile(dir.File("no such folder\\a.bin")), EOSError);
    EXPECT_FALSE(test::Exists(dir.File("no such folder")));
}

TEST(PendingFile, WriteNewFileLeavesTheWholeBytes) {
    test::TempDir dir;
    const std::string path = dir.File("whole.bin");
    test::WriteFile(path, "a longer old content");
    const std::string bytes = test::MakeData(70000, 5, false);
    WriteNewFile(path, bytes);
    EXPECT_EQ(test::ReadFile(path), bytes);
    EXPECT_THROW(WriteNewFile(dir.File("no such folder\\b.bin"), "x"), EOSError);
}

}  // namespace
}  // namespace orv
