// The connect-link start: a link of the launcher's URL scheme on a web page starts the game
// connected to a server. The launcher writes the connect command line into the emulator profile,
// ends a running game, starts the first game's loader and ends every running launcher, itself last.
//
// The shell hands the link over unquoted in place of %1, so argument 2 is the server address
// followed by one character (the link's closing "/"), which is dropped.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "game_profile.h"
#include "launcher/base/codepage.h"

namespace orv {

// Whether a text can stand after "+connect" as a server address and nothing more: a host name, an
// IPv4 or bracketed IPv6 address, with an optional port (ASCII letters and digits, ".", "-", "_",
// ":", "[", "]"), beginning with a letter, a digit or "[". Empty passes (the game starts without a
// server). Refused are blanks, quotes, "+", ";", line breaks and the like, with which a web page
// could add options or console commands to the game's command line or lines to "rev.ini", and a
// leading "-", which the game would read as an option of its own.
bool IsServerAddress(std::string_view address);

// Argument 2 in lower case (ASCII letters) without its last character, when that is a server
// address; nothing otherwise.
std::optional<std::string> ConnectAddress(std::string_view argument);

// The loader's command line for a connect start. For the game code "cstrike" (any letter case):
// GameCommandPrefix, " ", the run options, " +connect ", the address; for any other game:
// GameCommandPrefix, " +connect ", the address, " ", the run options.
std::string ConnectCommandLine(std::string_view address, std::string_view runOptions,
                               std::string_view gameCode = GameCode);

// The platform's part of the connect-link start.
struct ConnectActions {
    // Ends every process of that executable name, the caller last (KillProcessByName).
    std::function<int(const std::string& exeName)> killProcessByName;
    // Hands the loader to the shell ("open", normal show command) without waiting; raises EOSError.
    std::function<void(const std::string& loaderPath)> startLoader;
    // Tells the application to end; the main window is not shown.
    std::function<void()> terminateApplication;
};

enum class ConnectOutcome {
    Started,  // the loader was started and the launchers told to end
    Refused,  // the link or the catalogue's loader was refused with a message; nothing was changed
};

// Runs the connect-link start for argument 2 of the command line. `executablePath` is the
// launcher's own; launchers with its file name are ended. Writes "Loader"/"ProcName" with the run
// options of LauncherConfig, ends GameExeName, starts "naz1"'s loader from GameFolder, ends the
// launchers and the application. A refused link or loader shows its message and ends the
// application without writing, ending or starting anything. Errors (a profile that cannot be
// written, a loader the shell refuses) are raised.
ConnectOutcome StartConnectLink(std::string_view argument, const std::string& executablePath,
                                const ConnectActions& actions, const AnsiCodec& codec);

}  // namespace orv
