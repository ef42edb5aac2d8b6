// A queue that carries work from other threads to the GUI thread, run from its message loop.
#pragma once

#include <windows.h>

#include <functional>

namespace orv {

// Runs `work` on the GUI thread from its message loop; callable from any thread. Errors escaping
// `work` go to the error box. Work posted after the GUI thread has shut down is dropped.
void PostToGuiThread(std::function<void()> work);
// Runs `work` on the GUI thread and returns once it has run; on the GUI thread itself it runs at
// once. Errors escaping `work` go to the error box. Returns false, without running it, when there
// is no GUI thread (never set up, or shut down).
bool RunOnGuiThreadAndWait(std::function<void()> work);

// Creates the queue's message-only window on the calling thread (InitializeApplication does, on
// the GUI thread). Safe to call again. Raises EOSError.
void CreateGuiWorkQueue(HINSTANCE instance);

}  // namespace orv
