#include "launcher/about_text.h"

#include "game_profile.h"
#include "launcher/base/app_state.h"
#include "launcher/base/texts.h"

namespace orv {
namespace {

// One line: leading blanks (after `tabs` tab characters), the line's content, trailing blanks.
struct AboutLine {
    int tabs;
    int before;
    enum class Content { None, Title, Questions, WriteTo, Email } content;
    int after;
};
using C = AboutLine::Content;

constexpr AboutLine kRussian[] = {
    {0, 0, C::None, 0},        {0, 15, C::Title, 3},    {0, 34, C::None, 0},     {0, 0, C::None, 0},
    {0, 15, C::Questions, 7}, {0, 15, C::WriteTo, 10}, {0, 15, C::Email, 9},    {0, 25, C::None, 0},
};

constexpr AboutLine kEnglish[] = {
    {0, 38, C::Title, 9},      {5, 41, C::None, 0},      {0, 0, C::None, 0},   {0, 0, C::None, 0},
    {0, 60, C::None, 0},       {0, 29, C::Questions, 4}, {0, 32, C::WriteTo, 9}, {0, 40, C::Email, 11},
    {0, 24, C::None, 0},
};

std::string ContentOf(C content, int language) {
    switch (content) {
        case C::None: return {};
        case C::Title: return std::string(GameShortTitle) + " " + TextIn(TextId::AboutVersion, language);
        case C::Questions: return TextIn(TextId::AboutQuestions, language);
        case C::WriteTo: return TextIn(TextId::AboutWriteTo, language);
        case C::Email: return SupportEmail;
    }
    return {};
}

template <size_t N>
std::string Compose(const AboutLine (&lines)[N], int language) {
    std::string text;
    for (size_t i = 0; i < N; ++i) {
        if (i > 0) text += "\r\n";
        const AboutLine& line = lines[i];
        text.append(static_cast<size_t>(line.tabs), '\t');
        text.append(static_cast<size_t>(line.before), ' ');
        text += ContentOf(line.content, language);
        text.append(static_cast<size_t>(line.after), ' ');
    }
    return text;
}

}  // namespace

std::string AboutText(int uiLanguage) {
    return uiLanguage == UiRussian ? Compose(kRussian, UiRussian) : Compose(kEnglish, UiEnglish);
}

}  // namespace orv
