// The Win32 actions behind Play and the connect-link start: the shell starts the loader, processes
// are ended by name, the application is told to end.
#pragma once

#include <functional>
#include <string>

#include "launcher/connect_link.h"
#include "launcher/play.h"

namespace orv {

// ShellOpen with no owner, verb "open", no parameters or folder, SW_SHOWNORMAL; the loader is not
// waited for. Raises EOSError when the shell refuses.
void ShellStartLoader(const std::string& loaderPath);

// Play's actions: the shell start above, and `closeMainWindow` (the window's own close).
PlayActions SystemPlayActions(std::function<void()> closeMainWindow);

// KillProcessByName, the shell start above and TerminateApplication.
ConnectActions SystemConnectActions();

}  // namespace orv
