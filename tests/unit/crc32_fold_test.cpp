// The folding constants of the carry-less-multiply paths, recomputed by other routes: powers
// of x through the byte table's register, and Barrett's mu from its defining product.
#include "crc32/crc32_fold.h"

#include <gtest/gtest.h>

#include "crc32/crc32.h"

namespace {

// x^n mod P as the table-driven register holds it (coefficient of x^d in bit 31 - d): the
// register fed one zero byte is multiplied by x^8.
uint32_t TableXPowModP(unsigned n) {
    uint32_t r = 0x80000000u; // x^0
    for (unsigned i = 0; i < n / 8; ++i) {
        r = Crc32Table[r & 0xFFu] ^ (r >> 8);
    }
    return r;
}

// Product of two polynomials of degree < 64 in normal order, as {low, high} words.
void ClMul(uint64_t a, uint64_t b, uint64_t* low, uint64_t* high) {
    *low = 0;
    *high = 0;
    for (int i = 0; i < 64; ++i) {
        if ((b >> i) & 1u) {
            *low ^= a << i;
            *high ^= i == 0 ? 0 : a >> (64 - i);
        }
    }
}

// Undoes the 33-bit reflected layout: bit 32 - d back to bit d.
uint64_t Unreflect33(uint64_t value) {
    uint64_t normal = 0;
    for (int d = 0; d <= 32; ++d) {
        if ((value >> (32 - d)) & 1u) {
            normal |= uint64_t{1} << d;
        }
    }
    return normal;
}

TEST(Crc32FoldTest, PowersOfXAgreeWithTheByteTable) {
    BuildCrc32Table();
    for (unsigned n = 32; n <= 4096; n += 8) {
        ASSERT_EQ(crc32fold::FoldConstant(n), uint64_t{TableXPowModP(n)} << 1) << "x^" << n;
    }
    // The constants the paths use, by name.
    EXPECT_EQ(crc32fold::FoldLow(512), uint64_t{TableXPowModP(544)} << 1);
    EXPECT_EQ(crc32fold::FoldHigh(512), uint64_t{TableXPowModP(480)} << 1);
    EXPECT_EQ(crc32fold::FoldLow(2048), uint64_t{TableXPowModP(2080)} << 1);
    EXPECT_EQ(crc32fold::FoldHigh(2048), uint64_t{TableXPowModP(2016)} << 1);
    EXPECT_EQ(crc32fold::FoldLow(128), uint64_t{TableXPowModP(160)} << 1);
    EXPECT_EQ(crc32fold::kReduce96, uint64_t{TableXPowModP(96)} << 1);
    EXPECT_EQ(crc32fold::kReduce64, uint64_t{TableXPowModP(64)} << 1);
}

TEST(Crc32FoldTest, PolynomialIsTheOneOfTheByteTable) {
    const uint64_t normal = Unreflect33(crc32fold::kBarrettPolynomial);
    EXPECT_EQ(normal, 0x104C11DB7u);
    EXPECT_EQ(crc32fold::kBarrettPolynomial >> 1, uint64_t{0xEDB88320u});
}

TEST(Crc32FoldTest, BarrettMuIsTheQuotientOfXPow64ByP) {
    // mu * P = x^64 + r with deg r < 32 defines mu = floor(x^64 / P).
    const uint64_t mu = Unreflect33(crc32fold::kBarrettMu);
    const uint64_t p = Unreflect33(crc32fold::kBarrettPolynomial);
    uint64_t low = 0, high = 0;
    ClMul(mu, p, &low, &high);
    EXPECT_EQ(high, 1u);                         // x^64
    EXPECT_EQ(low >> 32, 0u) << std::hex << low; // nothing from x^32 to x^63
    EXPECT_EQ(mu >> 32, 1u);                     // degree 32
}

} // namespace
