// Every message of the launcher, by id; one table per interface language (texts_ru.cpp,
// texts_en.cpp). Texts that exist in one language only stand in both tables unchanged.
#pragma once

#include <string>

namespace orv {

enum class TextId : int {
    AlreadyRunning,   // a second launcher was started
    SettingsError,    // reading the settings file failed (Russian only)
    UnableToWrite,    // a refused write; %s stands for the file path (English only)
    ErrorInternetReadFile,  // a download broke off (the same in both languages)
    Count
};

// The text of `id` in `language` (0 Russian, anything else English).
const char* TextIn(TextId id, int language);
// The text of `id` in the current UiLanguage.
const char* Tr(TextId id);
// Replaces the first %s of a text with `arg`.
std::string FormatText(const char* text, const std::string& arg);

namespace texts_detail {
extern const char* const kRussian[static_cast<int>(TextId::Count)];
extern const char* const kEnglish[static_cast<int>(TextId::Count)];
}  // namespace texts_detail

}  // namespace orv
