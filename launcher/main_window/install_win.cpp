// The check action's install branch: when the selected game's catalogue asks for it, the Steam
// console client installs or updates the game before the check-and-repair run, its output shown
// line by line in the status line. Everything here runs on the GUI thread, the handlers inside
// the runner's posted calls.
#include <string>

#include "launcher/base/app_state.h"
#include "launcher/base/texts.h"
#include "launcher/console/steam_command_line.h"
#include "launcher/main_window/main_window_win.h"
#include "launcher/platform/file_helpers.h"

namespace orv {

void TForm1::StartServerToolInstall() {
    // A finished run keeps its worker until Stop: the earlier install's goes now.
    DosCommand1.Stop();
    lbl2.SetText(TextIn(TextId::InstallStarting, UiLanguage));
    lbl2.SetWordWrap(true);
    Label4.SetText("");
    DosCommand1.CommandLine = SteamCmdCommandLine(GameFolder, GetShortPath);
    ToolRunAborted = false;
    ToolRunFinished = false;
    DosCommand1.Execute();
}

void TForm1::DosCommand1NewLine(const std::string& line, TOutputType) {
    // A growing unfinished line too: the status line always shows the client's latest output.
    lbl2.SetText(line);
}

void TForm1::DosCommand1TerminateProcess(bool&) {
    // The answer stays yes: the runner kills the client.
    ToolRunAborted = true;
}

void TForm1::DosCommand1ExecuteError(const std::exception_ptr&, bool&) {
    // Set before the check starts: a Stop during that check must not wait for the very worker
    // whose error report is running it. The error stays unhandled, so the runner shows its box
    // once the check has ended.
    ToolRunAborted = true;
    ToolRunFinished = true;
    CheckAllFiles("adrskach");
}

void TForm1::DosCommand1Terminated() {
    ToolRunFinished = true;
    if (ToolRunAborted) return;
    // Any end of the client by itself, whatever its exit code: the check finds and repairs what
    // the client did not bring in line.
    lbl2.SetWordWrap(false);
    CheckAllFiles("adrskach");
}

}  // namespace orv
