// The about box's text: fixed lines around the game's short title and the support e-mail address,
// laid out with the blanks and tabs that centre them in the box's proportional font.
#pragma once

#include <string>

namespace orv {

// The text for an interface language (Russian for 0, English otherwise): lines joined with CR LF,
// no line break after the last.
std::string AboutText(int uiLanguage);

}  // namespace orv
