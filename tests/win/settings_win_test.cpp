// The settings file through the real Win32 file layer: wide paths, attributes and sharing.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "game_profile.h"
#include "launcher/base/app_state.h"
#include "launcher/base/errors.h"
#include "launcher/base/message_box.h"
#include "launcher/config/launcher_settings.h"
#include "launcher/platform/files.h"
#include "launcher/platform/scoped_win.h"
#include "launcher/platform/wide_win.h"
#include "support/test_files.h"

namespace orv {
namespace {

class SettingsWinTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedFolder_ = GameFolder;
        savedConfig_ = LauncherConfig;
        folder_ = dir_.Path() + "\\Игра Папка";
        CreateDirectories(folder_);
        GameFolder = folder_;
        LauncherConfig = LauncherSettings();
        previous_ = SetMessageHandler([this](const MessageRequest& request) {
            messages_.push_back(request.text);
            return MsgResult::Ok;
        });
    }
    void TearDown() override {
        SetMessageHandler(previous_);
        GameFolder = savedFolder_;
        LauncherConfig = savedConfig_;
    }
    std::string Path() const { return folder_ + "\\" + SettingsFileName; }

    test::TempDir dir_;
    std::string folder_;
    std::vector<std::string> messages_;

private:
    std::string savedFolder_;
    LauncherSettings savedConfig_;
    MessageHandler previous_;
};

TEST_F(SettingsWinTest, CyrillicNicknameRoundTripsInACyrillicFolder) {
    LoadLauncherSettings();
    LauncherConfig.GamePlayerName = "Игрок";
    LauncherConfig.GameClanTag = "Клан";
    SaveLauncherSettings();

    // The file lies under the wide name, and holds the nickname as UTF-8 bytes.
    EXPECT_NE(::GetFileAttributesW(Wide(Path()).c_str()), INVALID_FILE_ATTRIBUTES);
    const std::string bytes = test::ReadFile(Path());
    EXPECT_NE(bytes.find("\r\nGamePlayerName=\xD0\x98\xD0\xB3\xD1\x80\xD0\xBE\xD0\xBA\r\n"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("\r\nGameClanTag=Клан\r\n"), std::string::npos);

    LauncherConfig = LauncherSettings();
    LoadLauncherSettings();
    EXPECT_EQ(LauncherConfig.GamePlayerName, "Игрок");
    EXPECT_EQ(LauncherConfig.GameClanTag, "Клан");
    EXPECT_TRUE(messages_.empty());
}

TEST_F(SettingsWinTest, DefaultPlayerNameIsTheWindowsUserName) {
    wchar_t buffer[256] = {};
    DWORD size = 256;
    ASSERT_TRUE(::GetUserNameW(buffer, &size));
    EXPECT_EQ(DefaultPlayerName(), Narrow(buffer));
    EXPECT_FALSE(DefaultPlayerName().empty());
}

TEST_F(SettingsWinTest, AReadOnlySettingsFileIsRefused) {
    const std::string before = "[GameSettings]\r\nGamePlayerName=Игрок\r\n";
    test::WriteFile(Path(), before);
    const std::wstring wide = Wide(Path());
    ASSERT_TRUE(::SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_READONLY));

    LoadLauncherSettings();
    EXPECT_EQ(LauncherConfig.GamePlayerName, "Игрок");
    try {
        SaveLauncherSettings();
        ADD_FAILURE() << "a read-only settings file was written";
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()), "Unable to write to " + Path());
    }
    ASSERT_TRUE(::SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(test::ReadFile(Path()), before);
    EXPECT_FALSE(test::Exists(Path() + ".orvtmp"));
}

TEST_F(SettingsWinTest, AFileHeldExclusivelyByAnotherProgramIsASettingsError) {
    test::WriteFile(Path(), "[GameSettings]\r\nGameLanguage=English\r\n");
    LauncherConfig.GameLanguage = "Previous";
    {
        ScopedFileHandle held(::CreateFileW(Wide(Path()).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held.Valid());
        LoadLauncherSettings();
        EXPECT_THROW(SaveLauncherSettings(), Error);
    }
    EXPECT_EQ(messages_, std::vector<std::string>{"Ошибка настроек"});
    EXPECT_EQ(LauncherConfig.GameLanguage, "Previous");
    EXPECT_EQ(test::ReadFile(Path()), "[GameSettings]\r\nGameLanguage=English\r\n");
}

}  // namespace
}  // namespace orv
