// The application object: the GUI thread's message loops (the event loop of the main window and
// the pump that long work calls), the Win32 side of the message-box seam, the application's error
// box for errors nobody caught, and a queue that carries work from other threads to the GUI thread.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "launcher/base/message_box.h"
#include "launcher/start_mode.h"

namespace orv {

class Window;

// The command line as split at start, and the start mode that its argument 2 chose.
extern std::vector<std::string> CommandLineArguments;
extern StartMode StartModeValue;

// Full path of the running executable (UTF-8). Raises EOSError.
std::string ExecutablePath();
// Its folder, without trailing separator.
std::string ExecutableFolder();

// Sets up the GUI thread (the calling thread): common controls, the event pump, the MessageBoxW
// handler of the message-box seam and the work queue. Safe to call again.
void InitializeApplication(HINSTANCE instance);
HINSTANCE ApplicationInstance() noexcept;
// Sets ApplicationTitle, the caption of the application's message boxes.
void SetApplicationTitle(const std::string& title);

// Shows the main window and runs the event loop until the application is terminated (the main
// window is destroyed or TerminateApplication is called). When termination was asked for before,
// nothing is shown.
void RunApplication(Window& mainWindow);
// Ends the event loop (and any modal loop) once control returns to it.
void TerminateApplication() noexcept;
bool ApplicationTerminated() noexcept;
// Lets a new event loop run after an earlier one was terminated (the tests run several loops, and
// destroy several main windows, in one process).
void ResetApplicationTermination() noexcept;
// Processes every pending message of the GUI thread once; installed as the event pump.
void ProcessMessages();
// Gives a message to the window's PreTranslateMessage, then translates and dispatches it.
void DispatchGuiMessage(MSG& msg);

// Runs `work` on the GUI thread from its message loop; callable from any thread. Errors escaping
// `work` go to the error box. Work posted after the GUI thread has shut down is dropped.
void PostToGuiThread(std::function<void()> work);
// Runs `work` on the GUI thread and returns once it has run; on the GUI thread itself it runs at
// once. Errors escaping `work` go to the error box. Returns false, without running it, when there
// is no GUI thread (never set up, or shut down).
bool RunOnGuiThreadAndWait(std::function<void()> work);
// True on the thread that InitializeApplication set up.
bool OnGuiThread() noexcept;

// The message-box seam's handler: MessageBoxW with the request's text, caption, flags and owner.
MsgResult Win32MessageBox(const MessageRequest& request);

// Shows the error that is being handled (call inside a catch block) in the application's error box.
// Never throws.
void ShowCurrentException() noexcept;

// Runs a handler; an error escaping it goes to the application's error box. Returns false then.
template <typename F>
bool RunGuarded(F&& handler) noexcept {
    try {
        handler();
        return true;
    } catch (...) {
        ShowCurrentException();
        return false;
    }
}

}  // namespace orv
