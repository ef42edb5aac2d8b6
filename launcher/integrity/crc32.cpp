#include "launcher/integrity/crc32.h"

#include <zlib.h>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ORV_CRC32_CLMUL 1
#endif

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

#ifdef ORV_CRC32_CLMUL
// Folding with carry-less multiplication (PCLMULQDQ), four 16-byte lanes at a time: several times
// the speed of a table, so that checking a warm folder is bound by reading it. The constants are
// the powers of x modulo the reflected polynomial that fold 512, 128 and 64 bits, and the Barrett
// pair (P', mu'). Takes and gives the raw register; `size` is at least 64 and a multiple of 16.
#define ORV_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))
ORV_CLMUL_TARGET inline __m128i Load16(const unsigned char* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}
// x times the two powers in k, both halves, added to the next 16 bytes.
ORV_CLMUL_TARGET inline __m128i Fold16(__m128i x, __m128i k, __m128i next) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

ORV_CLMUL_TARGET uint32_t Crc32Clmul(uint32_t reg, const unsigned char* p, size_t size) {
    const __m128i k1k2 = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);
    const __m128i k5 = _mm_set_epi64x(0, 0x163cd6124);
    const __m128i poly = _mm_set_epi64x(0x1f7011641, 0x1db710641);
    const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);
    const auto load = Load16;
    const auto fold = Fold16;

    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
    __m128i x2 = load(p + 16), x3 = load(p + 32), x4 = load(p + 48);
    p += 64;
    size -= 64;
    for (; size >= 64; p += 64, size -= 64) {
        x1 = fold(x1, k1k2, load(p));
        x2 = fold(x2, k1k2, load(p + 16));
        x3 = fold(x3, k1k2, load(p + 32));
        x4 = fold(x4, k1k2, load(p + 48));
    }
    x1 = fold(x1, k3k4, x2);
    x1 = fold(x1, k3k4, x3);
    x1 = fold(x1, k3k4, x4);
    for (; size >= 16; p += 16, size -= 16) x1 = fold(x1, k3k4, load(p));

    // 128 to 64 bits (adding 32 zero bits), 64 to 32, then Barrett reduction.
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(k3k4, x1, 0x01), _mm_srli_si128(x1, 8));
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k5, 0x00), _mm_srli_si128(x1, 4));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), poly, 0x00);
    return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x1, t), 1));
}

bool HasClmul() {
    static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return has;
}
#endif

}  // namespace

uint32_t Crc32Update(uint32_t reg, const void* data, size_t size) {
    // zlib keeps the register pre- and post-inverted; ours is the raw register.
    const auto* p = static_cast<const Bytef*>(data);
#ifdef ORV_CRC32_CLMUL
    if (size >= 64 && HasClmul()) {
        const size_t folded = size & ~size_t{15};
        reg = Crc32Clmul(reg, p, folded);
        p += folded;
        size -= folded;
    }
#endif
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
