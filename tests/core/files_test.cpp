// Whole-file reads, renames and a held file's move as the saves, repairs and the self-update swap
// use them; runs natively and under Wine.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "launcher/base/errors.h"
#include "launcher/platform/files.h"
#include "support/test_files.h"

namespace orv {
namespace {

TEST(ReadFileBytes, ReadsTheWholeFileOrRaises) {
    test::TempDir dir;
    // Empty, shorter than one block, exactly one, and several with a rest.
    for (size_t size : {size_t{0}, size_t{3}, size_t{65536}, size_t{200003}}) {
        std::string name = "f";
        name += std::to_string(size);
        const std::string path = dir.File(name);
        const std::string bytes = test::MakeData(size, 11, false);
        test::WriteFile(path, bytes);
        EXPECT_EQ(ReadFileBytes(path), bytes) << size;
    }
    EXPECT_THROW(ReadFileBytes(dir.File("missing")), EOSError);
    EXPECT_THROW(ReadFileBytes(dir.Path()), EOSError);
}

TEST(RenameFile, RefusesOrReplacesAnExistingTarget) {
    const struct {
        const char* name;
        bool targetExists;
        ExistingTarget existing;
        bool moves;
    } cases[] = {
        {"free name, refuse", false, ExistingTarget::Refuse, true},
        {"free name, replace", false, ExistingTarget::Replace, true},
        {"taken name, refuse", true, ExistingTarget::Refuse, false},
        {"taken name, replace", true, ExistingTarget::Replace, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::string from = dir.File("from.bin");
        const std::string to = dir.File("to.bin");
        test::WriteFile(from, "moved");
        if (c.targetExists) test::WriteFile(to, "there before");
        if (c.moves) {
            RenameFile(from, to, c.existing);
        } else {
            EXPECT_THROW(RenameFile(from, to, c.existing), EOSError);
        }
        EXPECT_EQ(test::Exists(from), !c.moves);
        EXPECT_EQ(test::ReadFile(to), c.moves ? "moved" : "there before");
    }
    test::TempDir dir;
    EXPECT_THROW(RenameFile(dir.File("missing"), dir.File("to"), ExistingTarget::Replace), EOSError);
    EXPECT_FALSE(test::Exists(dir.File("to")));
}

TEST(HeldFile, MovesToAFreeNameOnlyAndStaysHeldOnARefusal) {
    test::TempDir dir;
    const std::string fresh = dir.File("Orvanta.exe.new");
    const std::string exe = dir.File("Orvanta.exe");
    test::WriteFile(fresh, "MZ new");
    test::WriteFile(exe, "MZ running");
    HeldFile held(fresh);
    held.Flush();
    EXPECT_THROW(held.MoveTo(exe), EOSError);
    EXPECT_EQ(test::ReadFile(exe), "MZ running");
    // Not read while held: Windows refuses an open that would share writing with the holder.
    EXPECT_TRUE(test::Exists(fresh));
    // Still held after the refusal: once the name is free the same hold moves it.
    RenameFile(exe, exe + ".old", ExistingTarget::Refuse);
    held.MoveTo(exe);
    EXPECT_EQ(test::ReadFile(exe), "MZ new");
    EXPECT_FALSE(test::Exists(fresh));
    EXPECT_EQ(test::ReadFile(exe + ".old"), "MZ running");

    EXPECT_THROW(HeldFile(dir.File("missing")), EOSError);
}

TEST(FileOpenForAppend, CutsAtTheKeptLengthAndWritesOnFromThere) {
    const struct {
        const char* name;
        size_t before;
        uint64_t keep;
        bool opens;
    } cases[] = {
        {"keeps all", 10, 10, true},
        {"cuts a tail", 10, 4, true},
        {"keeps nothing", 10, 0, true},
        {"empty file", 0, 0, true},
        {"shorter than the part to keep", 3, 4, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::string path = dir.File("part.bin");
        const std::string old = test::MakeData(c.before, 5, false);
        test::WriteFile(path, old);
        if (!c.opens) {
            EXPECT_THROW(File::OpenForAppend(path, c.keep), EOSError);
            EXPECT_EQ(test::ReadFile(path), old);
            continue;
        }
        File file = File::OpenForAppend(path, c.keep, FileSharing::None);
        EXPECT_EQ(file.Size(), c.keep);
        file.Write("rest", 4);
        file.Close();
        EXPECT_EQ(test::ReadFile(path), old.substr(0, c.keep) + "rest");
    }
    test::TempDir dir;
    EXPECT_THROW(File::OpenForAppend(dir.File("missing"), 0), EOSError);
    EXPECT_FALSE(test::Exists(dir.File("missing")));
    const std::string locked = dir.File("read-only.bin");
    test::WriteFile(locked, "kept");
    test::SetReadOnly(locked, true);
    EXPECT_THROW(File::OpenForAppend(locked, 2), EOSError);
    test::SetReadOnly(locked, false);
    EXPECT_EQ(test::ReadFile(locked), "kept");
}

}  // namespace
}  // namespace orv
