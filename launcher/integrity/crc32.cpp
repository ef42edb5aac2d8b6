#include "launcher/integrity/crc32.h"

#include <zlib.h>

#include <memory>
#include <optional>

#include "launcher/base/errors.h"
#include "launcher/base/events.h"
#include "launcher/platform/files.h"

namespace orv {
namespace {

uint32_t FileCrc32Impl(const std::string& path, const int32_t* stopFlag) {
    std::optional<File> file;
    try {
        file.emplace(File::OpenRead(path));
    } catch (const Error&) {
        return 0;  // missing, locked or refused: the value of an untouched register
    }
    const auto buffer = std::make_unique<unsigned char[]>(Crc32BlockSize);
    uint32_t reg = 0xFFFFFFFFu;
    for (;;) {
        const size_t got = file->Read(buffer.get(), Crc32BlockSize);
        reg = Crc32Update(reg, buffer.get(), got);
        PumpEvents();
        if (stopFlag && *stopFlag == 1) break;
        if (got == 0) break;
    }
    return reg ^ 0xFFFFFFFFu;
}

}  // namespace

uint32_t Crc32Update(uint32_t reg, const void* data, size_t size) {
    // zlib keeps the register pre- and post-inverted; ours is the raw register.
    const auto* p = static_cast<const Bytef*>(data);
    uLong crc = reg ^ 0xFFFFFFFFu;
    while (size > 0) {
        const uInt chunk = size > 0x40000000 ? 0x40000000 : static_cast<uInt>(size);
        crc = crc32(crc, p, chunk);
        p += chunk;
        size -= chunk;
    }
    return static_cast<uint32_t>(crc) ^ 0xFFFFFFFFu;
}

uint32_t Crc32Of(const std::string& bytes) { return Crc32Update(0xFFFFFFFFu, bytes.data(), bytes.size()) ^ 0xFFFFFFFFu; }

uint32_t FileCrc32(const std::string& path) { return FileCrc32Impl(path, nullptr); }

uint32_t FileCrc32(const std::string& path, const int32_t& stopFlag) { return FileCrc32Impl(path, &stopFlag); }

std::string Crc32Text(uint32_t value) { return std::to_string(value); }

}  // namespace orv
