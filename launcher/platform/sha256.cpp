#include "launcher/platform/sha256.h"

#include <vector>

#include "launcher/base/errors.h"
#include "launcher/platform/files.h"

namespace orv {

Sha256Digest Sha256Of(std::string_view bytes) {
    Sha256 hash;
    hash.Update(bytes.data(), bytes.size());
    return hash.Finish();
}

FileDigest Sha256OfFile(const std::string& path) {
    File file = File::OpenRead(path);
    Sha256 hash;
    std::vector<char> block(256 * 1024);
    FileDigest digest;
    while (const size_t got = file.ReadOrRaise(block.data(), block.size())) {
        hash.Update(block.data(), got);
        digest.size += got;
    }
    digest.sha256 = hash.Finish();
    return digest;
}

}  // namespace orv
