// The console runner's line assembler over a child's output as the reader hands it over: any text,
// in any reads, with a stop anywhere. The lines it reports are compared with a plain statement of
// the rules over the whole text at once.
//
// Input: byte 0 bit 0 mirrors into OutputLines, bits 1-3 pick the longest unfinished line (0: the
// runner's own, n: n + 1 characters); bytes 1-2 (little endian) are the position of the stop in
// the text, 0xFFFF none; then the text in UTF-16LE, where the unit 0xFFFF ends a read and is no
// part of it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "launcher/console/runner_rules.h"

using namespace orv;

namespace {

constexpr char16_t kEndOfRead = 0xFFFF;

bool IsHigh(char16_t ch) { return ch >= 0xD800 && ch <= 0xDBFF; }
bool IsLow(char16_t ch) { return ch >= 0xDC00 && ch <= 0xDFFF; }

// The rules over one whole text: NUL is ignored, CR LF, CR and LF each end a line, and a line is
// cut into pieces of at most `limit` units, a cut moving back by one rather than part a pair.
struct Expected {
    std::vector<std::u16string> lines;  // ended by a break or a cut
    std::u16string rest;                // the unfinished line
    int breaks = 0;
};

Expected Split(const std::u16string& text, std::size_t limit) {
    std::u16string plain;
    for (const char16_t ch : text)
        if (ch != u'\0') plain += ch;
    std::u16string unified;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        if (plain[i] == u'\r' && i + 1 < plain.size() && plain[i + 1] == u'\n') continue;
        unified += plain[i] == u'\r' ? u'\n' : plain[i];
    }
    Expected expected;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = unified.find(u'\n', start);
        const bool ended = end != std::u16string::npos;
        const std::u16string segment = unified.substr(start, ended ? end - start : std::u16string::npos);
        std::size_t at = 0;
        // A piece is only cut off once a unit follows it.
        while (segment.size() - at > limit) {
            std::size_t take = limit;
            if (IsHigh(segment[at + take - 1]) && IsLow(segment[at + take])) --take;
            expected.lines.push_back(segment.substr(at, take));
            at += take;
        }
        if (!ended) {
            expected.rest = segment.substr(at);
            return expected;
        }
        expected.lines.push_back(segment.substr(at));
        ++expected.breaks;
        start = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const bool mirror = (data[0] & 1) != 0;
    const unsigned pick = (data[0] >> 1) & 7;
    const std::size_t limit = pick == 0 ? LineAssembler::kMaxPendingLine : pick + 1;
    const std::size_t stopAt = data[1] | (static_cast<std::size_t>(data[2]) << 8);

    std::vector<std::u16string> reads(1);
    std::u16string text;
    for (size_t i = 3; i + 1 < size; i += 2) {
        const char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit == kEndOfRead) {
            reads.emplace_back();
            continue;
        }
        reads.back() += unit;
        text += unit;
    }

    LineAssembler assembler(mirror, limit);
    std::vector<std::u16string> lines, entire, outputLines;
    std::u16string chars;
    int breaks = 0;
    const auto apply = [&](const std::vector<AssemblerStep>& steps) {
        for (const AssemblerStep& step : steps) {
            switch (step.kind) {
                case AssemblerStep::NewChar: chars += step.ch; break;
                case AssemblerStep::NewOutput: ++breaks; break;
                case AssemblerStep::LinesAdd: lines.push_back(step.text); break;
                case AssemblerStep::OutputAppend: outputLines.push_back(step.text); break;
                case AssemblerStep::OutputReplace:
                    fuzz::Require(!outputLines.empty(), "a replacement in an empty OutputLines");
                    outputLines.back() = step.text;
                    break;
                case AssemblerStep::NewLine:
                    fuzz::Require(step.text.size() <= limit, "a line over the limit");
                    if (step.type == TOutputType::otEntireLine) entire.push_back(step.text);
                    break;
            }
        }
    };

    // Where the stop lands: the text before the read it lands in, and that read's part before it.
    std::size_t given = 0, readStart = text.size();
    bool stopped = false;
    for (const std::u16string& read : reads) {
        const std::size_t start = given;
        std::size_t position = start;
        apply(assembler.Feed(read, [&] { return stopped || (stopped = position++ == stopAt); }));
        if (stopped && readStart == text.size()) readStart = start;
        given = stopped ? std::min(stopAt, text.size()) : given + read.size();
        if (stopped) break;
    }
    apply(assembler.Flush());

    std::vector<std::u16string> expected;
    int expectedBreaks = 0;
    const Expected atStop = Split(text.substr(0, given), limit);
    expectedBreaks = atStop.breaks;
    if (!stopped) {
        expected = atStop.lines;
        if (!atStop.rest.empty()) expected.push_back(atStop.rest);
    } else {
        // The stopped read's unfinished part is dropped; the line before it stays unless a line
        // ended in that read, which then carried it.
        const Expected before = Split(text.substr(0, readStart), limit);
        expected = atStop.lines;
        if (atStop.lines.size() == before.lines.size() && !before.rest.empty()) expected.push_back(before.rest);
    }
    fuzz::Require(chars == text.substr(0, given), "OnNewChar missed or added characters");
    fuzz::Require(lines == expected, "Lines differ from the rules");
    fuzz::Require(entire == lines, "complete-line events differ from Lines");
    fuzz::Require(breaks == expectedBreaks, "a break counted for the time limit differs from the rules");
    if (mirror) fuzz::Require(outputLines == lines, "OutputLines differ from Lines");
    fuzz::Require(assembler.Last().empty(), "a line left after the final flush");
    return 0;
}
