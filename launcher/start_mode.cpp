#include "launcher/start_mode.h"

namespace orv {

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
    std::vector<std::string> args;
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    size_t i = 0;
    const size_t n = commandLine.size();
    for (;;) {
        while (i < n && blank(commandLine[i])) ++i;
        if (i >= n) break;
        std::string arg;
        while (i < n && !blank(commandLine[i])) {
            if (commandLine[i] == '"') {
                ++i;
                while (i < n && commandLine[i] != '"') arg += commandLine[i++];
                if (i < n) ++i;  // the closing quote
            } else {
                arg += commandLine[i++];
            }
        }
        args.push_back(std::move(arg));
    }
    return args;
}

std::string ArgumentAt(const std::vector<std::string>& args, size_t index) {
    return index < args.size() ? args[index] : std::string();
}

StartMode StartModeOf(const std::vector<std::string>& args) {
    const std::string mode = ArgumentAt(args, 2);
    if (mode.empty()) return StartMode::Normal;
    if (mode == "forceupdate") return StartMode::ForceUpdate;
    return StartMode::ConnectLink;
}

std::string SingleInstanceMutexName(const std::string& gameCode) {
    return "Global\\ " + gameCode + "0b1dbcc9-c9b7-4427-83d3-95d322548eb9";
}

}  // namespace orv
