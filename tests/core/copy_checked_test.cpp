// The copy of a file from a folder holding the build: taken only when it proves to be the listed
// file, and nothing left at the output otherwise.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <optional>

#include "launcher/integrity/crc32.h"
#include "launcher/integrity/file_check.h"
#include "launcher/platform/files.h"
#include "support/test_files.h"

namespace orv {
namespace {

TEST(CopyChecked, OnlyTheListedContentReachesTheOutput) {
    test::TempDir dir;
    const std::string listed = test::MakeData(300000, 7, false);
    const std::string crc = Crc32Text(Crc32Of(listed));
    std::string otherCrc = listed;
    otherCrc[299999] ^= 1;
    Sha256Digest otherHash = Sha256Of(listed);
    otherHash[0] ^= 1;
    struct Case {
        const char* name;
        std::function<void(const std::string& source)> make;
        std::optional<Sha256Digest> sha256;
        bool write;
        UnpackState state;
    };
    const Case cases[] = {
        {"the listed file", [&](const std::string& p) { test::WriteFile(p, listed); }, std::nullopt, true, UnpackState::Unpacked},
        {"with its signed hash", [&](const std::string& p) { test::WriteFile(p, listed); }, Sha256Of(listed), true,
         UnpackState::Unpacked},
        {"only read", [&](const std::string& p) { test::WriteFile(p, listed); }, std::nullopt, false, UnpackState::Unpacked},
        {"another hash", [&](const std::string& p) { test::WriteFile(p, listed); }, otherHash, true, UnpackState::OtherHash},
        {"another CRC-32", [&](const std::string& p) { test::WriteFile(p, otherCrc); }, std::nullopt, true,
         UnpackState::OtherContent},
        {"another size", [&](const std::string& p) { test::WriteFile(p, listed + "x"); }, std::nullopt, true,
         UnpackState::NotUnpacked},
        {"missing", [](const std::string&) {}, std::nullopt, true, UnpackState::NotUnpacked},
        {"a folder", [](const std::string& p) { CreateDirectories(p); }, std::nullopt, true, UnpackState::NotUnpacked},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string source = dir.File("source" + std::to_string(n)), output = dir.File("out" + std::to_string(n++));
        c.make(source);
        std::atomic<bool> stop{false};
        std::vector<char> buffer(4096);  // several blocks for the file
        const UnpackOutcome outcome =
            CopyChecked(source, c.write ? output : std::string(), static_cast<int64_t>(listed.size()), crc, stop, c.sha256, buffer);
        EXPECT_EQ(outcome.state, c.state) << c.name;
        const bool kept = c.write && c.state == UnpackState::Unpacked;
        EXPECT_EQ(test::Exists(output), kept) << c.name;
        if (kept) {
            EXPECT_EQ(test::ReadFile(output), listed) << c.name;
        }
    }
}

TEST(CopyChecked, AStopLeavesNothing) {
    test::TempDir dir;
    const std::string listed = test::MakeData(100000, 3, false);
    test::WriteFile(dir.File("source"), listed);
    std::atomic<bool> stop{true};
    std::vector<char> buffer;
    const UnpackOutcome outcome =
        CopyChecked(dir.File("source"), dir.File("out"), 100000, Crc32Text(Crc32Of(listed)), stop, std::nullopt, buffer);
    EXPECT_EQ(outcome.state, UnpackState::Stopped);
    EXPECT_FALSE(test::Exists(dir.File("out")));
}

}  // namespace
}  // namespace orv
