// The main window TForm1: the launcher's only permanent window. Closing it ends the program.
#pragma once

#include "launcher/window_win.h"

namespace orv {

class TForm1 : public Window {
public:
    TForm1();
    ~TForm1() override;

    // Creates the window hidden and runs FormCreate; the window becomes the application's main
    // window (MainWindowHandle). Raises EOSError when the platform refuses the window.
    void Create();

protected:
    // The start-up sequence, run once the window exists. An error ends it at the failing step.
    void FormCreate();
    // The rest of the start, when the window is first shown.
    void FormShow();
    // Runs while the window is being destroyed, before the event loop ends.
    void FormDestroy();

    void OnCreate() override;
    void OnShow() override;
    CloseAction OnClose() override { return CloseAction::Destroy; }
    void OnDestroy() override;

private:
    bool formShowDone_ = false;
};

// The main window while it exists (one per process).
extern TForm1* Form1;

}  // namespace orv
