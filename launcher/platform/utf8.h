// UTF-8 <-> UTF-16 conversions (portable, so they are tested natively) and byte-level text helpers.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orv {

// Invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(const std::string& text);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);
// The UTF-16 units of UTF-8 text, counted without converting it (a hostile line may be huge): one
// per lead byte, two for a character beyond the basic plane.
size_t Utf16Length(std::string_view utf8);

// The text with its letters in one case the way Windows compares names without regard to case
// (CompareStringOrdinal with bIgnoreCase, which upper-cases by the system's table), for the scripts
// of the code pages a game's names come in: Latin (Latin-1 and Latin Extended-A, with ƒ), Greek
// and Cyrillic. Two names that a folder holds as one fold to the same text.
std::u16string FoldLetterCase(const std::string& utf8);
// One UTF-16 unit of the above.
char16_t FoldLetterCase(char16_t c);

}  // namespace orv
