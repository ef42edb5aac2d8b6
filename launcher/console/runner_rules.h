// The console runner's decisions that need no platform: the line assembler that turns decoded
// output into line events, when the worker leaves its wait loop, and how a run ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "launcher/base/errors.h"

namespace orv {

enum class TOutputType : int { otEntireLine = 0, otBeginningOfLine = 1 };

enum class TEndStatus : int32_t { esStop = 0, esProcess = 1, esStill_Active = 2, esNone = 3, esError = 4, esTime = 5 };

// GetExitCodeProcess's answer for a process that is still running.
inline constexpr uint32_t kStillActive = 259;

// The runner's errors; each carries only its message.
class EDosCommand : public Error {
public:
    using Error::Error;
    const char* ClassName() const noexcept override { return "EDosCommand"; }
};
class ECreatePipeError : public Error {
public:
    using Error::Error;
    const char* ClassName() const noexcept override { return "ECreatePipeError"; }
};
class ECreateProcessError : public Error {
public:
    using Error::Error;
    const char* ClassName() const noexcept override { return "ECreateProcessError"; }
};
class EProcessTimer : public Error {
public:
    using Error::Error;
    const char* ClassName() const noexcept override { return "EProcessTimer"; }
};

inline constexpr char kStillRunningMessage[] = "DosCommand still running";
inline constexpr char kNoCommandLineMessage[] = "No Commandline to execute";
std::string CreatePipeErrorMessage(const std::string& platformMessage);
std::string CreateProcessErrorMessage(const std::string& commandLine, const std::string& platformMessage);

// One thing the assembler asks the runner to do, in the order it must happen.
struct AssemblerStep {
    enum Kind {
        NewChar,        // DoNewChar(ch)
        NewOutput,      // a line break: the timer's count since the last line starts again
        LinesAdd,       // DoLinesAdd(text)
        OutputAppend,   // append text to OutputLines
        OutputReplace,  // replace the last entry of OutputLines by text
        NewLine,        // DoNewLine(text, type)
    };
    Kind kind;
    std::u16string text;
    char16_t ch = 0;
    TOutputType type = TOutputType::otEntireLine;

    bool operator==(const AssemblerStep&) const = default;
};

// The line assembler (DoReadLine) with the unfinished line `last` and the flag `partial` kept from
// one block of text to the next.
class LineAssembler {
public:
    // An unfinished line longer than this is ended as a complete line (without a NewOutput, so a
    // tool that prints endlessly without a break still reaches a limit on its last output): a tool
    // that writes megabytes without a line break keeps memory bounded, and each growth that the
    // window is sent stays small. A cut never parts a surrogate pair: the pair goes on to the next
    // piece whole.
    static constexpr std::size_t kMaxPendingLine = 4096;

    // `mirror`: OutputLines is set, so the assembler also says how to keep it in step.
    // `maxPendingLine` (at least 2, so that a surrogate pair fits) is kMaxPendingLine but in tests.
    explicit LineAssembler(bool mirror, std::size_t maxPendingLine = kMaxPendingLine)
        : mirror_(mirror), maxPendingLine_(maxPendingLine < 2 ? 2 : maxPendingLine) {}

    // Assembles one block of decoded text; `stopRequested` is asked before each character, and
    // once it holds the rest of the block is dropped. The unfinished line stays as it was last
    // reported: `last` keeps its old value, or is empty when a line ended in this block (that line
    // already carried it, so the final flush must not report it again).
    std::vector<AssemblerStep> Feed(const std::u16string& text, const std::function<bool()>& stopRequested = {});
    // The final flush after the run's end.
    std::vector<AssemblerStep> Flush();

    const std::u16string& Last() const noexcept { return last_; }
    bool Partial() const noexcept { return partial_; }
    std::size_t MaxPendingLine() const noexcept { return maxPendingLine_; }

private:
    void EndLine(std::u16string& buffer, bool byBreak, std::vector<AssemblerStep>& steps);
    // Appends `ch`, first ending a full buffer as a cut; true when it cut.
    bool Append(std::u16string& buffer, char16_t ch, std::vector<AssemblerStep>& steps);
    void Mirror(const std::u16string& text, std::vector<AssemblerStep>& steps);

    bool mirror_;
    std::size_t maxPendingLine_;
    std::u16string last_;
    bool partial_ = false;
    // The last character other than NUL of the text so far: a CR there and an LF that follows
    // are one break, also when a NUL lies between them or the CR ended the previous block.
    char16_t previousChar_ = 0;
};

// The wait loop's exit tests, in their order: a stop, the process's end, the limit since the start,
// the limit since the last line. A limit of 0 or less is no limit.
struct LoopState {
    bool stopRequested = false;
    uint32_t exitCode = kStillActive;
    int32_t maxTimeAfterBeginning = 0;
    int32_t maxTimeAfterLastOutput = 0;
    int32_t sinceBeginning = 0;
    int32_t sinceLastOutput = 0;
};
bool TimeLimitExceeded(int32_t limit, int32_t seconds) noexcept;
bool ShouldLeaveLoop(const LoopState& state) noexcept;

// How the run ended once the loop was left, and whether the process is to be killed.
struct RunEnd {
    TEndStatus status;
    bool canTerminate;
};
RunEnd DecideRunEnd(bool stopRequested, uint32_t exitCode) noexcept;

}  // namespace orv
