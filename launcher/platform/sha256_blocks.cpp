#include "launcher/platform/sha256_blocks.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace orv {
namespace {

constexpr uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                  0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

#if defined(__x86_64__)
alignas(16) constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

// Sixteen groups of four rounds; the message schedule runs three groups ahead in w[], four words
// a register, as the instructions expect.
__attribute__((target("sha,sse4.1,ssse3"))) void Blocks(uint32_t state[8], const uint8_t* data, size_t count) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bll, 0x0405060700010203ll);
    __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
    __m128i state1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
    tmp = _mm_shuffle_epi32(tmp, 0xB1);            // CDAB
    state1 = _mm_shuffle_epi32(state1, 0x1B);      // EFGH
    __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);  // ABEF
    state1 = _mm_blend_epi16(state1, tmp, 0xF0);   // CDGH
    for (; count > 0; --count, data += 64) {
        const __m128i abef = state0, cdgh = state1;
        __m128i w[4];
        for (int g = 0; g < 16; ++g) {
            if (g < 4)
                w[g] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * g)), byteSwap);
            __m128i message = _mm_add_epi32(w[g % 4], _mm_load_si128(reinterpret_cast<const __m128i*>(&kRound[4 * g])));
            state1 = _mm_sha256rnds2_epu32(state1, state0, message);
            if (g >= 3 && g <= 14) {
                const __m128i carried = _mm_alignr_epi8(w[g % 4], w[(g + 3) % 4], 4);
                w[(g + 1) % 4] = _mm_sha256msg2_epu32(_mm_add_epi32(w[(g + 1) % 4], carried), w[g % 4]);
            }
            message = _mm_shuffle_epi32(message, 0x0E);
            state0 = _mm_sha256rnds2_epu32(state0, state1, message);
            if (g >= 1 && g <= 12) w[(g + 3) % 4] = _mm_sha256msg1_epu32(w[(g + 3) % 4], w[g % 4]);
        }
        state0 = _mm_add_epi32(state0, abef);
        state1 = _mm_add_epi32(state1, cdgh);
    }
    tmp = _mm_shuffle_epi32(state0, 0x1B);         // FEBA
    state1 = _mm_shuffle_epi32(state1, 0xB1);      // DCHG
    state0 = _mm_blend_epi16(tmp, state1, 0xF0);   // DCBA
    state1 = _mm_alignr_epi8(state1, tmp, 8);      // HGFE
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), state0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), state1);
}
#else
void Blocks(uint32_t*, const uint8_t*, size_t) {}
#endif

}  // namespace

bool HasSha256Instructions() {
#if defined(__x86_64__)
    static const bool has = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
        const bool sse = (c & bit_SSSE3) && (c & bit_SSE4_1);
        if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
        return sse && (b & (1u << 29)) != 0;
    }();
    return has;
#else
    return false;
#endif
}

Sha256Blocks::Sha256Blocks() { std::memcpy(state_, kInitial, sizeof state_); }

void Sha256Blocks::Update(const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    length_ += size;
    if (pendingSize_ > 0) {
        const size_t take = std::min(size, sizeof pending_ - pendingSize_);
        std::memcpy(pending_ + pendingSize_, bytes, take);
        pendingSize_ += take;
        bytes += take;
        size -= take;
        if (pendingSize_ < sizeof pending_) return;
        Blocks(state_, pending_, 1);
        pendingSize_ = 0;
    }
    if (size >= 64) {
        Blocks(state_, bytes, size / 64);
        bytes += size / 64 * 64;
        size %= 64;
    }
    std::memcpy(pending_, bytes, size);
    pendingSize_ = size;
}

Sha256Digest Sha256Blocks::Finish() {
    const uint64_t bits = length_ * 8;
    uint8_t tail[72] = {0x80};
    const size_t padding = (pendingSize_ < 56 ? 56 : 120) - pendingSize_;
    for (int i = 0; i < 8; ++i) tail[padding + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    Update(tail, padding + 8);
    Sha256Digest digest{};
    for (int i = 0; i < 8; ++i)
        for (int k = 0; k < 4; ++k) digest[4 * i + k] = static_cast<uint8_t>(state_[i] >> (24 - 8 * k));
    return digest;
}

}  // namespace orv
