#include "launcher/launch_win.h"

#include <windows.h>

#include <utility>

#include "launcher/net/processes_win.h"
#include "launcher/net/shell_win.h"
#include "launcher/ui/message_loop_win.h"

namespace orv {

void ShellStartLoader(const std::string& loaderPath) { ShellOpen(nullptr, "open", loaderPath, "", "", SW_SHOWNORMAL); }

PlayActions SystemPlayActions(std::function<void()> closeMainWindow) {
    return {&ShellStartLoader, std::move(closeMainWindow)};
}

ConnectActions SystemConnectActions() {
    return {&KillProcessByName, &ShellStartLoader, [] { TerminateApplication(); }};
}

}  // namespace orv
