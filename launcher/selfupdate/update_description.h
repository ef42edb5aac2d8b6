// The update description "version.txt" of a launcher release: one JSON object naming the
// compressed new executable, the CRC-32 the unpacked executable must have and, for launchers built
// with a signing key, its signature. The direct self-update reads it; the publisher writes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "launcher/base/codepage.h"

namespace orv {

// Each value in its text form: a JSON string's characters, or a number as the document gives it.
struct UpdateDescription {
    std::string DownloadURL;    // the compressed new executable
    int64_t LzmaFileSize = 0;   // its size, for the download's progress
    std::string LzmaFileCRC32;  // read, not used
    std::string FileCRC32;      // the unpacked executable's CRC-32 as unsigned decimal text
    std::optional<std::string> Signature;  // of the unpacked executable, when the release is signed
};

// ECDSA P-256 sizes in bytes: a signature is r||s and a public key X||Y, 32 big-endian bytes each.
constexpr size_t kUpdateSignatureBytes = 64;
constexpr size_t kUpdatePublicKeyBytes = 64;

// Nothing when the text (a byte-order mark decides its encoding, else `ansiPage`) is not a JSON
// object, a key is missing, "DownloadURL", "LzmaFileSize" or "FileCRC32" is not a string, number or
// boolean, or "LzmaFileSize" is not a decimal integer. "LzmaFileCRC32" is not used, so any value
// of it will do (an array or object reads as empty text). "Signature" is never required; one that
// is not a JSON string counts as absent, so a launcher that needs it refuses the update.
std::optional<UpdateDescription> ReadUpdateDescription(std::string_view bytes, CodePage ansiPage);
// The same with a document without a mark decoded by `ansiToUtf8` (the running system's code page).
std::optional<UpdateDescription> ReadUpdateDescription(std::string_view bytes, const AnsiDecoder& ansiToUtf8);

// The text comparison of a computed CRC-32 with "FileCRC32": the same decimal digits only, so a
// value with leading zeros, in hexadecimal or with a sign never matches.
bool FileCrc32Matches(uint32_t crc, const std::string& fileCrc32);


}  // namespace orv
