#include "launcher/config/game_config.h"

#include <gtest/gtest.h>

#include <string>

#include "game_profile.h"
#include "launcher/base/app_state.h"
#include "launcher/base/errors.h"
#include "launcher/config/launcher_settings.h"
#include "launcher/platform/files.h"
#include "support/process_state.h"
#include "support/test_files.h"

#if defined(__linux__)
#include <unistd.h>
#endif

namespace orv {
namespace {

std::optional<std::string> Nick(std::string_view bytes) { return ConfigNicknameFromBytes(bytes); }

TEST(ConfigNicknameGame, OnlyForCstrikeInAnyLetterCase) {
    EXPECT_TRUE(UsesGameConfigNickname("cstrike"));
    EXPECT_TRUE(UsesGameConfigNickname("CStrike"));
    EXPECT_TRUE(UsesGameConfigNickname("CSTRIKE"));
    for (const char* other : {"", "csgo", "cstrik", "cstrike2", " cstrike", "cstrike_beta"})
        EXPECT_FALSE(UsesGameConfigNickname(other)) << other;
    EXPECT_EQ(UsesGameConfigNickname(), UsesGameConfigNickname(GameCode));
}

TEST(ConfigNicknameRead, ValuesAsTheGameWritesThem) {
    EXPECT_EQ(Nick("name \"Игрок\"\r\n"), "Игрок");
    EXPECT_EQ(Nick("name \"  Player\"\r\n"), "Player");
    EXPECT_EQ(Nick("name \"\t Player\"\r\n"), "Player");
    EXPECT_EQ(Nick("name \"Player  \""), "Player  ") << "nothing removed at the end";
    EXPECT_EQ(Nick("name \"\"\n"), "") << "an empty nickname is a nickname";
    EXPECT_EQ(Nick("name\"Player\""), "Player") << "the quote may stand at character 5";
    const std::string longName(300, 'n');
    EXPECT_EQ(Nick("name \"" + longName + "\""), longName) << "no 255-byte cut";
}

TEST(ConfigNicknameRead, TheFourCharacterRuleAsItStands) {
    // A comment after the quote is not parsed: the value, its quote and the comment less its last character.
    EXPECT_EQ(Nick("name \"Player\" // mine\r\n"), "Player\" // min");
    // Any key that begins with the four letters counts.
    EXPECT_EQ(Nick("namecolor \"red\"\r\n"), "red");
    // The capitalised key is not the game's.
    EXPECT_EQ(Nick("Name \"Big\"\r\n"), std::nullopt);
    EXPECT_EQ(Nick("  name \"Indented\"\r\n"), std::nullopt);
    // Too short once the last character is gone, or no quote from character 5 on.
    for (const char* unusable : {"name", "name\"", "name ", "name  ", "nameless", "name Player", "name \r\n"})
        EXPECT_EQ(Nick(unusable), std::nullopt) << unusable;
    // Without its closing quote a line loses its last letter, a whole Cyrillic one at that.
    EXPECT_EQ(Nick("name \"Игрок"), "Игро");
    EXPECT_EQ(Nick("name \"x"), "");
    // A last byte that is no part of a well-formed character goes alone.
    EXPECT_EQ(Nick("name \"ab\x80\x80"), "ab\x80");
    EXPECT_EQ(Nick("name \"ab\xD0"), "ab");
    EXPECT_EQ(Nick(""), std::nullopt);
    EXPECT_EQ(Nick("bind w +forward\r\nsensitivity \"2\"\r\n"), std::nullopt);
}

TEST(ConfigNicknameRead, TheLastMatchingLineDecides) {
    EXPECT_EQ(Nick("name \"First\"\r\nbind a b\r\nname \"Second\"\r\n"), "Second");
    EXPECT_EQ(Nick("name \"First\"\nnamecolor \"red\"\n"), "red");
    // An unusable line later on does not undo an earlier find.
    EXPECT_EQ(Nick("name \"First\"\nname\nName \"x\"\n"), "First");
    // Every kind of line end, a last line without one, and a byte-order mark before the first line.
    EXPECT_EQ(Nick("a\rname \"Cr\"\rb"), "Cr");
    EXPECT_EQ(Nick("a\nb\r\nname \"Last\""), "Last");
    EXPECT_EQ(Nick("\xEF\xBB\xBFname \"Marked\"\r\n"), "Marked");
}

TEST(ConfigValueWrite, ReplacesEveryLineThatBeginsWithThePrefix) {
    EXPECT_EQ(ConfigWithValue("bind w +forward\r\nname \"Old\"\r\nsensitivity \"2\"\r\nname \"Older\" //x\r\n", "name",
                              "Игрок"),
              "bind w +forward\r\nname \"Игрок\"\r\nsensitivity \"2\"\r\nname \"Игрок\"\r\n");
    // Only lines longer than the prefix, in its letter case, and not merely sharing four letters.
    EXPECT_EQ(ConfigWithValue("Name \"Big\"\r\nname \"\r\nnamecolor \"red\"\r\n", "name", "Player"),
              "Name \"Big\"\r\nname \"\r\nnamecolor \"red\"\r\nname \"Player\"\r\n");
    EXPECT_EQ(ConfigWithValue("name \"\"\r\n", "name", ""), "name \"\"\r\n");
    EXPECT_EQ(ConfigWithValue("", "name", "Player"), "name \"Player\"\r\n");
    EXPECT_EQ(ConfigWithValue("cl_cmdrate \"66\"\r\n", "cl_cmdrate", "100"), "cl_cmdrate \"100\"\r\n");
}

TEST(ConfigValueWrite, OtherLinesKeepTheirBytesWithCrLfEndsAndNoMark) {
    const std::string other = "// \xD0\x9F\xF0\x9F\x98\x80 \xFF\xFE not UTF-8 at all\t ";
    EXPECT_EQ(ConfigWithValue("\xEF\xBB\xBF" + other + "\nbind a \"b\"\r\r\n\nname \"Old\"", "name", "New"),
              other + "\r\nbind a \"b\"\r\n\r\n\r\nname \"New\"\r\n");
    EXPECT_EQ(ConfigWithValue("a\n", "name", "New"), "a\r\nname \"New\"\r\n");
}

TEST(ConfigValueWrite, TheValueIsTrimmedCutAndKeptOnItsLine) {
    EXPECT_EQ(ConfigWithValue("", "name", "  Player \t"), "name \"Player\"\r\n");
    std::string longName;
    for (int i = 0; i < 130; ++i) longName += "Ж";  // 260 bytes: byte 255 is half a letter
    EXPECT_EQ(ConfigWithValue("", "name", longName), "name \"" + longName.substr(0, 255) + "\"\r\n");
    // Nothing a player types can start a line of its own (here one the game would run as a command).
    EXPECT_EQ(ConfigWithValue("x\r\n", "name", "Pl\r\nbind w kill\rq\n"), "x\r\nname \"Pl  bind w kill q\"\r\n");
    // A quote inside stays as typed, and the reader gives it back the same.
    EXPECT_EQ(ConfigWithValue("", "name", "a\"b"), "name \"a\"b\"\r\n");
    EXPECT_EQ(Nick(ConfigWithValue("", "name", "a\"b")), "a\"b");
}

class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!UsesGameConfigNickname()) GTEST_SKIP() << "this build's game has no nickname line";
        GameFolder = dir_.Path();
        LauncherConfig = LauncherSettings();
    }
    std::string Path() const { return dir_.Path() + "\\cstrike\\cfg\\config.cfg"; }
    void Write(const std::string& bytes) const {
        CreateDirectories(dir_.Path() + "\\cstrike\\cfg");
        test::WriteFile(Path(), bytes);
    }
    std::string Read() const { return test::ReadFile(Path()); }

    test::TempDir dir_;

