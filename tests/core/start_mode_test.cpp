#include "launcher/start_mode.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

using Args = std::vector<std::string>;

TEST(CommandLine, BlanksSplitAndQuotesGroupAndVanish) {
    EXPECT_EQ(SplitCommandLine(""), Args{});
    EXPECT_EQ(SplitCommandLine("   \t "), Args{});
    EXPECT_EQ(SplitCommandLine("a b  c"), (Args{"a", "b", "c"}));
    EXPECT_EQ(SplitCommandLine("\"C:\\Games\\My Game\\Orvanta.exe\" \"x y\""),
              (Args{"C:\\Games\\My Game\\Orvanta.exe", "x y"}));
    // Quotes inside an argument group only the text between them; the quotes themselves go.
    EXPECT_EQ(SplitCommandLine("ab\"c d\"e f"), (Args{"abc de", "f"}));
    // An unterminated quote runs to the end of the line.
    EXPECT_EQ(SplitCommandLine("exe \"open ended"), (Args{"exe", "open ended"}));
    // An empty pair of quotes is an empty argument, which keeps its place.
    EXPECT_EQ(SplitCommandLine("exe \"\" forceupdate"), (Args{"exe", "", "forceupdate"}));
    // Control characters count as blanks.
    EXPECT_EQ(SplitCommandLine("a\x01" "b\nc"), (Args{"a", "b", "c"}));
    // Multi-byte UTF-8 is never split.
    EXPECT_EQ(SplitCommandLine("\"C:\\Игры\\Orvanta.exe\" Игрок"), (Args{"C:\\Игры\\Orvanta.exe", "Игрок"}));
}

TEST(CommandLine, ArgumentTwoChoosesTheStartMode) {
    EXPECT_EQ(StartModeOf(Args{}), StartMode::Normal);
    EXPECT_EQ(StartModeOf(Args{"exe"}), StartMode::Normal);
    EXPECT_EQ(StartModeOf(Args{"exe", "anything at all"}), StartMode::Normal) << "argument 1 is never read";
    EXPECT_EQ(StartModeOf(Args{"exe", "x", ""}), StartMode::Normal);
    EXPECT_EQ(StartModeOf(Args{"exe", "x", "forceupdate"}), StartMode::ForceUpdate);
    EXPECT_EQ(StartModeOf(Args{"exe", "x", "ForceUpdate"}), StartMode::ConnectLink);
    EXPECT_EQ(StartModeOf(Args{"exe", "x", "forceupdate "}), StartMode::ConnectLink);
    EXPECT_EQ(StartModeOf(Args{"exe", "x", "vtlcstrike://127.0.0.1:27015"}), StartMode::ConnectLink);
    EXPECT_EQ(StartModeOf(SplitCommandLine("exe \"\" \"\"")), StartMode::Normal);
    EXPECT_EQ(ArgumentAt(Args{"a"}, 5), "");
}

TEST(CommandLine, MutexNameKeepsTheBlankAfterTheNamespace) {
    const std::string name = SingleInstanceMutexName("cstrike");
    EXPECT_EQ(name, "Global\\ cstrike0b1dbcc9-c9b7-4427-83d3-95d322548eb9");
    EXPECT_EQ(name.substr(0, 8), "Global\\ ");
    EXPECT_NE(SingleInstanceMutexName("other"), name);
}

}  // namespace
}  // namespace orv
