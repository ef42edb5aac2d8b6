// The Steam console client's command line for installing or updating the game in the game folder
// (Steam application 740, anonymous login), as the check action hands it to the console runner.
#pragma once

#include <functional>
#include <string>

namespace orv {

// Where the client lies below the game folder.
inline constexpr const char* SteamCmdRelativePath = "orvanta\\tools\\steamcmd\\steamcmd.exe";

// Three pieces with nothing added between them: the client's short path, the login and install
// folder (the game folder's short path), and the update request with two blanks before "+quit".
// `shortPath` is GetShortPath: the 8.3 form of an existing path, empty for a missing one, so a
// missing client leaves the line starting with the second piece and the process fails to start.
std::string SteamCmdCommandLine(const std::string& gameFolder,
                                const std::function<std::string(const std::string&)>& shortPath);

}  // namespace orv
