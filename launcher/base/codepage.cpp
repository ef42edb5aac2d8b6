#include "launcher/base/codepage.h"

#include <array>
#include <cstdint>

#include "launcher/platform/utf8.h"

namespace orv {
namespace {

using HighHalf = std::array<char16_t, 128>;  // bytes 0x80..0xFF; 0 = undefined in the page

// A page's upper half as code-chart rows of 16: the irregular rows listed, the alphabet rows that
// run on in Unicode order given by their first character, so a slip in one cell cannot hide in a
// run of 64 hand-typed numbers.
struct Row {
    char16_t cells[16];
};
constexpr Row Run(char16_t first) {
    Row row{};
    for (int i = 0; i < 16; ++i) row.cells[i] = static_cast<char16_t>(first + i);
    return row;
}
constexpr HighHalf Page(const Row (&rows)[8]) {
    HighHalf half{};
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 16; ++c) half[r * 16 + c] = rows[r].cells[c];
    return half;
}

constexpr HighHalf kWindows1251 = Page({
    {0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F},  // 80
    {0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F},  // 90
    {0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407},  // A0
    {0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457},  // B0
    Run(0x0410), Run(0x0420), Run(0x0430), Run(0x0440),  // C0..FF: А..я
});

constexpr HighHalf kWindows1252 = Page({
    {0x20AC, 0x0000, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x0000, 0x017D, 0x0000},  // 80
    {0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x0000, 0x017E, 0x0178},  // 90
    Run(0x00A0), Run(0x00B0), Run(0x00C0), Run(0x00D0), Run(0x00E0), Run(0x00F0),  // A0..FF: Latin-1
});

constexpr HighHalf kDos866 = Page({
    Run(0x0410), Run(0x0420), Run(0x0430),  // 80..AF: А..п
    {0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510},  // B0
    {0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567},  // C0
    {0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580},  // D0
    Run(0x0440),  // E0..EF: р..я
    {0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0},  // F0
});

const HighHalf& TableOf(CodePage page) {
    switch (page) {
        case CodePage::Windows1252: return kWindows1252;
        case CodePage::Dos866: return kDos866;
        case CodePage::Windows1251: break;
    }
    return kWindows1251;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Length of the well-formed UTF-8 sequence at `i` and its code point; length 0 when malformed
// (overlong forms, surrogates and values above U+10FFFF included).
size_t DecodeUtf8(std::string_view s, size_t i, uint32_t& cp) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    if (c < 0xC2 || c > 0xF4) return 0;
    const size_t len = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (i + len > s.size()) return 0;
    uint32_t value = c & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) {
        const auto t = static_cast<unsigned char>(s[i + k]);
        if ((t & 0xC0) != 0x80) return 0;
        value = (value << 6) | (t & 0x3F);
    }
    if ((len == 3 && value < 0x800) || (len == 4 && value < 0x10000) || value > 0x10FFFF ||
        (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    cp = value;
    return len;
}

void MarkFailure(CodePageText& result, size_t offset) {
    if (result.lossless) result.firstFailure = offset;
    result.lossless = false;
}

std::u16string Utf16FromBytes(std::string_view bytes, bool bigEndian) {
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        text += static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
    }
    return text;
}

}  // namespace

std::optional<CodePage> CodePageFromNumber(int number) {
    switch (number) {
        case 1251: return CodePage::Windows1251;
        case 1252: return CodePage::Windows1252;
        case 866: return CodePage::Dos866;
        default: return std::nullopt;
    }
}

int CodePageNumber(CodePage page) { return static_cast<int>(page); }

AnsiTextDecoder::AnsiTextDecoder(CodePage page)
    : decode_([page](std::string_view bytes) { return AnsiToUtf8(bytes, page); }) {}

AnsiTextDecoder::AnsiTextDecoder(std::function<CodePageText(std::string_view)> decode) : decode_(std::move(decode)) {}

CodePageText AnsiToUtf8(std::string_view bytes, CodePage page) {
    const HighHalf& table = TableOf(page);
    CodePageText result;
    result.text.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            result.text += static_cast<char>(b);
            continue;
        }
        const char16_t cp = table[b - 0x80];
        if (cp == 0) {
            MarkFailure(result, i);
            AppendUtf8(result.text, 0xFFFD);
        } else {
            AppendUtf8(result.text, cp);
        }
    }
    return result;
}

CodePageText Utf8ToAnsi(std::string_view text, CodePage page) {
    const HighHalf& table = TableOf(page);
    CodePageText result;
    result.text.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        uint32_t cp = 0;
        const size_t len = DecodeUtf8(text, i, cp);
        if (len == 0) {
            MarkFailure(result, i);
            result.text += '?';
            ++i;
            continue;
        }
        if (cp < 0x80) {
            result.text += static_cast<char>(cp);
        } else {
            // 128 entries: a scan is cheaper than keeping a reverse map for names and keys.
            size_t index = table.size();
            for (size_t k = 0; k < table.size(); ++k) {
                if (table[k] != 0 && table[k] == cp) {
                    index = k;
                    break;
                }
            }
            if (index == table.size()) {
                MarkFailure(result, i);
                result.text += '?';
            } else {
                result.text += static_cast<char>(0x80 + index);
            }
        }
        i += len;
    }
    return result;
}

AnsiCodec CodePageCodec(CodePage page) {
    return {
        [page](std::string_view bytes) { return AnsiToUtf8(bytes, page).text; },
        [page](std::string_view text) { return Utf8ToAnsi(text, page).text; },
    };
}

std::string Utf8CharacterAt(std::string_view text, size_t offset) {
    if (offset >= text.size()) return {};
    uint32_t cp = 0;
    const size_t len = DecodeUtf8(text, offset, cp);
    return std::string(text.substr(offset, len == 0 ? 1 : len));
}

std::string TextOfDocument(std::string_view bytes, CodePage ansiPage) {
    return TextOfDocument(bytes, [ansiPage](std::string_view ansi) { return AnsiToUtf8(ansi, ansiPage).text; });
}

std::string TextOfDocument(std::string_view bytes, const AnsiDecoder& ansiToUtf8) {
    if (bytes.starts_with("\xEF\xBB\xBF")) return std::string(bytes.substr(3));
    if (bytes.starts_with("\xFF\xFE")) return Utf16ToUtf8(Utf16FromBytes(bytes.substr(2), false));
    if (bytes.starts_with("\xFE\xFF")) return Utf16ToUtf8(Utf16FromBytes(bytes.substr(2), true));
    return ansiToUtf8(bytes);
}

}  // namespace orv
