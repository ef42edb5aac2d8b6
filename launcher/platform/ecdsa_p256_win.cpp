#include <windows.h>

#include <bcrypt.h>

#include <cstring>
#include <vector>

#include "launcher/platform/ecdsa_p256.h"
#include "launcher/platform/scoped_win.h"

namespace orv {

bool EcdsaP256Valid(const Sha256Digest& digest, const EcdsaSignature& signature, const EcdsaPublicKey& key) {
    BcryptAlgorithm ecdsa;
    if (::BCryptOpenAlgorithmProvider(ecdsa.Put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) < 0) return false;
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::vector<UCHAR> blob(sizeof header + key.size());
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, key.data(), key.size());
    BcryptKey publicKey;
    if (::BCryptImportKeyPair(ecdsa.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, publicKey.Put(), blob.data(),
                              static_cast<ULONG>(blob.size()), 0) < 0)
        return false;
    // CNG takes both buffers as non-const.
    Sha256Digest hash = digest;
    EcdsaSignature sig = signature;
    // Only STATUS_SUCCESS is a valid signature; STATUS_INVALID_SIGNATURE and every other status are not.
    return ::BCryptVerifySignature(publicKey.Get(), nullptr, hash.data(), static_cast<ULONG>(hash.size()), sig.data(),
                                   static_cast<ULONG>(sig.size()), 0) == 0;
}

}  // namespace orv
