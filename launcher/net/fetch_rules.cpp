#include "launcher/net/fetch_rules.h"

#include <charconv>

#include <limits>

namespace orv {

int64_t ContentLengthValue(const std::string& text) {
    if (text.empty()) return -1;
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return -1;
        const int digit = c - '0';
        if (value > (kMax - digit) / 10) return -1;
        value = value * 10 + digit;
    }
    return value;
}

std::string StatusFailureText(int status) { return "HTTP status " + std::to_string(status); }

std::string ShortBodyText(int64_t written, int64_t length) {
    return "the body ended after " + std::to_string(written) + " of " + std::to_string(length) + " bytes";
}

bool BodyBeyond(int64_t written, const std::string& lengthText, uint64_t most) {
    if (written > 0 && static_cast<uint64_t>(written) > most) return true;
    if (lengthText.empty()) return false;
    uint64_t announced = 0;
    const char* end = lengthText.data() + lengthText.size();
    const auto [ptr, ec] = std::from_chars(lengthText.data(), end, announced);
    return ec == std::errc::result_out_of_range || (ec == std::errc() && ptr == end && announced > most);
}

}  // namespace orv
