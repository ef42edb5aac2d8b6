#include "launcher/selfupdate/update_signature_win.h"

#include "launcher/platform/ecdsa_p256.h"
#include "launcher/platform/sha256.h"
#include "launcher/selfupdate/hex.h"
#include "launcher/selfupdate/update_description.h"

namespace orv {

bool UpdateSignatureValid(const std::string& filePath, const std::string& signatureHex, std::string_view publicKeyHex) {
    try {
        const auto signature = DecodeHex(signatureHex, kUpdateSignatureBytes);
        const auto key = DecodeHex(publicKeyHex, kUpdatePublicKeyBytes);
        if (!signature || !key) return false;
        // The executable may be tens of megabytes: it is hashed block by block, never held whole.
        const FileDigest digest = Sha256OfFile(filePath);
        EcdsaSignature sig{};
        EcdsaPublicKey publicKey{};
        std::copy(signature->begin(), signature->end(), sig.begin());
        std::copy(key->begin(), key->end(), publicKey.begin());
        return EcdsaP256Valid(digest.sha256, sig, publicKey);
    } catch (...) {
        // An unreadable file (EOSError) or no memory: not a valid signature.
        return false;
    }
}

}  // namespace orv
