// The settings window in this process: its layout and texts, the check box's sequence, the run
// options and "D", the rank lists, the offline rule of "Repair game", and the main window's picture
// that opens it.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "game_profile.h"
#include "gui_test_support.h"
#include "launcher/base/app_state.h"
#include "launcher/config/launcher_settings.h"
#include "launcher/main_window/main_window_win.h"
#include "launcher/ui/gui_thread_win.h"
#include "launcher/ui/message_loop_win.h"
#include "launcher/windows/form_change_avatar_win.h"
#include "launcher/windows/form_settings_win.h"
#include "support/test_files.h"

namespace orv {
namespace {

class SettingsWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureApplication();
        ResetApplicationTermination();
        LauncherConfig.GameProcName = "-console -novid -high";
        LauncherConfig.GameRankLevel = 18;
        LauncherConfig.GamePrivatRank = 40;
        LauncherConfig.GlobalShowNewVersionNotification = true;
        main_.Create();
        main_.Show();
    }
    void TearDown() override { UiLanguage = UiRussian; }

    // Opens `settings` modally, runs `inside` once the window is active, then closes it through the
    // close box; the modal result.
    static int OpenAndRun(TForm_Settings& settings, const std::function<void()>& inside) {
        PostToGuiThread([&settings, inside] {
            EXPECT_TRUE(test::PumpUntil([&] { return settings.CheckBoxArmed(); }, test::kGuiWait))
                << "the window was never activated";
            inside();
            if (settings.Visible()) ::PostMessageW(settings.Handle(), WM_CLOSE, 0, 0);
        });
        return settings.ShowModal();
    }
    static void PlayerClicks(const Control& control) { ::SendMessageW(control.ControlHandle(), BM_CLICK, 0, 0); }

    test::SimulatedStart start_{test::SimulatedStart::Options::LayoutOnly()};
    TForm1 main_;
};

TEST_F(SettingsWindowTest, ControlsLieWhereTheLayoutPutsThemAndTheRankListsAreHiddenButFilled) {
    TForm_Settings settings;
    settings.Create(main_.Handle());
    const struct {
        const Control& control;
        RECT bounds;
        bool shown, enabled;
    } rows[] = {
        {settings.Button_ChangeAvatar, {36, 40, 196, 75}, true, true},
        {settings.Button_CleanGameFolder, {219, 40, 379, 75}, true, true},
        {settings.Label_RunOptions, {38, 99, 0, 0}, true, true},
        {settings.Edit_RunOptions, {38, 118, 347, 139}, true, true},
        {settings.Button_RestoreRunOptions, {353, 117, 378, 140}, true, true},
        {settings.CheckBox_GlobalShowNewVersionNotification, {38, 155, 252, 169}, true, true},
        {settings.Label_ChangeCompetitiveRank, {44, -17, 0, 0}, false, false},
        {settings.ComboBox_CompetitiveRankLevel, {44, 2, 214, 23}, false, false},
        {settings.Label_ChangePrivateRank, {251, -18, 0, 0}, false, false},
        {settings.ComboBox_PrivateRank, {251, 2, 421, 23}, false, false},
    };
    for (const auto& row : rows) {
        const RECT b = row.control.Bounds();
        // The labels (right and bottom 0 here) are sized to their text: tests/win/label_size_test.cpp.
        if (row.bounds.right == 0) {
            EXPECT_EQ(b.left, row.bounds.left) << row.control.Name();
            EXPECT_EQ(b.top, row.bounds.top) << row.control.Name();
        } else {
            EXPECT_TRUE(::EqualRect(&b, &row.bounds)) << row.control.Name() << ": " << b.left << "," << b.top << ","
                                                      << b.right << "," << b.bottom;
        }
        EXPECT_EQ(row.control.Shown(), row.shown) << row.control.Name();
        EXPECT_EQ(row.control.Enabled(), row.enabled) << row.control.Name();
    }
    EXPECT_EQ(settings.Button_RestoreRunOptions.Text(), "D");
    for (const PushButton* button : {&settings.Button_ChangeAvatar, &settings.Button_CleanGameFolder,
                                     &settings.Button_RestoreRunOptions})
        EXPECT_FALSE(::GetWindowLongPtrW(button->ControlHandle(), GWL_STYLE) & WS_TABSTOP) << button->Name();
    ASSERT_EQ(settings.ComboBox_CompetitiveRankLevel.Count(), 18);
    EXPECT_EQ(settings.ComboBox_CompetitiveRankLevel.Item(0), "Silver I");
    EXPECT_EQ(settings.ComboBox_CompetitiveRankLevel.Item(17), "Global Elite");
    ASSERT_EQ(settings.ComboBox_PrivateRank.Count(), 40);
    EXPECT_EQ(settings.ComboBox_PrivateRank.Item(0), "Recrut Rank 1");
    EXPECT_EQ(settings.ComboBox_PrivateRank.Item(39), "Global General Rank 40");
    EXPECT_FALSE(settings.CheckBox_GlobalShowNewVersionNotification.Checked()) << "unchecked until first shown";
    EXPECT_TRUE(start_.state.messages.empty());
}

