// Handing a program, document or URL to the desktop shell.
#pragma once

#include <windows.h>

#include <string>

namespace orv {

// Asks the shell to run `verb` on `file` (a program, document or URL) and returns as soon as the
// shell has accepted; the started program is not waited for and its handle is not kept. Empty
// `verb`, `parameters` and `folder` mean none (the shell's default verb, no arguments, the current
// folder); `owner` may be null. The shell shows no error box of its own; a refusal (file missing,
// no program for the type, access denied) raises EOSError with the platform's message. Usable from
// any thread: COM is set up for the call when the thread has not set it up itself.
void ShellOpen(HWND owner, const std::string& verb, const std::string& file, const std::string& parameters,
               const std::string& folder, int show);

}  // namespace orv
