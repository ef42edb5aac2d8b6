// The GUI thread's message loops: the event loop of the main window and the pump that long work
// calls, the termination flag that ends them, and the application's error box for errors that
// escape a handler.
#pragma once

#include <windows.h>

namespace orv {

class Window;

// Sets up the GUI thread (the calling thread): common controls, the event pump, the MessageBoxW
// handler of the message-box seam and the work queue. Safe to call again.
void InitializeApplication(HINSTANCE instance);
HINSTANCE ApplicationInstance() noexcept;

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

// True on the thread that InitializeApplication set up.
bool OnGuiThread() noexcept;

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