TEST_F(SettingsWindowTest, TranslateSetsEveryTextInBothLanguages) {
    TForm_Settings settings;
    settings.Create(main_.Handle());
    const std::string prefix = GameCommandPrefix;
    const struct {
        int language;
        std::vector<std::string> texts;
    } cases[] = {
        {UiEnglish,
         {"Settings", "Private Rank", "Competitive Rank", "Change avatar", "Repair game", "Run Options (" + prefix + ")",
          "Restore Default Run Option", "Notify about new game version"}},
        {UiRussian,
         {"Настройки", "Приватный ранг", "Звание", "Сменить аватарку", "Востановить игру",
          "Опции запуска (" + prefix + ")", "Восстановить стандартные опции запуска",
          "Уведомлять о новой версии игры"}},
    };
    for (const auto& c : cases) {
        UiLanguage = c.language;
        settings.translate();
        const std::vector<std::string> seen{settings.Caption(),
                                            settings.Label_ChangePrivateRank.Text(),
                                            settings.Label_ChangeCompetitiveRank.Text(),
                                            settings.Button_ChangeAvatar.Text(),
                                            settings.Button_CleanGameFolder.Text(),
                                            settings.Label_RunOptions.Text(),
                                            settings.Hints().Hint(settings.Button_RestoreRunOptions),
                                            settings.CheckBox_GlobalShowNewVersionNotification.Text()};
        EXPECT_EQ(seen, c.texts);
    }
    // Another language value changes no text.
    UiLanguage = 7;
    settings.translate();
    EXPECT_EQ(settings.Caption(), "Настройки");
    // The main window's translation re-translates the settings window, shown or not.
    main_.menu("English");
    EXPECT_EQ(settings.Caption(), "Settings");
    EXPECT_EQ(settings.Button_CleanGameFolder.Text(), "Repair game");
}

TEST_F(SettingsWindowTest, TheCheckBoxMirrorsTheValueOnActivationAndEachClickFlipsIt) {
    // The value true and a fresh window: the first activation checks the box, the value stays.
    {
        TForm_Settings settings;
        settings.Create(main_.Handle());
        EXPECT_FALSE(settings.CheckBoxArmed());
        std::vector<bool> boxes, values;
        OpenAndRun(settings, [&] {
            CheckBox& box = settings.CheckBox_GlobalShowNewVersionNotification;
            boxes.push_back(box.Checked());
            values.push_back(LauncherConfig.GlobalShowNewVersionNotification);
            for (int click = 0; click < 3; ++click) {
                PlayerClicks(box);
                boxes.push_back(box.Checked());
                values.push_back(LauncherConfig.GlobalShowNewVersionNotification);
            }
        });
        EXPECT_EQ(boxes, (std::vector<bool>{true, false, true, false}));
        EXPECT_EQ(values, (std::vector<bool>{true, false, true, false}));
        // The next opening shows the value as the last click left it.
        bool shown = true;
        OpenAndRun(settings, [&] { shown = settings.CheckBox_GlobalShowNewVersionNotification.Checked(); });
        EXPECT_FALSE(shown);
        EXPECT_FALSE(LauncherConfig.GlobalShowNewVersionNotification);
    }
    // The value false: the first opening shows the box unchecked, the first click checks it.
    {
        LauncherConfig.GlobalShowNewVersionNotification = false;
        TForm_Settings settings;
        settings.Create(main_.Handle());
        std::vector<bool> boxes, values;
        OpenAndRun(settings, [&] {
            CheckBox& box = settings.CheckBox_GlobalShowNewVersionNotification;
            boxes.push_back(box.Checked());
            values.push_back(LauncherConfig.GlobalShowNewVersionNotification);
            PlayerClicks(box);
            boxes.push_back(box.Checked());
            values.push_back(LauncherConfig.GlobalShowNewVersionNotification);
        });
        EXPECT_EQ(boxes, (std::vector<bool>{false, true}));
        EXPECT_EQ(values, (std::vector<bool>{false, true}));
    }
    EXPECT_TRUE(start_.state.messages.empty());
}

