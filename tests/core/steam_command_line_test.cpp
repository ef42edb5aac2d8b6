#include <gtest/gtest.h>

#include <map>
#include <string>

#include "launcher/console/steam_command_line.h"

namespace orv {
namespace {

TEST(SteamCmdCommandLine, PiecesFromShortPaths) {
    const std::string tail = " +app_update 740 validate  +quit";
    const struct {
        const char* name;
        std::map<std::string, std::string> shortForms;  // what GetShortPath answers; absent = missing
        std::string expected;
    } cases[] = {
        {"short names keep the line unquoted",
         {{"C:\\Games\\My Game\\orvanta\\tools\\steamcmd\\steamcmd.exe", "C:\\Games\\MYGAME~1\\orvanta\\tools\\steamcmd\\steamcmd.exe"},
          {"C:\\Games\\My Game", "C:\\Games\\MYGAME~1"}},
         "C:\\Games\\MYGAME~1\\orvanta\\tools\\steamcmd\\steamcmd.exe +login anonymous +force_install_dir C:\\Games\\MYGAME~1" + tail},
        {"no 8.3 names: a long form with blanks is one quoted argument",
         {{"C:\\Games\\My Game\\orvanta\\tools\\steamcmd\\steamcmd.exe", "C:\\Games\\My Game\\orvanta\\tools\\steamcmd\\steamcmd.exe"},
          {"C:\\Games\\My Game", "C:\\Games\\My Game"}},
         "\"C:\\Games\\My Game\\orvanta\\tools\\steamcmd\\steamcmd.exe\" +login anonymous +force_install_dir \"C:\\Games\\My Game\"" + tail},
        {"a missing client leaves the first piece empty",
         {{"C:\\Games\\My Game", "C:\\Games\\MYGAME~1"}},
         " +login anonymous +force_install_dir C:\\Games\\MYGAME~1" + tail},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto shortPath = [&](const std::string& path) {
            const auto it = c.shortForms.find(path);
            return it == c.shortForms.end() ? std::string() : it->second;
        };
        EXPECT_EQ(SteamCmdCommandLine("C:\\Games\\My Game", shortPath), c.expected);
    }
}

}  // namespace
}  // namespace orv
