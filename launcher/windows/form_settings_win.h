// The settings window TForm_Settings: created once at start, right after the main window, owned by
// it, hidden until the player opens it (modally) and kept for the next opening.
#pragma once

#include "launcher/ui/controls_win.h"
#include "launcher/ui/window_win.h"

namespace orv {

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

    // The game folder cleaner's button; also disabled while a check runs.
    PushButton Button_CleanGameFolder;

protected:
    void FormCreate();
    void FormShow();
    void FormActivate();

    void OnCreate() override { FormCreate(); }
    void OnShow() override { FormShow(); }
    void OnActivate() override { FormActivate(); }
};

// The settings window while it exists.
extern TForm_Settings* Form_Settings;

}  // namespace orv
