// The update description "version.txt" of a launcher release, as the server sends it, and the
// hexadecimal text of its signature.
#include "fuzz_support.h"
#include "launcher/selfupdate/hex.h"
#include "launcher/net/server_paths.h"
#include "launcher/selfupdate/update_description.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes = fuzz::AsText(data, size);
    const auto description = ReadUpdateDescription(bytes, CodePage::Windows1251);
    if (description) {
        (void)IsWebAddress(description->DownloadURL);
        (void)FileCrc32Matches(0x12345678u, description->FileCRC32);
    }
    (void)IsWebAddress(bytes);
    (void)FileCrc32Matches(305419896u, std::string(bytes));
    // The signature's hexadecimal text: what decodes is the same digits in lower case.
    if (const auto decoded = DecodeHex(bytes, size / 2)) {
        std::string lower(bytes);
        for (char& c : lower)
            if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
        fuzz::Require(EncodeHex(*decoded) == lower, "hexadecimal text that does not encode back");
    }
    return 0;
}
