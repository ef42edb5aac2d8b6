// The game language menu's rules, apart from the menu itself: its 27 entries, how a language name
// (stored or picked) resolves to the game language and its entry, and which interface language an
// entry gives: Russian for "Russian", English for every other entry.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace orv {

inline constexpr int LanguageEntryCount = 27;

// The entries in menu order; each entry's name is also its caption and the game language value.
inline constexpr std::array<const char*, LanguageEntryCount> LanguageEntries = {
    "Brazilian", "Bulgarian", "sChinese", "tChinese", "Czech",    "Danish",     "Dutch",
    "English",   "Finnish",   "French",   "German",   "Greek",    "Hungarian",  "Italian",
    "Japanese",  "Korean",    "Koreana",  "Norwegian", "Polish",  "Portuguese", "Romanian",
    "Russian",   "Spanish",   "Swedish",  "Thai",     "Turkish",  "Ukrainian",
};

// The menu breaks into a second column at this entry ("Japanese").
inline constexpr int LanguageSecondColumn = 14;

// The game language of a name that names no entry.
inline constexpr const char* FallbackGameLanguage = "Russian";

// Language names compare with the letters A-Z folded to a-z and nothing else, so that no other
// character can turn a stranger name into an entry's.
bool SameLanguageName(std::string_view a, std::string_view b);

// The interface language (0 Russian, 1 English) of entry `index`.
int UiLanguageOfEntry(int index);

struct LanguageSelection {
    std::string gameLanguage;  // the name as passed when it names an entry, else "Russian"
    int entry = 0;             // index into LanguageEntries of the entry to check
    int uiLanguage = 0;
};

// Resolves `name` as the language menu applies it.
LanguageSelection SelectLanguage(std::string_view name);

}  // namespace orv
