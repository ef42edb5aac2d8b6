// Orvanta.exe: the program entry. Refuses a second launcher, then creates the main window and the
// settings window and runs the event loop until the main window closes.
#include <windows.h>

#include "game_profile.h"
#include "launcher/app_win.h"
#include "launcher/base/app_state.h"
#include "launcher/base/message_box.h"
#include "launcher/base/texts.h"
#include "launcher/main_window/main_window_win.h"
#include "launcher/platform/wide_win.h"
#include "launcher/single_instance_win.h"
#include "launcher/start_mode.h"
#include "launcher/ui/message_box_win.h"
#include "launcher/ui/message_loop_win.h"
#include "launcher/windows/form_settings_win.h"

namespace {

constexpr const char* kApplicationTitle = "Orvanta";

int RunLauncher(HINSTANCE instance) {
    using namespace orv;
    // The guard's message already goes through the real message box.
    SetMessageHandler(&Win32MessageBox);

    GameFolder = ExecutableFolder();
    CommandLineArguments = SplitCommandLine(Narrow(::GetCommandLineW()));
    StartModeValue = StartModeOf(CommandLineArguments);

    // A connect link must work while a launcher is open: that start closes the running launchers
    // itself. Nothing has been read yet, so the message is the initial language's (Russian).
    if (StartModeValue != StartMode::ConnectLink && !AcquireSingleInstance(SingleInstanceMutexName(GameCode))) {
        ShowMessage(Tr(TextId::AlreadyRunning));
        return 0;
    }

    InitializeApplication(instance);
    SetApplicationTitle(kApplicationTitle);
    TForm1 mainWindow;
    mainWindow.Create();
    TForm_Settings settingsWindow;
    settingsWindow.Create(mainWindow.Handle());
    RunApplication(mainWindow);
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    try {
        return RunLauncher(instance);
    } catch (...) {
        // Only a refusal before the event loop gets here (no window could be made).
        orv::ShowCurrentException();
        return 1;
    }
}
