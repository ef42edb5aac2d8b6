// The tools' one rule for a count on the command line (--jobs, --connections, a code page, a
// position): decimal digits only, from 1 up, and for a count of threads at most MostThreads.
#pragma once

#include <charconv>
#include <optional>
#include <string>

namespace orv {

inline bool ParsePositive(const std::string& text, int& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && value > 0;
}

// Threads a tool starts for one option: more only add memory (each holds buffers and, repairing, an
// LZMA window) and contention, and each start may fail.
inline constexpr int MostThreads = 64;

// `text` as the count given for option `name` (at most `most` when that is above 0): nothing, with
// `value` set, or the problem in words.
inline std::optional<std::string> CountOptionProblem(const std::string& name, const std::string& text, int& value,
                                                     int most = 0) {
    if (!ParsePositive(text, value)) return name + " takes a number from 1 up, not \"" + text + "\"";
    if (most > 0 && value > most)
        return name + " takes a number from 1 to " + std::to_string(most) + ", not \"" + text + "\"";
    return std::nullopt;
}

}  // namespace orv
