// A small UI driver for the Windows tests and the check benchmark: starts programs (and always ends
// them), finds the top-level windows of a process, reads the texts of a window and its controls and
// presses buttons, the way a person at the screen would see and use them. Texts are UTF-8.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "launcher/platform/scoped_win.h"

namespace orv::test {

// A host path named by an environment variable, as Wine sees it (the host's root is drive Z:);
// empty when the variable is not set.
std::string HostPathFromEnvironment(const char* name);
// The launcher under test: ORVANTA_EXE as ctest passes it, or ../Orvanta.exe beside the test
// program's folder when it is run by hand.
std::string LauncherUnderTest();

// A started program. The destructor terminates it if it still runs, so that no test leaves a
// process behind, whatever it asserted.
class ChildProcess {
public:
    // Starts `exe` with the command line `"exe" arguments` in folder `workDir`. Raises EOSError.
    ChildProcess(const std::string& exe, const std::string& arguments, const std::string& workDir);
    ~ChildProcess();
    ChildProcess(ChildProcess&&) = default;
    ChildProcess& operator=(ChildProcess&&) = default;

    DWORD Id() const noexcept { return id_; }
    bool Running() const;
    // The exit code once the process ends within `timeout`; nothing if it is still running.
    std::optional<DWORD> WaitForExit(std::chrono::milliseconds timeout) const;
    void Kill();

private:
    ScopedHandle process_;
    DWORD id_ = 0;
};

std::vector<HWND> TopLevelWindows(DWORD processId);
std::vector<HWND> ChildWindows(HWND parent);
std::string ClassNameOf(HWND hwnd);
// The window's text as WM_GETTEXT gives it (works across processes, unlike GetWindowText).
std::string TextOf(HWND hwnd);
// The texts of every control inside `parent`, in window order.
std::vector<std::string> ControlTexts(HWND parent);

// A visible top-level window of the process with this class and caption (empty: any caption).
HWND FindWindowOf(DWORD processId, const std::string& className, const std::string& caption = "");
// A visible standard dialog (a message box) of the process, once its texts are filled in.
HWND FindDialogOf(DWORD processId);
// A standard dialog of the process, shown or still being set up.
HWND AnyDialogOf(DWORD processId);

// Polls `find` until it yields a window or `timeout` passes; nullptr then.
HWND WaitForWindow(const std::function<HWND()>& find, std::chrono::milliseconds timeout);

// The child of `parent` of this class whose place in the parent's client area is `bounds`.
HWND ChildWithBounds(HWND parent, const std::string& className, const RECT& bounds);
// The entries of a drop-down list, and its selected entry (-1: none).
std::vector<std::string> ComboItems(HWND combo);
int ComboSelection(HWND combo);
// Sets an edit box's text as typing would leave it (the box notifies its parent of the change).
bool SetEditText(HWND edit, const std::string& text);
// Waits until the thread of `edit` (an edit box of another process) has handled every message
// posted to it before the call: a thread handles what is posted to it in order, so a flag set by a
// posted message comes back once the earlier ones are done. The box's modified flag serves as that
// flag and is put back afterwards. False when that does not happen within `timeout`.
bool WaitForPostedMessages(HWND edit, std::chrono::milliseconds timeout);
// A left click in the middle of a control that reacts to the mouse buttons itself.
bool ClickControl(HWND control);
// Chooses a menu command of a window as the menu bar would.
bool ChooseMenuCommand(HWND window, int commandId);
// Saves what the screen shows of the window of another process (frame included) as a 24-bit BMP
// file; the window is brought to the front (unless `activate` is false: a pop-up menu closes when
// another window is activated) and repainted first.
bool SaveWindowShot(HWND window, const std::string& bmpPath, bool activate = true);

// Clicks the dialog's button with this control id (IDOK, IDNO, ...) as the dialog manager
// reports a click to its owner. False when the dialog has no such button.
bool PressButton(HWND dialog, int controlId);

}  // namespace orv::test
