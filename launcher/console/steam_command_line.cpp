#include "launcher/console/steam_command_line.h"

namespace orv {
namespace {

// A volume without 8.3 names gives the long form back, which may hold blanks: quoted, such a path
// still reaches the client as one argument. A path never holds a double quote on Windows.
std::string AsOneArgument(std::string path) {
    if (path.find_first_of(" \t") == std::string::npos) return path;
    return "\"" + path + "\"";
}

}  // namespace

std::string SteamCmdCommandLine(const std::string& gameFolder,
                                const std::function<std::string(const std::string&)>& shortPath) {
    std::string line = AsOneArgument(shortPath(gameFolder + "\\" + SteamCmdRelativePath));
    line += " +login anonymous +force_install_dir " + AsOneArgument(shortPath(gameFolder));
    line += " +app_update 740 validate  +quit";
    return line;
}

}  // namespace orv
