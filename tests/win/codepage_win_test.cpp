// The platform's code-page conversions and letter case, against which the portable rules are held.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "launcher/base/errors.h"
#include "launcher/platform/system_codepage_win.h"
#include "launcher/platform/utf8.h"

namespace orv {
namespace {

TEST(SystemCodePage, PagesBeyondThePortableTablesDecodeThroughThePlatform) {
    const struct {
        unsigned page;
        const char* bytes;
        const char* text;
    } cases[] = {
        {1250, "\xA5\xB9\x8A\xA3\xB3 hl2.exe", "ĄąŠŁł hl2.exe"},
        {1253, "\xC1\xE1\xD3\xF2", "ΑαΣς"},
        {1251, "\xC8\xE3\xF0\xE0", "Игра"},
        {866, "\x88\xA3\xE0\xA0", "Игра"},
    };
    for (const auto& c : cases) EXPECT_EQ(AnsiToUtf8InCodePage(c.bytes, c.page), c.text) << c.page;
    EXPECT_EQ(AnsiToUtf8InCodePage("", 1250), "");
    EXPECT_THROW(AnsiToUtf8InCodePage("x", 12345), EOSError) << "a code page the system does not have";
}

std::string Hex(wchar_t c) {
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
    return text;
}

// The portable rule against CompareStringOrdinal without regard to case: every character of the
// upper halves of 1251, 1252 and 866, the ASCII letters and the platform's upper and lower case
// of each (which may lie outside the pages: Ƒ, Μ), compared pair by pair.
TEST(LetterCase, ThePortableRuleAgreesWithThePlatformOnEveryUpperByteOfTheCodePages) {
    std::set<wchar_t> page;  // 1251 and 866 share their Cyrillic letters
    int decoded = 0;
    for (const unsigned number : {1251u, 1252u, 866u}) {
        for (int byte = 0x80; byte <= 0xFF; ++byte) {
            const char in = static_cast<char>(byte);
            wchar_t out[4] = {};
            if (::MultiByteToWideChar(number, MB_ERR_INVALID_CHARS, &in, 1, out, 4) == 1) {
                page.insert(out[0]);
                ++decoded;
            }
        }
    }
    EXPECT_GE(decoded, 384 - 6) << "only the bytes a page leaves undefined may be missing";
    std::set<wchar_t> all = page;
    for (wchar_t c = L'A'; c <= L'Z'; ++c) all.insert({c, static_cast<wchar_t>(c + 0x20)});
    for (const wchar_t c : page) {
        for (const DWORD map : {static_cast<DWORD>(LCMAP_UPPERCASE), static_cast<DWORD>(LCMAP_LOWERCASE)}) {
            wchar_t out[4] = {};
            if (::LCMapStringEx(LOCALE_NAME_INVARIANT, map, &c, 1, out, 4, nullptr, nullptr, 0) == 1) all.insert(out[0]);
        }
    }
    int differences = 0;
    for (const wchar_t a : all) {
        for (const wchar_t b : all) {
            const int compared = ::CompareStringOrdinal(&a, 1, &b, 1, TRUE);
            ASSERT_NE(compared, 0) << "CompareStringOrdinal failed: " << ::GetLastError();
            const bool platform = compared == CSTR_EQUAL;
            const bool portable = FoldLetterCase(static_cast<char16_t>(a)) == FoldLetterCase(static_cast<char16_t>(b));
            if (platform != portable && ++differences <= 20)
                ADD_FAILURE() << Hex(a) << " and " << Hex(b) << ": the platform says " << (platform ? "same" : "different");
        }
    }
    EXPECT_EQ(differences, 0);
}

}  // namespace
}  // namespace orv
