#include "launcher/console/runner_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace orv {
namespace {

using namespace std::string_literals;

using Kind = AssemblerStep::Kind;

// What the steps of a run amount to: the events and the two lists as the GUI thread would see them.
struct Seen {
    std::vector<std::u16string> lines;        // Lines
    std::vector<std::u16string> outputLines;  // OutputLines
    std::vector<std::u16string> entire;       // OnNewLine with otEntireLine
    std::vector<std::u16string> beginning;    // OnNewLine with otBeginningOfLine
    std::u16string chars;                     // OnNewChar
    int breaks = 0;                           // the timer's NewOutput

    void Apply(const std::vector<AssemblerStep>& steps) {
        for (const AssemblerStep& step : steps) {
            switch (step.kind) {
                case Kind::NewChar: chars += step.ch; break;
                case Kind::NewOutput: ++breaks; break;
                case Kind::LinesAdd: lines.push_back(step.text); break;
                case Kind::OutputAppend: outputLines.push_back(step.text); break;
                case Kind::OutputReplace:
                    ASSERT_FALSE(outputLines.empty());
                    outputLines.back() = step.text;
                    break;
                case Kind::NewLine:
                    (step.type == TOutputType::otEntireLine ? entire : beginning).push_back(step.text);
                    break;
            }
        }
    }
};

struct AssemblerCase {
    const char* name;
    std::vector<std::u16string> reads;  // one decoded block per read
    bool processEnds;                   // the final flush follows
    std::vector<std::u16string> lines;
    std::vector<std::u16string> beginning;
    std::vector<std::u16string> outputLines;
    int breaks;
};

TEST(LineAssembler, CasesOverReadsAndTheFinalFlush) {
    const std::vector<AssemblerCase> cases = {
        {"CR LF and LF in one read", {u"a\r\nb\n"}, false, {u"a", u"b"}, {}, {u"a", u"b"}, 2},
        {"CR-only progress lines", {u"50%\r60%\r"}, false, {u"50%", u"60%"}, {}, {u"50%", u"60%"}, 2},
        {"LF then CR is two breaks", {u"x\n\r"}, false, {u"x", u""}, {}, {u"x", u""}, 2},
        {"two LF make an empty line", {u"x\n\ny\n"}, false, {u"x", u"", u"y"}, {}, {u"x", u"", u"y"}, 3},
        {"unfinished line then the end", {u"abc"}, true, {u"abc"}, {u"abc"}, {u"abc"}, 0},
        {"a line over two reads", {u"ab", u"c\n"}, false, {u"abc"}, {u"ab"}, {u"abc"}, 1},
        {"NUL never in a line", {u"a\0b\n"s}, false, {u"ab"}, {}, {u"ab"}, 1},
        {"CR at the end of a read, LF opens the next", {u"a\r", u"\nb\n"}, false, {u"a", u"b"}, {}, {u"a", u"b"}, 2},
        {"LF alone after a read ending in LF", {u"a\n", u"\nb\n"}, false, {u"a", u"", u"b"}, {}, {u"a", u"", u"b"}, 3},
        {"nothing read, the end", {}, true, {}, {}, {}, 0},
        {"an empty read changes nothing", {u"", u"q\n"}, true, {u"q"}, {}, {u"q"}, 1},
        {"Cyrillic passes as it is", {u"Привет\r\n"}, false, {u"Привет"}, {}, {u"Привет"}, 1},
    };
    for (const AssemblerCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (const bool mirror : {true, false}) {
            LineAssembler assembler(mirror);
            Seen seen;
            std::u16string all;
            for (const std::u16string& read : c.reads) {
                seen.Apply(assembler.Feed(read));
                all += read;
            }
            if (c.processEnds) seen.Apply(assembler.Flush());
            EXPECT_EQ(seen.lines, c.lines);
            EXPECT_EQ(seen.beginning, c.beginning);
            EXPECT_EQ(seen.outputLines, mirror ? c.outputLines : std::vector<std::u16string>{});
            EXPECT_EQ(seen.chars, all);  // every character, NUL included, reaches OnNewChar
            EXPECT_EQ(seen.breaks, c.breaks);
            // Complete lines are reported once each, in order, as Lines receives them.
            EXPECT_EQ(seen.entire, c.lines);
        }
    }
}

TEST(LineAssembler, StopDropsTheRestOfTheBlockAndKeepsLast) {
    LineAssembler assembler(true);
    Seen seen;
    seen.Apply(assembler.Feed(u"ab"));
    int asked = 0;
    seen.Apply(assembler.Feed(u"c\nd", [&] { return ++asked > 1; }));
    EXPECT_EQ(seen.chars, u"abc");
    EXPECT_TRUE(seen.lines.empty());
    EXPECT_EQ(assembler.Last(), u"ab");
}

TEST(LineAssembler, AnEndlessLineIsCutIntoBoundedPieces) {
    LineAssembler assembler(true);
    Seen seen;
    const std::u16string block(1024, u'x');
    std::size_t largestGrowth = 0;
    for (int i = 0; i < 20; ++i) {
        const auto steps = assembler.Feed(block);
        for (const AssemblerStep& step : steps) largestGrowth = std::max(largestGrowth, step.text.size());
        seen.Apply(steps);
        EXPECT_LE(assembler.Last().size(), LineAssembler::kMaxPendingLine);
    }
    seen.Apply(assembler.Flush());
    EXPECT_LE(largestGrowth, LineAssembler::kMaxPendingLine);
    // 20 KiB of text: five full pieces; nothing is lost, and a cut is no line break for the timer.
    ASSERT_EQ(seen.lines.size(), 5u);
    for (const auto& line : seen.lines) EXPECT_EQ(line, std::u16string(LineAssembler::kMaxPendingLine, u'x'));
    EXPECT_EQ(seen.outputLines, seen.lines);
    EXPECT_EQ(seen.breaks, 0);
}

// One read, and the character before which a stop lands in it (none by default); once a stop has
// landed it holds for every later read.
struct Chunk {
    std::u16string text;
    std::size_t stopBefore = std::u16string::npos;
};

struct ChunkCase {
    const char* name;
    std::vector<Chunk> chunks;
    std::size_t limit;                   // the assembler's longest unfinished line
    std::vector<std::u16string> lines;   // Lines after the final flush
    int breaks;
};

TEST(LineAssembler, StopsCutsAndBreaksOverChunks) {
    constexpr std::size_t kLimit = LineAssembler::kMaxPendingLine;
    const std::u16string full(kLimit, u'x');
    const std::u16string smile = u"\U0001F600";  // one surrogate pair
    const std::u16string high = smile.substr(0, 1), low = smile.substr(1);
    const std::size_t npos = std::u16string::npos;
    const std::vector<ChunkCase> cases = {
        // A stop drops the rest of its block; what an ended line carried is not reported again.
        {"stop after a break in the block", {{u"abc"}, {u"def\nghi", 4}}, kLimit, {u"abcdef"}, 1},
        {"stop before any break keeps the old last", {{u"abc"}, {u"de\nf", 2}}, kLimit, {u"abc"}, 0},
        {"stop at a block's first character", {{u"ab"}, {u"\ncd", 0}}, kLimit, {u"ab"}, 0},
        {"stop right after a break", {{u"ab\ncd", 3}}, kLimit, {u"ab"}, 1},
        {"stop after a cut", {{u"abcdef", 4}}, 3, {u"abc"}, 0},
        {"blocks after a stop change nothing", {{u"a\nb", 2}, {u"c\n"}}, kLimit, {u"a"}, 1},
        // The bound is "longer than": a line of exactly the limit is one line.
        {"limit then CR LF is one line", {{full + u"\r\n"}}, kLimit, {full}, 1},
        {"limit over reads then CR and LF apart", {{full.substr(0, 4000)}, {full.substr(4000) + u"\r"}, {u"\n"}},
         kLimit, {full}, 1},
        {"one over the limit is cut", {{full + u"x\n"}}, kLimit, {full, u"x"}, 1},
        {"limit and the end of the run", {{full}}, kLimit, {full}, 0},
        // A cut never parts a surrogate pair.
        {"pair at the cut goes on whole", {{full.substr(1) + smile + u"\n"}}, kLimit, {full.substr(1), smile}, 1},
        {"pair parted by two reads at the cut", {{full.substr(1) + high}, {low + u"\n"}}, kLimit,
         {full.substr(1), smile}, 1},
        {"pair at a small limit", {{u"abc" + smile + u"d\n"}}, 4, {u"abc", smile + u"d"}, 1},
        {"a lone high surrogate is cut as it is", {{u"ab" + high + u"c\n"}}, 3, {u"ab" + high, u"c"}, 1},
        // A NUL between CR and LF does not part them.
        {"NUL between CR and LF", {{u"a\r\0\nb\n"s}}, kLimit, {u"a", u"b"}, 2},
        {"NUL between CR and LF over three reads", {{u"a\r"}, {u"\0"s}, {u"\nb\n"}}, kLimit, {u"a", u"b"}, 2},
        {"NUL between two LF leaves the empty line", {{u"a\n\0\nb\n"s}}, kLimit, {u"a", u"", u"b"}, 3},
    };
    for (const ChunkCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (const bool mirror : {true, false}) {
            LineAssembler assembler(mirror, c.limit);
            Seen seen;
            std::u16string given;  // what reached OnNewChar: everything before the stop
            bool stopped = false;
            for (const Chunk& chunk : c.chunks) {
                std::size_t asked = 0;
                seen.Apply(assembler.Feed(chunk.text, [&] { return stopped || asked++ == chunk.stopBefore; }));
                if (stopped) continue;
                given += chunk.text.substr(0, chunk.stopBefore);
                stopped = chunk.stopBefore != npos;
            }
            seen.Apply(assembler.Flush());
            EXPECT_EQ(seen.lines, c.lines);
            EXPECT_EQ(seen.entire, c.lines);
            EXPECT_EQ(seen.outputLines, mirror ? c.lines : std::vector<std::u16string>{});
            EXPECT_EQ(seen.chars, given);
            EXPECT_EQ(seen.breaks, c.breaks);
            for (const std::u16string& line : seen.lines) EXPECT_LE(line.size(), c.limit);
        }
    }
}

TEST(RunnerRules, LoopExitTestsAndLimits) {
    struct Case {
        LoopState state;
        bool leave;
    };
    const std::vector<Case> cases = {
        {{false, kStillActive, 0, 0, 100, 100}, false},  // no limits
        {{true, kStillActive, 0, 0, 0, 0}, true},        // a stop
        {{false, 0, 0, 0, 0, 0}, true},                  // the process ended with 0
        {{false, 7, 0, 0, 0, 0}, true},                  // or with another code
        {{false, kStillActive, 1, 0, 1, 1}, false},      // a limit of 1 s holds at the first tick
        {{false, kStillActive, 1, 0, 2, 2}, true},       // and is exceeded at the second
        {{false, kStillActive, 3, 0, 3, 3}, false},
        {{false, kStillActive, 3, 0, 4, 0}, true},       // killed at the fourth tick
        {{false, kStillActive, 0, 2, 9, 2}, false},
        {{false, kStillActive, 0, 2, 9, 3}, true},       // the third tick after the last line
        {{false, kStillActive, -5, -1, 99, 99}, false},  // 0 or less is no limit
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(ShouldLeaveLoop(cases[i].state), cases[i].leave);
    }
}

TEST(RunnerRules, EndStatusesAndMessages) {
    EXPECT_EQ(DecideRunEnd(true, kStillActive).status, TEndStatus::esStop);
    EXPECT_TRUE(DecideRunEnd(true, kStillActive).canTerminate);
    EXPECT_EQ(DecideRunEnd(false, kStillActive).status, TEndStatus::esTime);
    EXPECT_TRUE(DecideRunEnd(false, kStillActive).canTerminate);
    // A stop or a limit that came after the exit code was read: the process ended by itself.
    EXPECT_EQ(DecideRunEnd(true, 0).status, TEndStatus::esProcess);
    EXPECT_FALSE(DecideRunEnd(true, 0).canTerminate);
    EXPECT_EQ(DecideRunEnd(false, 3).status, TEndStatus::esProcess);

    EXPECT_EQ(CreateProcessErrorMessage("x.exe -a", "not found"), "Error creating Process: x.exe -a - (not found)");
    EXPECT_EQ(CreatePipeErrorMessage("denied"), "Error creating Pipe: denied");
    EXPECT_STREQ(ECreateProcessError("m").ClassName(), "ECreateProcessError");
    EXPECT_STREQ(EDosCommand(kStillRunningMessage).ClassName(), "EDosCommand");
    EXPECT_STREQ(ECreatePipeError("m").ClassName(), "ECreatePipeError");
    EXPECT_STREQ(EProcessTimer("m").ClassName(), "EProcessTimer");
}

}  // namespace
}  // namespace orv
