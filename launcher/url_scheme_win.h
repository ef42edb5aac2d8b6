// The launcher's URL scheme, "vtl" + GameCode, registered under HKEY_CLASSES_ROOT at every start so
// that links on web pages start the game connected to a server through this executable.
#pragma once

#include <windows.h>

#include <string>

namespace orv {

// "vtl" + GameCode.
std::string UrlSchemeName();

// Writes the scheme's keys and values pointing at `executablePath`, without any message:
//   <scheme>                  (default) = <scheme> + " URI", "URL Protocol" = "",
//                             "Content Type" = "application/x-command"
//   <scheme>\shell            (default) = "open"
//   <scheme>\shell\open       no values
//   <scheme>\shell\open\command (default) = a quoted executable path, a blank and %1
// Each key is created when missing. Raises EOSError "Failed to create key <key>" when the
// platform refuses a key (administrator rights are needed), and EOSError with the platform's
// message when it refuses a value.
void RegisterUrlScheme(const std::string& executablePath);

// The same under another root key and scheme name (tests use a key of their own).
void RegisterUrlSchemeUnder(HKEY root, const std::string& scheme, const std::string& executablePath);

}  // namespace orv
