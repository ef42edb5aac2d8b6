// The Win32 services of the main window's creation sequence.
#pragma once

#include "launcher/startup_sequence.h"

namespace orv {

// CheckGlobalUserOffline, SetFileAttributesW to normal, RegisterUrlScheme, ProbeUrl, DownloadFile
// and DownloadBoundedFile, the system clock, the connect start's KillProcessByName, shell start and TerminateApplication, and
// the system's ANSI code page.
StartupPlatform SystemStartupPlatform();

// RunFormCreate for this process: its executable path, CommandLineArguments and UpdatePublicKey,
// with the services above. The main window calls it from FormCreate with its own hooks. Never raises.
StartupResult RunFormCreate(const StartupWindowHooks& window);

}  // namespace orv
