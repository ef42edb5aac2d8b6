// ECDSA over NIST P-256: the publisher's signatures. Keys and signatures are raw: a public key is
// X||Y, a signature r||s, each coordinate 32 big-endian bytes (CNG's form). Windows CNG checks them
// in the Windows build, OpenSSL in the native one.
#pragma once

#include <array>
#include <cstdint>

#include "launcher/platform/sha256.h"

namespace orv {

using EcdsaPublicKey = std::array<uint8_t, 64>;
using EcdsaSignature = std::array<uint8_t, 64>;

// True only when `signature` is valid for `digest` under `key`. A key that is not a point of the
// curve, or any failure of the platform, is false.
bool EcdsaP256Valid(const Sha256Digest& digest, const EcdsaSignature& signature, const EcdsaPublicKey& key);

}  // namespace orv