private:
    test::ProcessStateGuard state_;
};

TEST_F(ConfigFileTest, PathUnderTheCstrikeFolder) { EXPECT_EQ(GameConfigPath(), Path()); }

TEST_F(ConfigFileTest, ReadingSetsTheNicknameOnlyFromAUsableLine) {
    LauncherConfig.GamePlayerName = "FromSettings";
    ReadConfigNickname();
    EXPECT_EQ(LauncherConfig.GamePlayerName, "FromSettings") << "no config file";
    EXPECT_FALSE(test::Exists(Path()));

    Write("bind w +forward\r\nName \"Big\"\r\n");
    ReadConfigNickname();
    EXPECT_EQ(LauncherConfig.GamePlayerName, "FromSettings") << "no usable line";

    Write("bind w +forward\r\nname \"Игрок\"\r\n");
    ReadConfigNickname();
    EXPECT_EQ(LauncherConfig.GamePlayerName, "Игрок");
}

#if defined(__linux__)
TEST_F(ConfigFileTest, AnUnreadableConfigRaises) {
    CreateDirectories(dir_.Path() + "\\cstrike\\cfg");
    ASSERT_EQ(::symlink("/proc/self/mem", (dir_.Path() + "/cstrike/cfg/config.cfg").c_str()), 0);
    LauncherConfig.GamePlayerName = "FromSettings";
    EXPECT_THROW(ReadConfigNickname(), EOSError);
    EXPECT_THROW(WriteConfigNickname(), EOSError);
    EXPECT_EQ(LauncherConfig.GamePlayerName, "FromSettings");
}
#endif

