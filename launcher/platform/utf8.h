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

// The text with its capital letters made small the way Windows folders compare names, for the
// scripts a game's file names use (Latin, Latin-1 and Cyrillic), so that two names that a folder
// holds as one compare equal.
std::u16string FoldLetterCase(const std::string& utf8);

}  // namespace orv
