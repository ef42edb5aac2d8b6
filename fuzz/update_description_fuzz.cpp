// The update description "version.txt" of a launcher release, as the server sends it.
#include "fuzz_support.h"
#include "launcher/selfupdate/update_description.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes = fuzz::AsText(data, size);
    const auto description = ReadUpdateDescription(bytes, CodePage::Windows1251);
    if (description) {
        (void)IsWebDownloadAddress(description->DownloadURL);
        (void)FileCrc32Matches(0x12345678u, description->FileCRC32);
    }
    (void)IsWebDownloadAddress(bytes);
    (void)FileCrc32Matches(305419896u, std::string(bytes));
    return 0;
}
