#include "launcher/console/runner_rules.h"

namespace orv {

namespace {

bool IsHighSurrogate(char16_t ch) noexcept { return ch >= 0xD800 && ch <= 0xDBFF; }
bool IsLowSurrogate(char16_t ch) noexcept { return ch >= 0xDC00 && ch <= 0xDFFF; }

}  // namespace

std::string CreatePipeErrorMessage(const std::string& platformMessage) {
    return "Error creating Pipe: " + platformMessage;
}

std::string CreateProcessErrorMessage(const std::string& commandLine, const std::string& platformMessage) {
    return "Error creating Process: " + commandLine + " - (" + platformMessage + ")";
}

void LineAssembler::Mirror(const std::u16string& text, std::vector<AssemblerStep>& steps) {
    if (!mirror_) return;
    steps.push_back({partial_ ? AssemblerStep::OutputReplace : AssemblerStep::OutputAppend, text});
}

void LineAssembler::EndLine(std::u16string& buffer, bool byBreak, std::vector<AssemblerStep>& steps) {
    if (byBreak) steps.push_back({AssemblerStep::NewOutput, {}});
    steps.push_back({AssemblerStep::LinesAdd, buffer});
    Mirror(buffer, steps);
    partial_ = false;
    steps.push_back({AssemblerStep::NewLine, buffer, 0, TOutputType::otEntireLine});
    buffer.clear();
}

bool LineAssembler::Append(std::u16string& buffer, char16_t ch, std::vector<AssemblerStep>& steps) {
    const bool full = buffer.size() >= maxPendingLine_;
    if (full) {
        // The piece is full; a high surrogate at its end belongs with the low one arriving now.
        const bool pairParted = IsHighSurrogate(buffer.back()) && IsLowSurrogate(ch);
        const char16_t carried = buffer.back();
        if (pairParted) buffer.pop_back();
        EndLine(buffer, false, steps);
        if (pairParted) buffer += carried;
    }
    buffer += ch;
    return full;
}

std::vector<AssemblerStep> LineAssembler::Feed(const std::u16string& text, const std::function<bool()>& stopRequested) {
    std::vector<AssemblerStep> steps;
    if (text.empty()) return steps;
    std::u16string buffer = last_;
    bool lineEnded = false;
    for (const char16_t ch : text) {
        if (stopRequested && stopRequested()) {
            if (lineEnded) last_.clear();
            return steps;
        }
        steps.push_back({AssemblerStep::NewChar, {}, ch});
        // A NUL is no character of a line, and it does not part a CR from its LF either.
        if (ch == u'\0') continue;
        const char16_t prior = previousChar_;
        previousChar_ = ch;
        if (ch == u'\n' && prior == u'\r') continue;
        if (ch == u'\r' || ch == u'\n') {
            EndLine(buffer, true, steps);
            lineEnded = true;
            continue;
        }
        if (Append(buffer, ch, steps)) lineEnded = true;
    }
    last_ = buffer;
    if (!last_.empty()) {
        Mirror(last_, steps);
        steps.push_back({AssemblerStep::NewLine, last_, 0, TOutputType::otBeginningOfLine});
        partial_ = true;
    }
    return steps;
}

std::vector<AssemblerStep> LineAssembler::Flush() {
    std::vector<AssemblerStep> steps;
    // The final flush reports `last` as a complete line; an empty one was never shown, so nothing
    // of it reaches the lists, and no empty line is made up at the end.
    if (last_.empty()) return steps;
    steps.push_back({AssemblerStep::LinesAdd, last_});
    Mirror(last_, steps);
    steps.push_back({AssemblerStep::NewLine, last_, 0, TOutputType::otEntireLine});
    last_.clear();
    partial_ = false;
    return steps;
}

bool TimeLimitExceeded(int32_t limit, int32_t seconds) noexcept { return limit > 0 && seconds > limit; }

bool ShouldLeaveLoop(const LoopState& state) noexcept {
    if (state.stopRequested) return true;
    if (state.exitCode != kStillActive) return true;
    if (TimeLimitExceeded(state.maxTimeAfterBeginning, state.sinceBeginning)) return true;
    return TimeLimitExceeded(state.maxTimeAfterLastOutput, state.sinceLastOutput);
}

RunEnd DecideRunEnd(bool stopRequested, uint32_t exitCode) noexcept {
    if (exitCode == kStillActive) return {stopRequested ? TEndStatus::esStop : TEndStatus::esTime, true};
    return {TEndStatus::esProcess, false};
}

}  // namespace orv
