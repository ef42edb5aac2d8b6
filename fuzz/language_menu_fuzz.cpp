// A stored or picked game language name resolved as the language menu applies it.
#include "fuzz_support.h"
#include "launcher/language_menu.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view name = fuzz::AsText(data, size);
    const LanguageSelection selection = SelectLanguage(name);
    fuzz::Require(selection.entry >= 0 && selection.entry < LanguageEntryCount, "an entry outside the menu");
    fuzz::Require(SameLanguageName(selection.gameLanguage, LanguageEntries[selection.entry]),
                  "the game language is not its entry's");
    fuzz::Require(selection.uiLanguage == UiLanguageOfEntry(selection.entry), "the interface language is not its entry's");
    const size_t half = size / 2;
    (void)SameLanguageName(name.substr(0, half), name.substr(half));
    return 0;
}
