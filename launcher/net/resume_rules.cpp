#include "launcher/net/resume_rules.h"

#include <limits>

namespace orv {
namespace {

constexpr std::string_view kRecordHeading = "orvanta-partial 1\n";
constexpr std::string_view kRecordSuffix = ".orvanta-partial";
// Far above any real validator or address, and short enough that a header line built from one
// stays small whatever the server or the game folder holds.
constexpr size_t kLongestValidator = 512;

// All decimal digits and within a signed 64-bit integer; leading zeros only where `zeros` allows.
std::optional<int64_t> DecimalOf(std::string_view text, bool zeros) {
    if (text.empty()) return std::nullopt;
    if (!zeros && text.size() > 1 && text[0] == '0') return std::nullopt;
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const int digit = c - '0';
        if (value > (kMax - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

bool HasControl(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) return true;
    }
    return false;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// The next "<key> <value>\n" line of a record: the value, with the line taken off `text`.
std::optional<std::string_view> RecordLine(std::string_view& text, std::string_view key) {
    if (!text.starts_with(key) || text.size() <= key.size() || text[key.size()] != ' ') return std::nullopt;
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view value = text.substr(key.size() + 1, end - key.size() - 1);
    text.remove_prefix(end + 1);
    return value;
}

}  // namespace

std::optional<ContentRange> ParseContentRange(std::string_view text) {
    text = Trimmed(text);
    constexpr std::string_view kUnit = "bytes";
    if (text.size() <= kUnit.size()) return std::nullopt;
    for (size_t i = 0; i < kUnit.size(); ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
        if (c != kUnit[i]) return std::nullopt;
    }
    text.remove_prefix(kUnit.size());
    if (!IsBlank(text.front())) return std::nullopt;
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);

    const size_t dash = text.find('-');
    const size_t slash = text.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) return std::nullopt;
    // Servers write these numbers plainly; a zero-padded one is still the number.
    const std::optional<int64_t> first = DecimalOf(text.substr(0, dash), true);
    const std::optional<int64_t> last = DecimalOf(text.substr(dash + 1, slash - dash - 1), true);
    if (!first || !last || *last < *first) return std::nullopt;
    ContentRange range{*first, *last, -1};
    const std::string_view total = text.substr(slash + 1);
    if (total != "*") {
        const std::optional<int64_t> whole = DecimalOf(total, true);
        if (!whole || *whole <= *last) return std::nullopt;
        range.total = *whole;
    }
    return range;
}

RangeAnswer RangeAnswerOf(int64_t offset, int status, std::string_view contentRange) {
    if (status == 200) return RangeAnswer::Restart;
    if (status != 206) return RangeAnswer::Refuse;
    const std::optional<ContentRange> range = ParseContentRange(contentRange);
    if (!range || range->first != offset) return RangeAnswer::Refuse;
    // Only the rest up to the end was asked for: a range that stops short would leave a hole that
    // the file's length would hide.
    if (range->total >= 0 && range->last != range->total - 1) return RangeAnswer::Refuse;
    return RangeAnswer::Append;
}

std::string IfRangeValidator(std::string_view etag, std::string_view lastModified) {
    etag = Trimmed(etag);
    lastModified = Trimmed(lastModified);
    // A strong entity tag is a quoted string; the header line is built from it, so nothing that
    // could end or bend the line gets through.
    const bool strong = etag.size() >= 2 && etag.front() == '"' && etag.back() == '"' &&
                        etag.find('"', 1) == etag.size() - 1 && etag.size() <= kLongestValidator && !HasControl(etag);
    if (strong) return std::string(etag);
    if (!lastModified.empty() && lastModified.size() <= kLongestValidator && !HasControl(lastModified))
        return std::string(lastModified);
    return {};
}

int64_t WholeLength(int status, int64_t contentLength, std::string_view contentRange) {
    if (status == 206) {
        const std::optional<ContentRange> range = ParseContentRange(contentRange);
        return range ? range->total : -1;
    }
    if (status == 200) return contentLength >= 0 ? contentLength : -1;
    return -1;
}

std::string RangeHeaderValue(int64_t offset) { return "bytes=" + std::to_string(offset) + "-"; }

std::string ResumeRecordPath(const std::string& partialPath) { return partialPath + std::string(kRecordSuffix); }

std::string FormatResumeRecord(const ResumeRecord& record) {
    std::string text(kRecordHeading);
    text.append("url ").append(record.url).append("\n");
    text.append("validator ").append(record.validator).append("\n");
    text.append("length ").append(std::to_string(record.length)).append("\n");
    return text;
}

std::optional<ResumeRecord> ParseResumeRecord(std::string_view text) {
    if (text.size() > kResumeRecordMaxBytes || !text.starts_with(kRecordHeading)) return std::nullopt;
    text.remove_prefix(kRecordHeading.size());
    const std::optional<std::string_view> url = RecordLine(text, "url");
    if (!url) return std::nullopt;
    const std::optional<std::string_view> validator = RecordLine(text, "validator");
    if (!validator) return std::nullopt;
    const std::optional<std::string_view> lengthText = RecordLine(text, "length");
    if (!lengthText || !text.empty()) return std::nullopt;
    if (url->empty() || HasControl(*url) || validator->empty() || HasControl(*validator) ||
        validator->size() > kLongestValidator)
        return std::nullopt;
    const std::optional<int64_t> length = DecimalOf(*lengthText, false);
    if (!length || *length <= 0) return std::nullopt;
    return ResumeRecord{std::string(*url), std::string(*validator), *length};
}

}  // namespace orv
