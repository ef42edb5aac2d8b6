// Debian has no OpenSSL for mingw, so this build of the tool cannot sign.
#include "launcher/base/errors.h"
#include "tools/release_signing.h"

namespace orv::publish {
namespace {

[[noreturn]] void NoSigning() {
    throw Error("signing needs the native build of orvanta-tool; this Windows build has no OpenSSL");
}

}  // namespace

std::string SigningPublicKeyHex(const std::string&) { NoSigning(); }

std::string SignFileHex(const std::string&, const std::string&) { NoSigning(); }

EcdsaPublicKey SigningPublicKey(const std::string&) { NoSigning(); }

EcdsaSignature SignDigest(const std::string&, const Sha256Digest&) { NoSigning(); }

}  // namespace orv::publish
