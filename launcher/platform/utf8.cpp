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

namespace {

// Blocks where capital and small letters alternate: the capital at an even (or odd) unit.
bool InPairs(char16_t c, char16_t first, char16_t last, bool capitalEven) {
    return c >= first && c <= last && ((c % 2 == 0) != capitalEven);
}

}  // namespace

char16_t FoldLetterCase(char16_t c) {
    const auto minus = [c](int by) { return static_cast<char16_t>(c - by); };
    if (c < 0x80) return c >= u'a' && c <= u'z' ? minus(0x20) : c;
    // Latin-1. ß has no capital; the micro sign upper-cases to Greek Mu, ÿ to Ÿ.
    if (c >= 0x00E0 && c <= 0x00FE && c != 0x00F7) return minus(0x20);
    if (c == 0x00B5) return 0x039C;
    if (c == 0x00FF) return 0x0178;
    // Latin Extended-A. Windows leaves the dotless i (U+0131), the capital I with dot (U+0130) and
    // the long s (U+017F) alone: none of them equals an ASCII letter.
    if (InPairs(c, 0x0100, 0x012F, true) || InPairs(c, 0x0132, 0x0137, true) || InPairs(c, 0x0139, 0x0148, false) ||
        InPairs(c, 0x014A, 0x0177, true) || InPairs(c, 0x0179, 0x017E, false))
        return minus(1);
    if (c == 0x0192) return 0x0191;  // ƒ of 1252
    // Greek, where the micro sign leads: small letters with and without tonos, final sigma as sigma.
    if (c == 0x03C2) return 0x03A3;
    if ((c >= 0x03B1 && c <= 0x03C1) || (c >= 0x03C3 && c <= 0x03CB)) return minus(0x20);
    if (c == 0x03AC) return 0x0386;
    if (c >= 0x03AD && c <= 0x03AF) return minus(0x25);
    if (c == 0x03CC) return 0x038C;
    if (c == 0x03CD || c == 0x03CE) return minus(0x3F);
    // Cyrillic: а..я, ѐ..џ (ё, ђ, ѓ, є, ѕ, і, ї, ј, љ, њ, ћ, ќ, ў, џ), then the paired letters
    // beyond them (ґ of 1251 among them).
    if (c >= 0x0430 && c <= 0x044F) return minus(0x20);
    if (c >= 0x0450 && c <= 0x045F) return minus(0x50);
    if (InPairs(c, 0x0460, 0x0481, true) || InPairs(c, 0x048A, 0x04BF, true) || InPairs(c, 0x04C1, 0x04CE, false) ||
        InPairs(c, 0x04D0, 0x04FF, true))
        return minus(1);
    return c;
}

std::u16string FoldLetterCase(const std::string& utf8) {
    std::u16string text = Utf8ToUtf16(utf8);
    for (char16_t& c : text) c = FoldLetterCase(c);
    return text;
}

}  // namespace orv
