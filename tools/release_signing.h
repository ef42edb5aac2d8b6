// Signing a launcher release. A launcher built with a public key accepts a new executable only
// with a valid "Signature" in "version.txt": ECDSA P-256 over SHA-256 of the executable's bytes,
// the raw r||s as hexadecimal text. The operator keeps the private key as a PEM file, e.g. from
//   openssl ecparam -name prime256v1 -genkey -noout -out key.pem
// Only the native build of the tool signs (OpenSSL); the Windows build raises Error instead.
#pragma once

#include <string>

#include "launcher/platform/ecdsa_p256.h"

namespace orv::publish {

// The public key of the P-256 private key in the PEM file at `keyPath`, as X||Y in 128 lower-case
// hexadecimal digits: the value a launcher build is configured with. Raises Error.
std::string SigningPublicKeyHex(const std::string& keyPath);

// The signature of the file's bytes under the private key in `keyPath`, as 128 lower-case
// hexadecimal digits (r||s). Raises Error.
std::string SignFileHex(const std::string& keyPath, const std::string& filePath);

// The raw public key (X||Y) of the private key in `keyPath`. Raises Error.
EcdsaPublicKey SigningPublicKey(const std::string& keyPath);

// The raw signature (r||s) of `digest` under the private key in `keyPath`: how statements are
// signed. The digest is signed as it stands, not hashed again, so EcdsaP256Valid(digest, ...)
// verifies it. Raises Error.
EcdsaSignature SignDigest(const std::string& keyPath, const Sha256Digest& digest);

}  // namespace orv::publish
