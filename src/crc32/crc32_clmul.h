// 128-bit folding and the final reduction shared by the two carry-less-multiply CRC-32
// paths; included only by crc32_pclmul.cpp and crc32_vpclmul.cpp.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "crc32/crc32_fold.h"
#include "crc32/crc32_paths.h"

// Only functions marked so use the instructions; the rest of the program stays baseline
// x86. The helpers are always inlined: a vector passed by value between functions would
// depend on the caller's instruction set on i686.
#define QELT_PCLMUL_TARGET __attribute__((target("pclmul,sse4.1")))
#define QELT_PCLMUL_INLINE inline __attribute__((always_inline, target("pclmul,sse4.1")))

namespace crc32clmul {

// Lane layout: byte i of the data is bits 8i..8i+7, and bit j of a lane is the coefficient
// of x^(127-j) counted from the end of the lane, so the lower 64 bits hold the higher
// powers. Each half is multiplied by the constant that moves it `bits` further on.
template <unsigned kBits> QELT_PCLMUL_INLINE __m128i FoldConstants() {
    constexpr long long low = static_cast<long long>(crc32fold::FoldLow(kBits));
    constexpr long long high = static_cast<long long>(crc32fold::FoldHigh(kBits));
    return _mm_set_epi64x(high, low);
}

QELT_PCLMUL_INLINE __m128i Fold(__m128i lane, __m128i constants) {
    return _mm_xor_si128(_mm_clmulepi64_si128(lane, constants, 0x00),
                         _mm_clmulepi64_si128(lane, constants, 0x11));
}

QELT_PCLMUL_INLINE __m128i Load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// The register value for a lane that stands for the whole message so far: lane * x^32
// mod P, in the register's own bit order.
QELT_PCLMUL_INLINE uint32_t Reduce(__m128i lane) {
    using namespace crc32fold;
    const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);
    const __m128i reduce =
        _mm_set_epi64x(static_cast<long long>(kReduce64), static_cast<long long>(kReduce96));
    const __m128i barrett = _mm_set_epi64x(static_cast<long long>(kBarrettPolynomial),
                                           static_cast<long long>(kBarrettMu));
    // 128 -> 96 bits: the lower half times x^96 plus the upper half (now bits 0..95).
    __m128i v = _mm_xor_si128(_mm_clmulepi64_si128(lane, reduce, 0x00), _mm_srli_si128(lane, 8));
    // 96 -> 64 bits: the top 32 (bits 0..31) times x^64 plus the rest (now bits 0..63).
    v = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(v, low32), reduce, 0x10),
                      _mm_srli_si128(v, 4));
    // Barrett: quotient = top 32 bits times mu, keep its top 32; remainder = value plus
    // quotient times P, which leaves the register in bits 32..63.
    const __m128i quotient = _mm_clmulepi64_si128(_mm_and_si128(v, low32), barrett, 0x00);
    v = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(quotient, low32), barrett, 0x10), v);
    return static_cast<uint32_t>(_mm_extract_epi32(v, 1));
}

// Folds the remaining whole 16-byte blocks into the lane, reduces it, and feeds the last
// bytes (under 16) through the tables.
QELT_PCLMUL_INLINE uint32_t Finish(__m128i lane, const uint8_t* p, size_t length) {
    const __m128i by128 = FoldConstants<128>();
    while (length >= 16) {
        lane = _mm_xor_si128(Fold(lane, by128), Load(p));
        p += 16;
        length -= 16;
    }
    return Crc32UpdateSlice16(Reduce(lane), p, length);
}

} // namespace crc32clmul
