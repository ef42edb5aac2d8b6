// The game language menu's rules: the entries, how a name resolves to the game language and the
// entry to check, and which interface language follows.
#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

#include "launcher/base/app_state.h"
#include "launcher/language_menu.h"

namespace orv {
namespace {

int EntryIndex(const std::string& name) {
    for (int i = 0; i < LanguageEntryCount; ++i)
        if (name == LanguageEntries[i]) return i;
    return -1;
}

TEST(LanguageMenu, EntriesAreTheTwentySevenNamesInMenuOrderWithJapaneseStartingTheSecondColumn) {
    EXPECT_STREQ(LanguageEntries.front(), "Brazilian");
    EXPECT_STREQ(LanguageEntries[2], "sChinese");
    EXPECT_STREQ(LanguageEntries[3], "tChinese");
    EXPECT_STREQ(LanguageEntries[13], "Italian");
    EXPECT_STREQ(LanguageEntries[LanguageSecondColumn], "Japanese");
    EXPECT_STREQ(LanguageEntries[16], "Koreana");
    EXPECT_STREQ(LanguageEntries.back(), "Ukrainian");
    // Distinct even when letter case is ignored: at most one entry can match a name.
    std::set<std::string> folded;
    for (const char* entry : LanguageEntries) {
        std::string lower = entry;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        folded.insert(lower);
    }
    EXPECT_EQ(folded.size(), static_cast<size_t>(LanguageEntryCount));
    // Only "Russian" gives the Russian interface.
    for (int i = 0; i < LanguageEntryCount; ++i)
        EXPECT_EQ(UiLanguageOfEntry(i), i == EntryIndex("Russian") ? UiRussian : UiEnglish) << LanguageEntries[i];
}

TEST(LanguageMenu, ANameOfAnEntryInAnyCaseIsKeptAsPassedAndChecksThatEntry) {
    const LanguageSelection english = SelectLanguage("english");
    EXPECT_EQ(english.gameLanguage, "english");  // not re-cased
    EXPECT_EQ(english.entry, EntryIndex("English"));
    EXPECT_EQ(english.uiLanguage, UiEnglish);

    const LanguageSelection russian = SelectLanguage("rUSSIAN");
    EXPECT_EQ(russian.gameLanguage, "rUSSIAN");
    EXPECT_EQ(russian.entry, EntryIndex("Russian"));
    EXPECT_EQ(russian.uiLanguage, UiRussian);

    // A prefix of another entry's name is its own entry.
    EXPECT_EQ(SelectLanguage("KOREAN").entry, EntryIndex("Korean"));
    EXPECT_EQ(SelectLanguage("koreana").entry, EntryIndex("Koreana"));
    EXPECT_EQ(SelectLanguage("SCHINESE").entry, EntryIndex("sChinese"));

    for (const char* name : {"Ukrainian", "Bulgarian"}) {
        const LanguageSelection s = SelectLanguage(name);
        EXPECT_EQ(s.gameLanguage, name);
        EXPECT_EQ(s.entry, EntryIndex(name));
        EXPECT_EQ(s.uiLanguage, UiEnglish) << name;
    }
}

TEST(LanguageMenu, ANameOfNoEntryBecomesRussianWithTheRussianInterface) {
    const char* const strangers[] = {
        "",
        "Klingon",
        " English",  // no trimming
        "English ",
        "Englis",
        "Russian\n",
        "\xE2\x84\xAAorean",  // KELVIN SIGN, which some case mappings fold to k
        "\xC4\xB0talian",     // LATIN CAPITAL I WITH DOT ABOVE
    };
    for (const char* name : strangers) {
        const LanguageSelection s = SelectLanguage(name);
        EXPECT_EQ(s.gameLanguage, "Russian") << "[" << name << "]";
        EXPECT_EQ(s.entry, EntryIndex("Russian")) << "[" << name << "]";
        EXPECT_EQ(s.uiLanguage, UiRussian) << "[" << name << "]";
    }
    // A name with a NUL inside is not the name before it.
    EXPECT_EQ(SelectLanguage(std::string("English\0x", 9)).gameLanguage, "Russian");
}

TEST(LanguageMenu, NamesCompareWithOnlyAsciiLettersFolded) {
    EXPECT_TRUE(SameLanguageName("ThAi", "thai"));
    EXPECT_TRUE(SameLanguageName("", ""));
    EXPECT_FALSE(SameLanguageName("Thai", "Tha"));
    EXPECT_FALSE(SameLanguageName("[", "{"));  // 0x5B and 0x7B differ by the case bit
    EXPECT_FALSE(SameLanguageName("\xD0\xA0", "\xD1\x80"));  // Cyrillic Р and р stay apart
}

}  // namespace
}  // namespace orv
