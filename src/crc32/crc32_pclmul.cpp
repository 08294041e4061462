// CRC-32 by carry-less multiplication (PCLMULQDQ): four 128-bit lanes each fold 64 bytes
// forward per round, then one lane is reduced to the 32-bit register (Barrett).
#include "crc32/crc32_paths.h"

#if QELT_CRC32_X86

#include "crc32/crc32_clmul.h"

using namespace crc32clmul;

// Four lanes, their constant and two temporaries fit the eight XMM registers of i686, so
// the loop runs without stack traffic there too.
QELT_PCLMUL_TARGET uint32_t Crc32UpdatePclmul(uint32_t crc, const void* data, size_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    if (length < 64) {
        return Crc32UpdateSlice16(crc, p, length);
    }
    // The running register is the first 32 bits of the message to be folded.
    __m128i x0 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x1 = Load(p + 16);
    __m128i x2 = Load(p + 32);
    __m128i x3 = Load(p + 48);
    p += 64;
    length -= 64;

    const __m128i by512 = FoldConstants<512>();
    while (length >= 64) {
        x0 = _mm_xor_si128(Fold(x0, by512), Load(p));
        x1 = _mm_xor_si128(Fold(x1, by512), Load(p + 16));
        x2 = _mm_xor_si128(Fold(x2, by512), Load(p + 32));
        x3 = _mm_xor_si128(Fold(x3, by512), Load(p + 48));
        p += 64;
        length -= 64;
    }

    // The four lanes are 64 consecutive bytes: fold each into the next.
    const __m128i by128 = FoldConstants<128>();
    __m128i x = _mm_xor_si128(Fold(x0, by128), x1);
    x = _mm_xor_si128(Fold(x, by128), x2);
    x = _mm_xor_si128(Fold(x, by128), x3);
    return Finish(x, p, length);
}

#endif
