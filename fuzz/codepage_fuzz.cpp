// The 8-bit code pages of the server's texts, both ways, and the documents whose byte-order mark
// picks their encoding.
#include "fuzz_support.h"
#include "launcher/base/codepage.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes = fuzz::AsText(data, size);
    for (const CodePage page : {CodePage::Windows1251, CodePage::Windows1252, CodePage::Dos866}) {
        const CodePageText decoded = AnsiToUtf8(bytes, page);
        if (!decoded.lossless) fuzz::Require(decoded.firstFailure < size, "a decoding failure past the input");
        if (decoded.lossless) {
            const CodePageText encoded = Utf8ToAnsi(decoded.text, page);
            fuzz::Require(encoded.lossless && encoded.text == bytes, "a decoded text does not encode back");
        }
        const CodePageText encoded = Utf8ToAnsi(bytes, page);
        if (!encoded.lossless) {
            fuzz::Require(encoded.firstFailure < size, "an encoding failure past the input");
            fuzz::Require(!Utf8CharacterAt(bytes, encoded.firstFailure).empty(), "no character at a failure");
        }
        (void)TextOfDocument(bytes, page);
    }
    return 0;
}