TEST_F(SettingsWindowTest, RunOptionsAreStoredAsTypedAndDRestoresTheDefault) {
    TForm_Settings settings;
    settings.Create(main_.Handle());
    UiLanguage = UiEnglish;
    std::vector<std::string> stored;
    OpenAndRun(settings, [&] {
        stored.push_back(settings.Edit_RunOptions.Text());
        settings.Edit_RunOptions.SetText("");
        stored.push_back(LauncherConfig.GameProcName);
        ::SendMessageW(settings.Edit_RunOptions.ControlHandle(), WM_CHAR, L'x', 0);
        stored.push_back(LauncherConfig.GameProcName);
        PlayerClicks(settings.Button_RestoreRunOptions);
        stored.push_back(settings.Edit_RunOptions.Text());
        stored.push_back(LauncherConfig.GameProcName);
    });
    EXPECT_EQ(stored, (std::vector<std::string>{"-console -novid -high", "", "x", "-console -novid", "-console -novid"}));
}

TEST_F(SettingsWindowTest, StoredRanksSelectTheirItemsAndValuesOutsideTheListsSelectNothing) {
    TForm_Settings settings;
    settings.Create(main_.Handle());
    const struct {
        int competitive, privat;
        int competitiveItem, privateItem;
    } cases[] = {{18, 40, 17, 39}, {1, 1, 0, 0}, {0, 41, -1, -1}, {19, -3, -1, -1}};
    for (const auto& c : cases) {
        LauncherConfig.GameRankLevel = c.competitive;
        LauncherConfig.GamePrivatRank = c.privat;
        int competitiveItem = -2, privateItem = -2;
        OpenAndRun(settings, [&] {
            competitiveItem = settings.ComboBox_CompetitiveRankLevel.ItemIndex();
            privateItem = settings.ComboBox_PrivateRank.ItemIndex();
        });
        EXPECT_EQ(competitiveItem, c.competitiveItem) << c.competitive;
        EXPECT_EQ(privateItem, c.privateItem) << c.privat;
        // The stored values stay until a list is changed.
        EXPECT_EQ(LauncherConfig.GameRankLevel, c.competitive);
        EXPECT_EQ(LauncherConfig.GamePrivatRank, c.privat);
    }
    // A change of the (hidden) lists stores index + 1.
    settings.ComboBox_CompetitiveRankLevel.SetItemIndex(4);
    settings.ComboBox_CompetitiveRankChange();
    settings.ComboBox_PrivateRank.SetItemIndex(9);
    settings.ComboBox_PrivateRankChange();
    EXPECT_EQ(LauncherConfig.GameRankLevel, 5);
    EXPECT_EQ(LauncherConfig.GamePrivatRank, 10);
}

TEST_F(SettingsWindowTest, RepairGameIsDisabledOfflineEachTimeTheWindowIsShown) {
    TForm_Settings settings;
    settings.Create(main_.Handle());
    EXPECT_TRUE(settings.Button_CleanGameFolder.Enabled());
    OfflineMode = true;
    for (int opening = 0; opening < 2; ++opening) {
        // A check run that ended enabled it again.
        settings.Button_CleanGameFolder.SetEnabled(true);
        bool enabled = true;
        OpenAndRun(settings, [&] { enabled = settings.Button_CleanGameFolder.Enabled(); });
        EXPECT_FALSE(enabled) << "opening " << opening;
    }
    // Whatever the language value.
    settings.Button_CleanGameFolder.SetEnabled(true);
    UiLanguage = 7;
    settings.translate();
    EXPECT_FALSE(settings.Button_CleanGameFolder.Enabled());
}

TEST_F(SettingsWindowTest, TheSettingsPictureOpensTheWindowAndOnlyTheCleanersResultStartsTheCheck) {
    TForm_Settings settings;
    settings.Create(main_.Handle());
    int checks = 0;
    main_.Events.Image_Button_CheckClick = [&] { ++checks; };
    const struct {
        int result;
        int checks;
    } cases[] = {{mr::Cancel, 0}, {mr::Ok, 0}, {CleanerDoneResult, 1}};
    for (const auto& c : cases) {
        checks = 0;
        bool modal = false;
        PostToGuiThread([&] {
            modal = settings.Modal() && !::IsWindowEnabled(main_.Handle());
            settings.SetModalResult(c.result);
        });
        // As the picture's click delivers it.
        main_.Image_Settings.OnClick();
        EXPECT_TRUE(modal) << c.result;
        EXPECT_EQ(checks, c.checks) << c.result;
        EXPECT_FALSE(settings.Visible());
    }
}

