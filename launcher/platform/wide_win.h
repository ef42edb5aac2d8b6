// UTF-8 <-> the UTF-16 wide strings of the W APIs, through the portable conversions of utf8.h.
#pragma once

#include <string>

#include "launcher/platform/utf8.h"

namespace orv {

inline std::wstring Wide(const std::string& utf8) {
    const std::u16string s = Utf8ToUtf16(utf8);
    return std::wstring(s.begin(), s.end());
}
inline std::string Narrow(const std::wstring& wide) {
    return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

}  // namespace orv
