// The code page tables against the C library's own converters: every byte of the upper half of
// each page decodes to what iconv says, and is undefined exactly where iconv refuses it.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "launcher/base/codepage.h"

namespace orv {
namespace {

// The UTF-8 of one byte in `page` as iconv converts it; empty when iconv has no character for it.
std::string IconvUtf8(const char* page, unsigned char byte) {
    const iconv_t cd = ::iconv_open("UTF-8", page);
    if (cd == reinterpret_cast<iconv_t>(-1)) return "iconv cannot open the page";
    char in[1] = {static_cast<char>(byte)};
    char out[8] = {};
    char* inPtr = in;
    char* outPtr = out;
    size_t inLeft = 1, outLeft = sizeof out;
    const size_t n = ::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    ::iconv_close(cd);
    if (n == static_cast<size_t>(-1)) return {};
    return std::string(out, outPtr);
}

TEST(CodePage, EveryUpperByteDecodesAsTheCLibraryDecodesIt) {
    const struct {
        CodePage page;
        const char* iconvName;
    } pages[] = {{CodePage::Windows1251, "CP1251"}, {CodePage::Windows1252, "CP1252"}, {CodePage::Dos866, "CP866"}};
    for (const auto& p : pages) {
        for (int b = 0x80; b <= 0xFF; ++b) {
            SCOPED_TRACE(std::string(p.iconvName) + " byte " + std::to_string(b));
            const std::string expected = IconvUtf8(p.iconvName, static_cast<unsigned char>(b));
            const CodePageText ours = AnsiToUtf8(std::string(1, static_cast<char>(b)), p.page);
            if (expected.empty()) {
                EXPECT_FALSE(ours.lossless);
            } else {
                EXPECT_TRUE(ours.lossless);
                EXPECT_EQ(ours.text, expected);
            }
        }
    }
}

}  // namespace
}  // namespace orv
