// The extended-length form of long paths, as the check run's file services hand them to Windows.
#include "launcher/platform/long_path.h"

#include <gtest/gtest.h>

#include <string>

namespace orv {
namespace {

TEST(ExtendedLengthPath, LongAbsolutePathsTakeTheFormAndTheRestStandAsTheyAre) {
    // 250 units with the drive: past CreateDirectoryW's limit, short of MAX_PATH.
    const std::string deep = std::string(240, 'd');
    const std::string longDrive = "C:\\g\\" + deep + "\\f.bin";
    const std::string longUnc = "\\\\srv\\share\\" + deep + "\\f.bin";
    const struct {
        const char* name;
        std::string path;
        std::string expected;
    } cases[] = {
        {"short stays plain", "C:\\games\\hl2.exe", "C:\\games\\hl2.exe"},
        {"one below the limit", "C:\\" + std::string(PlainPathLimit - 4, 'a'), "C:\\" + std::string(PlainPathLimit - 4, 'a')},
        {"at the limit", "C:\\" + std::string(PlainPathLimit - 3, 'a'), "\\\\?\\C:\\" + std::string(PlainPathLimit - 3, 'a')},
        {"drive", longDrive, "\\\\?\\" + longDrive},
        {"share", longUnc, "\\\\?\\UNC\\srv\\share\\" + deep + "\\f.bin"},
        {"forward slashes and repeats", "C:/g//" + deep + "/./f.bin", "\\\\?\\" + longDrive},
        {"a dot-dot takes the name before it", "C:\\g\\x\\..\\" + deep + "\\f.bin", "\\\\?\\" + longDrive},
        {"never above the drive", "C:\\..\\..\\g\\" + deep + "\\f.bin", "\\\\?\\" + longDrive},
        {"never above the share", "\\\\srv\\share\\..\\" + deep + "\\f.bin", "\\\\?\\UNC\\srv\\share\\" + deep + "\\f.bin"},
        {"the last name loses trailing dots and blanks", longDrive + ". .", "\\\\?\\" + longDrive},
        {"another name loses one trailing dot", "C:\\g.\\" + deep + "\\f.bin", "\\\\?\\" + longDrive},
        {"a trailing separator stays", longDrive + "\\", "\\\\?\\" + longDrive + "\\"},
        {"already extended", "\\\\?\\" + longDrive, "\\\\?\\" + longDrive},
        {"a device path", "\\\\.\\" + longDrive, "\\\\.\\" + longDrive},
        {"relative", "g\\" + deep + "\\f.bin", "g\\" + deep + "\\f.bin"},
        {"rooted without a drive", "\\g\\" + deep + "\\f.bin", "\\g\\" + deep + "\\f.bin"},
        {"drive-relative", "C:g\\" + deep + "\\f.bin", "C:g\\" + deep + "\\f.bin"},
    };
    for (const auto& c : cases) EXPECT_EQ(ExtendedLengthPath(c.path), c.expected) << c.name;
}

TEST(ExtendedLengthPath, LengthIsCountedInUtf16Units) {
    // "ж" is two bytes and one unit: 245 of them make a short path in units, a long one in bytes.
    std::string cyrillic;
    for (size_t i = 0; i < PlainPathLimit - 4; ++i) cyrillic += "ж";
    EXPECT_EQ(ExtendedLengthPath("C:\\" + cyrillic), "C:\\" + cyrillic);
    EXPECT_EQ(ExtendedLengthPath("C:\\" + cyrillic + "ж"), "\\\\?\\C:\\" + cyrillic + "ж");
    // A character beyond the basic plane is two units.
    const std::string emoji = "\xF0\x9F\x98\x80";
    std::string half;
    for (size_t i = 0; i < (PlainPathLimit - 3) / 2; ++i) half += emoji;
    EXPECT_EQ(ExtendedLengthPath("C:\\" + half + "a").rfind("\\\\?\\", 0), 0u);
}

}  // namespace
}  // namespace orv
