// The about box's text byte for byte in both languages.
#include <gtest/gtest.h>

#include <string>

#include "game_profile.h"
#include "launcher/about_text.h"
#include "launcher/base/app_state.h"

namespace orv {
namespace {

std::string Blanks(size_t n) { return std::string(n, ' '); }

TEST(AboutText, RussianIsEightLinesWithTheirBlanks) {
    const std::string expected = "\r\n" + Blanks(15) + GameShortTitle + " Orvanta версия 1.2" + Blanks(3) + "\r\n" +
                                 Blanks(34) + "\r\n" + "\r\n" + Blanks(15) + "Все вопросы, отзывы, замечания" +
                                 Blanks(7) + "\r\n" + Blanks(15) + "можно написать на e-mail:" + Blanks(10) +
                                 "\r\n" + Blanks(15) + SupportEmail + Blanks(9) + "\r\n" + Blanks(25);
    EXPECT_EQ(AboutText(UiRussian), expected);
}

TEST(AboutText, EnglishIsNineLinesWithTabsAndBlanksForEveryOtherLanguage) {
    const std::string expected = Blanks(38) + GameShortTitle + " Orvanta v1.2" + Blanks(9) + "\r\n" +
                                 "\t\t\t\t\t" + Blanks(41) + "\r\n" + "\r\n" + "\r\n" + Blanks(60) + "\r\n" +
                                 Blanks(29) + "It is possible to write all questions," + Blanks(4) + "\r\n" +
                                 Blanks(32) + "responses, remarks on e-mail:" + Blanks(9) + "\r\n" + Blanks(40) +
                                 SupportEmail + Blanks(11) + "\r\n" + Blanks(24);
    for (const int language : {UiEnglish, 2, -1}) EXPECT_EQ(AboutText(language), expected) << language;
    EXPECT_EQ(std::string(GameShortTitle), "CS:S");
    EXPECT_NE(std::string(SupportEmail).find('@'), std::string::npos);
}

}  // namespace
}  // namespace orv
