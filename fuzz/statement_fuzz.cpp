// A signed statement and a hash list as a hostile server sends them: the first byte picks which.
#include "fuzz_support.h"
#include "launcher/base/errors.h"
#include "launcher/integrity/hash_list.h"
#include "launcher/integrity/statement.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string text(fuzz::AsText(data + 1, size - 1));
    if (data[0] % 2 == 0) {
        if (const auto s = ParseStatement(text)) {
            // What was read writes back as the signed body it came with.
            const std::string body = StatementBody(*s);
            fuzz::Require(text.compare(0, body.size(), body) == 0 && Sha256Of(body) == s->bodySha256,
                          "a statement does not survive a rewrite");
        }
        return 0;
    }
    const std::string path = fuzz::PutScratchFile("list.dim.sha256", text);
    try {
        HashListReader reader = HashListReader::Open(path);
        std::string again;
        while (const auto entry = reader.Next()) again += HashListLine(*entry);
        if (!reader.Failed()) fuzz::Require(again == text, "a hash list does not survive a rewrite");
    } catch (const Error&) {
    }
    return 0;
}
