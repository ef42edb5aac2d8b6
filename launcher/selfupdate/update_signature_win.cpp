#include "launcher/selfupdate/update_signature_win.h"

#include <cstring>
#include <vector>

#include "launcher/platform/files.h"
#include "launcher/platform/scoped_win.h"
#include "launcher/selfupdate/hex.h"
#include "launcher/selfupdate/update_description.h"

namespace orv {
namespace {

constexpr ULONG kDigestBytes = 32;
constexpr ULONG kCoordinateBytes = 32;
// The executable may be tens of megabytes: it is hashed block by block, never held whole.
constexpr size_t kBlockBytes = 256 * 1024;

bool Ok(NTSTATUS status) { return status >= 0; }

// SHA-256 of the file's bytes; false when the file cannot be opened or read to its end.
bool FileSha256(const std::string& path, UCHAR (&digest)[kDigestBytes]) {
    BcryptAlgorithm sha;
    if (!Ok(::BCryptOpenAlgorithmProvider(sha.Put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return false;
    BcryptHash hash;
    if (!Ok(::BCryptCreateHash(sha.Get(), hash.Put(), nullptr, 0, nullptr, 0, 0))) return false;
    File file = File::OpenRead(path);
    const uint64_t size = file.Size();
    std::vector<UCHAR> block(kBlockBytes);
    uint64_t hashed = 0;
    for (;;) {
        const size_t got = file.Read(block.data(), block.size());
        if (got == 0) break;
        if (!Ok(::BCryptHashData(hash.Get(), block.data(), static_cast<ULONG>(got), 0))) return false;
        hashed += got;
    }
    // Read gives 0 on an error as at the end: a short count is a read that failed.
    if (hashed != size) return false;
    return Ok(::BCryptFinishHash(hash.Get(), digest, kDigestBytes, 0));
}

}  // namespace

bool UpdateSignatureValid(const std::string& filePath, const std::string& signatureHex, std::string_view publicKeyHex) {
    try {
        auto signature = DecodeHex(signatureHex, kUpdateSignatureBytes);  // CNG takes it as non-const
        const auto key = DecodeHex(publicKeyHex, kUpdatePublicKeyBytes);
        if (!signature || !key) return false;
        UCHAR digest[kDigestBytes];
        if (!FileSha256(filePath, digest)) return false;

        BcryptAlgorithm ecdsa;
        if (!Ok(::BCryptOpenAlgorithmProvider(ecdsa.Put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) return false;
        const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kCoordinateBytes};
        std::vector<UCHAR> blob(sizeof header + key->size());
        std::memcpy(blob.data(), &header, sizeof header);
        std::memcpy(blob.data() + sizeof header, key->data(), key->size());
        BcryptKey publicKey;
        if (!Ok(::BCryptImportKeyPair(ecdsa.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, publicKey.Put(), blob.data(),
                                      static_cast<ULONG>(blob.size()), 0)))
            return false;
        // Only STATUS_SUCCESS is a valid signature; STATUS_INVALID_SIGNATURE and every other status
        // are not.
        return ::BCryptVerifySignature(publicKey.Get(), nullptr, digest, kDigestBytes, signature->data(),
                                       static_cast<ULONG>(signature->size()), 0) == 0;
    } catch (...) {
        // An unreadable file (EOSError) or no memory: not a valid signature.
        return false;
    }
}

}  // namespace orv
