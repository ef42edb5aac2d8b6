// The 8-bit ANSI code pages of the server's texts (catalogue, checklist, keep list without a
// byte-order mark), converted to and from the launcher's UTF-8 without the platform, so that the
// publisher and the portable tests see the same bytes as a Windows machine set to that code page.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace orv {

enum class CodePage : int {
    Windows1251 = 1251,  // Cyrillic: the code page of the Russian-speaking players' machines
    Windows1252 = 1252,  // Western European
    Dos866 = 866,        // Cyrillic OEM, as some old server tools wrote
};

// The code page of a Windows code-page number, or nothing for one this module does not hold.
std::optional<CodePage> CodePageFromNumber(int number);
int CodePageNumber(CodePage page);

// A converted text. A conversion never stops early: what cannot be converted is replaced (U+FFFD
// when decoding, "?" when encoding, as the platform does) and `lossless` says so, with the offset in
// the input of the first such piece.
struct CodePageText {
    std::string text;
    bool lossless = true;
    size_t firstFailure = 0;  // byte offset in the input; meaningful when !lossless
};

// 8-bit bytes to UTF-8. Bytes 0x00..0x7F are ASCII in every page; a byte the page leaves undefined
// (0x98 in 1251; 0x81, 0x8D, 0x8F, 0x90, 0x9D in 1252) is not lossless.
CodePageText AnsiToUtf8(std::string_view bytes, CodePage page);
// How a reader turns 8-bit text into UTF-8: one of the tables above (a page converts to one
// implicitly), or a decoder of the running system's code page where that page has no table here.
class AnsiTextDecoder {
public:
    AnsiTextDecoder(CodePage page);  // NOLINT(google-explicit-constructor): a page is a decoder
    explicit AnsiTextDecoder(std::function<CodePageText(std::string_view)> decode);
    CodePageText operator()(std::string_view bytes) const { return decode_(bytes); }

private:
    std::function<CodePageText(std::string_view)> decode_;
};

// UTF-8 to 8-bit bytes. A character the page has no byte for, and a malformed UTF-8 sequence, are
// not lossless.
CodePageText Utf8ToAnsi(std::string_view text, CodePage page);

// Conversions between a text's 8-bit bytes (the catalogue's) and the launcher's UTF-8.
struct AnsiCodec {
    std::function<std::string(std::string_view)> toUtf8;
    std::function<std::string(std::string_view)> fromUtf8;
};

// A fixed code page; what does not convert becomes U+FFFD or "?", as the platform does.
AnsiCodec CodePageCodec(CodePage page);

// The text of a server document as UTF-8: a byte-order mark decides its encoding (UTF-8, UTF-16
// LE or BE), and without one the bytes are in `ansiPage`.
std::string TextOfDocument(std::string_view bytes, CodePage ansiPage);
// The same with the bytes without a mark decoded by `ansiToUtf8` (the running system's code page,
// which need not be one of the pages above).
using AnsiDecoder = std::function<std::string(std::string_view)>;
std::string TextOfDocument(std::string_view bytes, const AnsiDecoder& ansiToUtf8);

// The UTF-8 character that starts at `offset` of `text` (one byte when it is malformed): names the
// piece that did not convert in error messages.
std::string Utf8CharacterAt(std::string_view text, size_t offset);

}  // namespace orv
