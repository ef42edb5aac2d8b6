#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "launcher/base/codepage.h"
#include "launcher/integrity/folder_cleaner.h"
#include "launcher/platform/utf8.h"

namespace orv {
namespace {

// Every letter pair (capital, small) among the upper 128 bytes of each code page the launcher reads,
// as Windows compares names without regard to case.
TEST(LetterCase, EveryLetterPairOfTheCodePagesFoldsTogetherAndNothingElseDoes) {
    const struct {
        CodePage page;
        const char* pairs;  // capital and small letter, pair after pair
    } pages[] = {
        {CodePage::Windows1252,
         "ŠšŒœŽžŸÿ"
         "ÀàÁáÂâÃãÄäÅåÆæÇçÈèÉéÊêËëÌìÍíÎîÏïÐðÑñÒòÓóÔôÕõÖöØøÙùÚúÛûÜüÝýÞþ"},
        {CodePage::Windows1251,
         "ЂђЃѓЉљЊњЌќЋћЏџЎўЈјҐґЁёЄєІіЇїЅѕ"
         "АаБбВвГгДдЕеЖжЗзИиЙйКкЛлМмНнОоПпРрСсТтУуФфХхЦцЧчШшЩщЪъЫыЬьЭэЮюЯя"},
        {CodePage::Dos866,
         "ЁёЄєЇїЎў"
         "АаБбВвГгДдЕеЖжЗзИиЙйКкЛлМмНнОоПпРрСсТтУуФфХхЦцЧчШшЩщЪъЫыЬьЭэЮюЯя"},
    };
    for (const auto& p : pages) {
        const std::u16string pairs = Utf8ToUtf16(p.pairs);
        std::set<std::pair<char16_t, char16_t>> expected;
        for (size_t i = 0; i + 1 < pairs.size(); i += 2) expected.insert({pairs[i], pairs[i + 1]});

        std::vector<char16_t> letters;  // the page's upper half, undefined bytes left out
        for (int byte = 0x80; byte <= 0xFF; ++byte) {
            const CodePageText decoded = AnsiToUtf8(std::string(1, static_cast<char>(byte)), p.page);
            if (decoded.lossless) letters.push_back(Utf8ToUtf16(decoded.text).at(0));
        }
        std::set<std::pair<char16_t, char16_t>> folded;
        for (const char16_t a : letters) {
            for (const char16_t b : letters) {
                if (a == b || FoldLetterCase(a) != FoldLetterCase(b)) continue;
                const bool aCapital = expected.count({a, b}) > 0;
                folded.insert(aCapital ? std::make_pair(a, b) : std::make_pair(b, a));
            }
        }
        EXPECT_EQ(folded, expected) << "code page " << CodePageNumber(p.page);
        for (const char16_t c : letters)
            EXPECT_EQ(FoldLetterCase(FoldLetterCase(c)), FoldLetterCase(c)) << "code page " << CodePageNumber(p.page);
    }
}

TEST(LetterCase, PartnersOutsideTheCodePagesAndLettersWindowsLeavesAlone) {
    const struct {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {"µ", "Μ", true},   {"µ", "μ", true},   {"ƒ", "Ƒ", true},  {"Ł", "ł", true},   {"Ą", "ą", true},
        {"Ő", "ő", true},   {"Ĳ", "ĳ", true},   {"Ź", "ź", true},  {"Ά", "ά", true},   {"Ώ", "ώ", true},
        {"Ѣ", "ѣ", true},   {"Ӂ", "ӂ", true},   {"Ӑ", "ӑ", true},  {"Ҙ", "ҙ", true},
        {"ß", "ss", false}, {"ſ", "s", false},  {"ı", "i", false}, {"İ", "i", false},  {"\xE2\x84\xAA", "k", false},
        {"Ж", "ж", true},   {"×", "÷", false},  {"Ŀ", "Ł", false}, {"ĸ", "K", false},  {"Ё", "Е", false},
        {"cstrike\\CFG\\Š.txt", "CSTRIKE\\cfg\\š.TXT", true},
    };
    for (const auto& c : cases) EXPECT_EQ(FoldLetterCase(c.a) == FoldLetterCase(c.b), c.same) << c.a << " " << c.b;
}

TEST(LetterCase, AKeepListNameSparesTheNameInTheOtherCase) {
    const KeepNames names({"š.txt", "cstrike\\ґрати.cfg", "Œuvre", "ÿ"});
    for (const char* kept : {"Š.txt", "š.txt", "CSTRIKE\\ҐРАТИ.CFG", "œUVRE", "Ÿ"}) EXPECT_TRUE(names.Contains(kept)) << kept;
    for (const char* gone : {"s.txt", "cstrike\\грaти.cfg", "Oeuvre", "y"}) EXPECT_FALSE(names.Contains(gone)) << gone;
}

}  // namespace
}  // namespace orv