TEST_F(SettingsWindowTest, BoxesRaisedInTheSettingsAndAvatarWindowsAreOwnedByTheModalWindow) {
    TForm_Settings settings;
    settings.Create(main_.Handle());
    UiLanguage = UiEnglish;
    // Every box with its owner, and whether the player could still click that owner's window:
    // a box owned by a disabled window leaves the modal window behind it clickable.
    struct Box {
        std::string text;
        HWND owner;
        bool ownerEnabled;
    };
    std::vector<Box> boxes;
    const MessageHandler previous = SetMessageHandler([&](const MessageRequest& request) {
        const HWND owner = static_cast<HWND>(request.owner);
        boxes.push_back({request.text, owner, owner && ::IsWindowEnabled(owner)});
        return MsgResult::Ok;
    });
    std::optional<std::string> picked;
    HWND avatarWindow = nullptr;
    OpenAndRun(settings, [&] {
        // The first opening makes the avatar window; its dialog answers from `picked` from then on.
        PostToGuiThread([&] { settings.AvatarWindow()->Close(); });
        PlayerClicks(settings.Button_ChangeAvatar);
        TForm_ChangeAvatar& avatar = *settings.AvatarWindow();
        avatarWindow = avatar.Handle();
        avatar.ДиалогОткрытияАватарки.Run = [&](HWND, const std::vector<FileTypeFilter>&) { return picked; };
        test::WriteFile(start_.File("picked.dat"), "not a picture");
        test::WriteFile(start_.File("picked.bmp"), std::string(64, 'x'));
        PostToGuiThread([&] {
            EXPECT_TRUE(avatar.Modal());
            picked = start_.File("picked.dat");  // the error box of the unknown extension
            PlayerClicks(avatar.ВыбратьАватарку);
            picked = start_.File("picked.bmp");  // the decoder's error box
            PlayerClicks(avatar.ВыбратьАватарку);
            avatar.Close();
        });
        PlayerClicks(settings.Button_ChangeAvatar);
        // No "hl2.exe" in the game folder: the cleaner's refusal.
        PlayerClicks(settings.Button_CleanGameFolder);
    });
    main_.AboutProgramClick();
    SetMessageHandler(previous);

    ASSERT_EQ(boxes.size(), 6u);
    const struct {
        HWND owner;
        const char* starts;
    } expected[] = {
        {avatarWindow, "Select image size"},           {avatarWindow, "Unknown picture file extension"},
        {avatarWindow, "Select image size"},           {avatarWindow, ""},
        {settings.Handle(), "hl2.exe not found in folder"}, {main_.Handle(), ""},
    };
    for (size_t i = 0; i < boxes.size(); ++i) {
        SCOPED_TRACE(boxes[i].text);
        EXPECT_EQ(boxes[i].owner, expected[i].owner);
        EXPECT_TRUE(boxes[i].ownerEnabled);
        EXPECT_EQ(boxes[i].text.rfind(expected[i].starts, 0), 0u);
    }
}

TEST_F(SettingsWindowTest, TheAvatarButtonCreatesTheAvatarWindowOnceAndTheLanguageReachesIt) {
    TForm_Settings settings;
    settings.Create(main_.Handle());
    EXPECT_EQ(settings.AvatarWindow(), nullptr);
    main_.menu("English");
    for (int opening = 0; opening < 2; ++opening) {
        PostToGuiThread([&] {
            if (settings.AvatarWindow()) ::PostMessageW(settings.AvatarWindow()->Handle(), WM_CLOSE, 0, 0);
        });
        PlayerClicks(settings.Button_ChangeAvatar);
    }
    TForm_ChangeAvatar* avatar = settings.AvatarWindow();
    ASSERT_NE(avatar, nullptr);
    EXPECT_EQ(::GetWindow(avatar->Handle(), GW_OWNER), settings.Handle());
    EXPECT_EQ(avatar->Caption(), "Avatar selection");
    main_.menu("Russian");
    EXPECT_EQ(avatar->Caption(), "Выбор Аватара");
    EXPECT_EQ(avatar->ВыбратьАватарку.Text(), "Выбрать Аватар");
    EXPECT_EQ(avatar->ЗаписатьАватарку.Text(), "Сохранить");
    EXPECT_TRUE(start_.state.messages.empty());
}

}  // namespace
}  // namespace orv
