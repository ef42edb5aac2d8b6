// The folder cleaner's keep list as the server sends it. The first byte picks the ANSI code page.
#include "fuzz_support.h"
#include "launcher/base/errors.h"
#include "launcher/integrity/keep_list.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static constexpr CodePage kPages[] = {CodePage::Windows1251, CodePage::Windows1252, CodePage::Dos866};
    try {
        const KeepList list = ReadKeepList(fuzz::AsText(data + 1, size - 1), kPages[data[0] % 3]);
        // What the publisher writes again reads as the same list (when it accepts the names).
        try {
            const KeepList again = ReadKeepList(WriteKeepList(list), CodePage::Windows1252);
            fuzz::Require(again.Files == list.Files && again.Dirs == list.Dirs, "a keep list does not survive a rewrite");
        } catch (const Error&) {
        }
    } catch (const Error&) {
    }
    return 0;
}
