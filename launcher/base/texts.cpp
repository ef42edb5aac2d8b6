#include "launcher/base/texts.h"

#include "launcher/base/app_state.h"

namespace orv {

const char* TextIn(TextId id, int language) {
    const int index = static_cast<int>(id);
    if (index < 0 || index >= static_cast<int>(TextId::Count)) return "";
    return language == UiRussian ? texts_detail::kRussian[index] : texts_detail::kEnglish[index];
}

const char* Tr(TextId id) { return TextIn(id, UiLanguage); }

std::string FormatText(const char* text, const std::string& arg) {
    std::string result = text;
    const auto pos = result.find("%s");
    if (pos != std::string::npos) result.replace(pos, 2, arg);
    return result;
}

}  // namespace orv
