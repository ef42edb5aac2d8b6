// Bytes as hexadecimal text: the form in which "version.txt" carries the update signature and a
// launcher build carries the key that checks it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// Exactly `byteCount` bytes written as 2 * `byteCount` hexadecimal digits of either case, nothing
// else (no prefix, sign, separator or blank); nothing otherwise.
std::optional<std::vector<uint8_t>> DecodeHex(std::string_view text, size_t byteCount);

// Two lower-case digits per byte.
std::string EncodeHex(const uint8_t* data, size_t size);
inline std::string EncodeHex(const std::vector<uint8_t>& bytes) { return EncodeHex(bytes.data(), bytes.size()); }

}  // namespace orv
