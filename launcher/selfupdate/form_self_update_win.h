// The self-update window TForm_SelfUpdate: a small modal window without buttons that runs one of
// the two self-update procedures as soon as its modal loop starts, shows the step in a label and the
// transfer in a bar, and either ends the launcher (success) or closes with the modal result 13.
#pragma once

#include <string>

#include "launcher/ui/controls_win.h"
#include "launcher/ui/window_win.h"

namespace orv {

// Posted to the window by its creation, handled once its modal loop runs.
inline constexpr UINT InstallerUpdateMessage = WM_USER + 100;  // 0x464
inline constexpr UINT DirectUpdateMessage = WM_USER + 102;     // 0x466

// Set by a successful direct update: the main window's destruction starts the new launcher.
extern bool RestartAfterUpdate;

class TForm_SelfUpdate : public Window {
public:
    TForm_SelfUpdate();
    ~TForm_SelfUpdate() override;

    // Creates the window hidden, owned by `owner`, and posts the procedure that TypeOfSelfUpdate
    // selects (2 the direct one, anything else the installer). Raises EOSError when the platform
    // refuses the window.
    void Create(HWND owner);

    ProgressBar ProgressBar_SelfUpdate;
    LabelControl Label_SelfUpdate;

    // Clears RestartAfterUpdate and closes the window with the modal result 13.
    void FailSelfUpdate();

protected:
    void FormCreate();
    CloseAction OnClose() override;
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    void InstallerUpdate();
    void DirectUpdate();

    bool closing_ = false;
};

// The window while it exists.
extern TForm_SelfUpdate* Form_SelfUpdate;

// The main window's destruction: after a successful direct update, gives up the single-instance
// mutex and starts the launcher's executable (now the new version) without arguments.
void RestartAfterSelfUpdate();

}  // namespace orv
