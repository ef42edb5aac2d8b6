// The settings window TForm_Settings: created once at start, right after the main window, owned by
// it, hidden until the player opens it (modally) and kept for the next opening. It edits the
// settings record in memory; the record is saved by Play and at the end of a check run.
#pragma once

#include <memory>
#include <string>

#include "game_profile.h"
#include "launcher/ui/controls_win.h"
#include "launcher/ui/tooltip_win.h"
#include "launcher/ui/window_win.h"

namespace orv {

class TForm_ChangeAvatar;

// The modal result of a completed cleaner run: the main window then starts the check.
inline constexpr int CleanerDoneResult = 13;

class TForm_Settings : public Window {
public:
    TForm_Settings();
    ~TForm_Settings() override;

    // Creates the window hidden, owned by `owner` (the main window), over which it opens centred.
    // Raises EOSError when the platform refuses the window.
    void Create(HWND owner);

    // Applies the texts of the current interface language; disables the game folder cleaner's
    // button while the launcher is offline.
    void translate();

    // ---- Controls, in the layout's order.
    PushButton Button_ChangeAvatar;
    PushButton Button_CleanGameFolder;  // also disabled while a check runs
    LabelControl Label_RunOptions;
    EditBox Edit_RunOptions;
    PushButton Button_RestoreRunOptions;
    CheckBox CheckBox_GlobalShowNewVersionNotification;
    // The rank selectors are hidden and disabled; they still load and store their values.
    LabelControl Label_ChangeCompetitiveRank;
    DropDownList ComboBox_CompetitiveRankLevel;
    LabelControl Label_ChangePrivateRank;
    DropDownList ComboBox_PrivateRank;

    // The hints of the window's controls.
    const HintWindow& Hints() const noexcept { return hints_; }
    // True once the check box takes clicks as the player's (from the first activation on).
    bool CheckBoxArmed() const noexcept { return armed_; }
    // The avatar window once the avatar button has opened it.
    TForm_ChangeAvatar* AvatarWindow() const noexcept { return avatar_.get(); }

    // The update server whose keep list the cleaner fetches; tests point it at their own server.
    std::string ServerBase = UpdateServerBase;

    // The handlers, as the controls' notifications run them.
    void CheckBox_GlobalShowNewVersionNotificationClick();
    void Edit_RunOptionsChange();
    void Button_RestoreRunOptionsClick();
    void ComboBox_CompetitiveRankChange();
    void ComboBox_PrivateRankChange();
    void Button_ChangeAvatarClick();
    void Button_CleanGameFolderClick();

protected:
    void FormCreate();
    void FormShow();
    void FormActivate();

    void OnCreate() override { FormCreate(); }
    void OnShow() override { FormShow(); }
    void OnActivate() override { FormActivate(); }
    bool OnCommand(int id, int code, HWND control) override;
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    void CreateControls();

    HintWindow hints_;
    std::unique_ptr<TForm_ChangeAvatar> avatar_;
    bool armed_ = false;
};

// The settings window while it exists.
extern TForm_Settings* Form_Settings;

// The items of the two rank lists: item i stands for the value i + 1.
extern const char* const CompetitiveRankNames[18];
extern const char* const PrivateRankNames[40];

}  // namespace orv