TEST_F(ConfigFileTest, AMissingConfigIsNeverCreated) {
    LauncherConfig.GamePlayerName = "Player";
    WriteConfigNickname();
    WriteConfigValue("name", "Player", Path());
    EXPECT_FALSE(test::Exists(Path()));
    EXPECT_FALSE(test::Exists(dir_.Path() + "\\cstrike"));
}

TEST_F(ConfigFileTest, TheNicknameRoundTripsThroughTheFile) {
    const std::string rest = "bind \"w\" \"+forward\"\nsensitivity \"2.5\"\n";
    Write(rest + "name \"Old\"\nName \"Big\"\n");
    LauncherConfig.GamePlayerName = " Игрок ";
    WriteConfigNickname();
    EXPECT_EQ(Read(), "bind \"w\" \"+forward\"\r\nsensitivity \"2.5\"\r\nname \"Игрок\"\r\nName \"Big\"\r\n");
    LauncherConfig.GamePlayerName.clear();
    ReadConfigNickname();
    EXPECT_EQ(LauncherConfig.GamePlayerName, "Игрок");

    // A nickname cannot bring a line of its own into the file.
    LauncherConfig.GamePlayerName = "Pl\r\nbind w kill\r\nname \"Other";
    WriteConfigNickname();
    EXPECT_EQ(Read(), "bind \"w\" \"+forward\"\r\nsensitivity \"2.5\"\r\nname \"Pl  bind w kill  name \"Other\"\r\nName \"Big\"\r\n");
    ReadConfigNickname();
    EXPECT_EQ(LauncherConfig.GamePlayerName, "Pl  bind w kill  name \"Other");
}

TEST_F(ConfigFileTest, ARefusedWriteRaisesAndLeavesTheFile) {
    const std::string before = "\xEF\xBB\xBFname \"Old\"\nbind a b\n";
    Write(before);
    test::SetReadOnly(Path(), true);
    LauncherConfig.GamePlayerName = "New";
    EXPECT_THROW(WriteConfigNickname(), EOSError);
    EXPECT_THROW(WriteConfigValue("name", "New", Path()), EOSError);
    test::SetReadOnly(Path(), false);
    EXPECT_EQ(Read(), before);
}

}  // namespace
}  // namespace orv
