// The application's own values: the command line and the start mode it chose, the executable's
// path, and the application title. The GUI thread's loops live in launcher/ui/message_loop_win.h.
#pragma once

#include <string>
#include <vector>

#include "launcher/start_mode.h"

namespace orv {

// The command line as split at start, and the start mode that its argument 2 chose.
extern std::vector<std::string> CommandLineArguments;
extern StartMode StartModeValue;

// Full path of the running executable (UTF-8). Raises EOSError.
std::string ExecutablePath();
// Its folder, without trailing separator.
std::string ExecutableFolder();

// Sets ApplicationTitle, the caption of the application's message boxes.
void SetApplicationTitle(const std::string& title);

}  // namespace orv
