// CRC-32 by 512-bit carry-less multiplication (AVX-512 VPCLMULQDQ): four registers of four
// 128-bit lanes fold 256 bytes forward per round; the last lane is finished as in the
// PCLMULQDQ path.
#include "crc32/crc32_paths.h"

#if QELT_CRC32_X86

#include "crc32/crc32_clmul.h"

#define QELT_VPCLMUL_TARGET __attribute__((target("avx512f,vpclmulqdq,pclmul,sse4.1")))
#define QELT_VPCLMUL_INLINE                                                                        \
    inline __attribute__((always_inline, target("avx512f,vpclmulqdq,pclmul,sse4.1")))

namespace {

// Each 128-bit lane of the register folds as in the 128-bit path, then adds `data`.
QELT_VPCLMUL_INLINE __m512i FoldAdd(__m512i lanes, __m512i constants, __m512i data) {
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(lanes, constants, 0x00),
                                     _mm512_clmulepi64_epi128(lanes, constants, 0x11), data,
                                     0x96); // a ^ b ^ c
}

template <unsigned kBits> QELT_VPCLMUL_INLINE __m512i WideFoldConstants() {
    constexpr long long low = static_cast<long long>(crc32fold::FoldLow(kBits));
    constexpr long long high = static_cast<long long>(crc32fold::FoldHigh(kBits));
    return _mm512_set_epi64(high, low, high, low, high, low, high, low);
}

// Lane `index` of the register. (The masked form, because GCC 12 warns about the
// undefined filler of the plain one.)
#define QELT_LANE(z, index) _mm512_maskz_extracti32x4_epi32(0xF, z, index)

QELT_VPCLMUL_INLINE __m512i WideLoad(const uint8_t* p) {
    return _mm512_loadu_si512(p);
}

} // namespace

QELT_VPCLMUL_TARGET uint32_t Crc32UpdateVpclmul(uint32_t crc, const void* data, size_t length) {
    using namespace crc32clmul;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    if (length < 256) {
        return Crc32UpdatePclmul(crc, p, length);
    }
    // The running register is the first 32 bits of the message to be folded.
    __m512i z0 = _mm512_xor_si512(WideLoad(p),
                                  _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(crc))));
    __m512i z1 = WideLoad(p + 64);
    __m512i z2 = WideLoad(p + 128);
    __m512i z3 = WideLoad(p + 192);
    p += 256;
    length -= 256;

    const __m512i by2048 = WideFoldConstants<2048>();
    while (length >= 256) {
        z0 = FoldAdd(z0, by2048, WideLoad(p));
        z1 = FoldAdd(z1, by2048, WideLoad(p + 64));
        z2 = FoldAdd(z2, by2048, WideLoad(p + 128));
        z3 = FoldAdd(z3, by2048, WideLoad(p + 192));
        p += 256;
        length -= 256;
    }

    const __m512i by512 = WideFoldConstants<512>();
    __m512i z = FoldAdd(z0, by512, z1);
    z = FoldAdd(z, by512, z2);
    z = FoldAdd(z, by512, z3);
    while (length >= 64) {
        z = FoldAdd(z, by512, WideLoad(p));
        p += 64;
        length -= 64;
    }

    // The four lanes of z are 64 consecutive bytes: fold each into the next.
    const __m128i by128 = FoldConstants<128>();
    __m128i x = _mm_xor_si128(Fold(QELT_LANE(z, 0), by128), QELT_LANE(z, 1));
    x = _mm_xor_si128(Fold(x, by128), QELT_LANE(z, 2));
    x = _mm_xor_si128(Fold(x, by128), QELT_LANE(z, 3));
    return Finish(x, p, length);
}

#endif
