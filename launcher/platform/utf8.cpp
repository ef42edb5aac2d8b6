#include "launcher/platform/utf8.h"

#include <cstdint>

namespace orv {

size_t Utf16Length(std::string_view utf8) {
    size_t units = 0;
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c & 0xC0) != 0x80) ++units;
        if (c >= 0xF0) ++units;
    }
    return units;
}

std::u16string Utf8ToUtf16(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        uint32_t cp = 0xFFFD;
        size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if (c >= 0xC2 && c <= 0xF4) {
            len = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            uint32_t value = c & (0x7F >> len);
            bool ok = i + len <= n;
            for (size_t k = 1; ok && k < len; ++k) {
                if ((s[i + k] & 0xC0) != 0x80) ok = false;
                else value = (value << 6) | (s[i + k] & 0x3F);
            }
            const bool overlong = (len == 3 && value < 0x800) || (len == 4 && value < 0x10000);
            if (ok && !overlong && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF)) cp = value;
            else len = 1;
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string Utf16ToUtf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::u16string FoldLetterCase(const std::string& utf8) {
    std::u16string text = Utf8ToUtf16(utf8);
    for (char16_t& c : text) {
        if ((c >= u'A' && c <= u'Z') || (c >= 0x00C0 && c <= 0x00DE && c != 0x00D7) || (c >= 0x0410 && c <= 0x042F))
            c = static_cast<char16_t>(c + 0x20);
        else if (c >= 0x0400 && c <= 0x040F)
            c = static_cast<char16_t>(c + 0x50);
    }
    return text;
}

}  // namespace orv
