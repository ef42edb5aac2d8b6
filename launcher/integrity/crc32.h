// CRC-32 (ISO-HDLC: reflected, polynomial 0xEDB88320, init and final XOR 0xFFFFFFFF) of whole files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orv {

// Files are read in blocks of this size; the GUI event queue is pumped after every block.
inline constexpr size_t Crc32BlockSize = 65521;

// Continues a CRC-32 register over `size` bytes (register in, register out: no final XOR).
uint32_t Crc32Update(uint32_t reg, const void* data, size_t size);
// The CRC-32 of a byte string.
uint32_t Crc32Of(const std::string& bytes);

// The CRC-32 of a whole file; 0 when the file cannot be opened. Never raises.
uint32_t FileCrc32(const std::string& path);
// As above, but leaves after the current block once `stopFlag` is 1; the value then covers the
// bytes read until then.
uint32_t FileCrc32(const std::string& path, const int32_t& stopFlag);

// The text form every caller compares: unsigned decimal, no sign, no leading zeros.
std::string Crc32Text(uint32_t value);

}  // namespace orv
