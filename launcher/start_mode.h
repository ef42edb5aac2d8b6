// The portable half of the program entry: splitting the command line, the start mode that
// argument 2 selects, and the single-instance mutex name.
#pragma once

#include <string>
#include <vector>

namespace orv {

enum class StartMode {
    Normal,       // argument 2 absent or empty: guarded
    ForceUpdate,  // argument 2 exactly "forceupdate": guarded, the game is updated without a question
    ConnectLink,  // any other argument 2: a link from the URL scheme, not guarded
};

// Splits at blanks (every character up to U+0020); a pair of double quotes groups text that holds
// blanks and is removed. Argument 0 is the program's own path.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// Argument `index`, or empty when there are fewer arguments.
std::string ArgumentAt(const std::vector<std::string>& args, size_t index);

StartMode StartModeOf(const std::vector<std::string>& args);

// "Global\ " (with its blank) + game code + the launcher's GUID text, with nothing in between.
std::string SingleInstanceMutexName(const std::string& gameCode);

}  // namespace orv
