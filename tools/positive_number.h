// The tools' one rule for a count on the command line (--jobs, --connections, a code page, a
// position): decimal digits only, from 1 up.
#pragma once

#include <charconv>
#include <string>

namespace orv {

inline bool ParsePositive(const std::string& text, int& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && value > 0;
}

}  // namespace orv
