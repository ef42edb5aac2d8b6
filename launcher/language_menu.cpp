#include "launcher/language_menu.h"

#include "launcher/base/app_state.h"

namespace orv {
namespace {

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool SameLanguageName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

int UiLanguageOfEntry(int index) {
    return index >= 0 && index < LanguageEntryCount && SameLanguageName(LanguageEntries[index], "Russian")
               ? UiRussian
               : UiEnglish;
}

LanguageSelection SelectLanguage(std::string_view name) {
    LanguageSelection selection;
    selection.gameLanguage = FallbackGameLanguage;
    for (const char* entry : LanguageEntries) {
        if (SameLanguageName(name, entry)) {
            selection.gameLanguage = std::string(name);
            break;
        }
    }
    // The entry to check is found from the resolved value, so the fallback checks "Russian".
    for (int i = 0; i < LanguageEntryCount; ++i) {
        if (SameLanguageName(selection.gameLanguage, LanguageEntries[i])) {
            selection.entry = i;
            break;
        }
    }
    selection.uiLanguage = UiLanguageOfEntry(selection.entry);
    return selection;
}

}  // namespace orv
