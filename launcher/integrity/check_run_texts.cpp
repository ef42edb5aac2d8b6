// The texts of the check run's status and counters lines and of its refusal message.
#include <algorithm>
#include <cmath>
#include <limits>

#include "launcher/base/app_state.h"
#include "launcher/base/texts.h"
#include "launcher/integrity/check_run.h"
#include "launcher/platform/utf8.h"

namespace orv {
namespace {

// The code points of the lower-case rule: Latin-1 capitals and the Cyrillic ones (Ѐ-Я, А-Я).
char32_t LowerOf(char32_t c) {
    if (c >= U'A' && c <= U'Z') return c + 0x20;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    return c;
}

}  // namespace

bool IsLongStatusPath(std::string_view path) { return Utf8ToUtf16(std::string(path)).size() >= StatusPathLimit; }

std::string ShownStatusPath(std::string_view path, std::string_view lowered, int language) {
    if (!IsLongStatusPath(path)) return std::string(language == UiRussian ? path : lowered);
    const std::u16string wide = Utf8ToUtf16(std::string(path));
    // The last 36 characters: a path of exactly 35 shows whole.
    const size_t shown = std::min(wide.size(), StatusPathLimit + 1);
    return "..." + Utf16ToUtf8(wide.substr(wide.size() - shown));
}

std::string CheckingFileText(std::string_view path, std::string_view lowered, int language) {
    return TextIn(TextId::CheckingFile, language) + ShownStatusPath(path, lowered, language);
}

std::string RetryingText(const RetryNotice& notice, int secondsLeft, std::string_view shownPath, int language) {
    // The path goes in last: a "%s" inside it stays as it is.
    std::string text = FormatText(TextIn(TextId::DownloadRetrying, language), std::to_string(notice.nextTry));
    text = FormatText(text.c_str(), std::to_string(notice.tries));
    text = FormatText(text.c_str(), std::to_string(std::max(secondsLeft, 0)));
    return FormatText(text.c_str(), std::string(shownPath));
}

std::string CountersText(CountersMoment moment, std::string_view totalText, int entries, int downloaded,
                         int language) {
    TextId id = TextId::CountersAfterFile;
    if (moment == CountersMoment::BeforeLongPath) id = TextId::CountersBeforeCheck;
    if (moment == CountersMoment::AtEnd) id = TextId::CountersAtEnd;
    std::string text = TextIn(id, language);
    text.append(totalText).append(" / ").append(std::to_string(entries)).append(" / ");
    return text.append(std::to_string(downloaded));
}

int OverallProgressWidth(int32_t total, int checked) {
    if (total <= 0) return CheckProgressFullWidth;
    const double width = std::trunc(static_cast<double>(CheckProgressFullWidth) / total * checked);
    // A window cannot be wider than this anyway; the cut keeps the conversion defined.
    constexpr double kWidest = std::numeric_limits<int16_t>::max();
    return static_cast<int>(std::clamp(width, 0.0, kWidest));
}

std::string LowerCaseText(std::string_view utf8) {
    std::u16string wide = Utf8ToUtf16(std::string(utf8));
    for (char16_t& c : wide) c = static_cast<char16_t>(LowerOf(c));
    return Utf16ToUtf8(wide);
}

std::string RefusedPathsText(const std::vector<std::string>& paths, int language) {
    std::string list;
    for (size_t i = 0; i < paths.size() && i < RefusedPathsShown; ++i) {
        if (!list.empty()) list += "\n";
        // A hostile line may be megabytes long; its start tells the player enough.
        const std::string& path = paths[i];
        size_t cut = std::min(path.size(), RefusedPathShownBytes);
        while (cut < path.size() && cut > 0 && (static_cast<unsigned char>(path[cut]) & 0xC0) == 0x80) --cut;
        list.append(path, 0, cut);
        if (cut < path.size()) list += "...";
    }
    if (paths.size() > RefusedPathsShown)
        list.append("\n").append(FormatText(TextIn(TextId::UnsafeChecklistPathsMore, language),
                                            std::to_string(paths.size() - RefusedPathsShown)));
    return FormatText(TextIn(TextId::UnsafeChecklistPaths, language), list);
}

}  // namespace orv
