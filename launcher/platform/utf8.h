// UTF-8 <-> UTF-16 conversions (portable, so they are tested natively) and byte-level text helpers.
#pragma once

#include <string>

namespace orv {

// Invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(const std::string& text);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);

}  // namespace orv
