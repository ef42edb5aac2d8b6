// The signature check of a downloaded launcher executable. CRC-32 only catches damage; the launcher
// runs elevated and fetches over plain HTTP, so a build that carries a public key accepts only an
// executable signed with the matching private key.
#pragma once

#include <string>
#include <string_view>

namespace orv {

// True when signatureHex is a valid ECDSA P-256 / SHA-256 signature of the file's bytes under the
// public key publicKeyHex (128 hex chars: X||Y big-endian). False for any malformed input, an
// unreadable file, or a wrong signature; never throws.
bool UpdateSignatureValid(const std::string& filePath, const std::string& signatureHex, std::string_view publicKeyHex);

}  // namespace orv
