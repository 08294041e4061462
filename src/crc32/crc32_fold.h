// Constants of the carry-less-multiply CRC-32 paths, derived at compile time from the
// polynomial so that no unexplained number appears in the folding code.
#pragma once

#include <cstdint>

namespace crc32fold {

// The polynomial as the byte table uses it: bit-reflected, x^32 left implicit.
constexpr uint32_t kReflectedPolynomial = 0xEDB88320u;

constexpr uint32_t Reverse32(uint32_t value) {
    uint32_t result = 0;
    for (int bit = 0; bit < 32; ++bit) {
        result |= ((value >> bit) & 1u) << (31 - bit);
    }
    return result;
}

// The same polynomial in normal order: bit d is the coefficient of x^d (x^32 implicit).
constexpr uint32_t kNormalPolynomial = Reverse32(kReflectedPolynomial);

// x^n mod P in normal order.
constexpr uint32_t XPowModP(unsigned n) {
    uint32_t r = 1;
    for (unsigned i = 0; i < n; ++i) {
        r = (r & 0x80000000u) ? (r << 1) ^ kNormalPolynomial : r << 1;
    }
    return r;
}

// floor(x^64 / P) in normal order (degree 32), by long division. The window holds the
// remainder's coefficients of x^d down to x^(d-32), x^d in bit 32.
constexpr uint64_t XPow64DivP() {
    const uint64_t divisor = (uint64_t{1} << 32) | kNormalPolynomial;
    uint64_t quotient = 0;
    uint64_t window = uint64_t{1} << 32;
    for (int d = 64; d >= 32; --d) {
        if (window & (uint64_t{1} << 32)) {
            quotient |= uint64_t{1} << (d - 32);
            window ^= divisor;
        }
        window <<= 1;
    }
    return quotient;
}

// Lays a polynomial of degree <= 32 (normal order) out the way PCLMULQDQ sees bit-reflected
// data: the coefficient of x^d goes to bit 32 - d. A product of a 64-bit lane holding
// reflected data with such a value then lines up with the lane without a shift.
constexpr uint64_t Reflect33(uint64_t normal) {
    uint64_t result = 0;
    for (int d = 0; d <= 32; ++d) {
        result |= ((normal >> d) & 1u) << (32 - d);
    }
    return result;
}

// Multiplier that moves a 64-bit half of a 128-bit lane forward by `bits` bits: the lower
// half (the earlier bytes, the higher powers) needs x^(bits+32) mod P, the upper half
// x^(bits-32) mod P.
constexpr uint64_t FoldConstant(unsigned power) {
    return Reflect33(XPowModP(power));
}
constexpr uint64_t FoldLow(unsigned bits) {
    return FoldConstant(bits + 32);
}
constexpr uint64_t FoldHigh(unsigned bits) {
    return FoldConstant(bits - 32);
}

// Final reduction of 128 bits to the 32-bit register: 128 -> 96 bits with x^96, 96 -> 64
// bits with x^64, then Barrett with mu = floor(x^64 / P) and P itself.
constexpr uint64_t kReduce96 = FoldConstant(96);
constexpr uint64_t kReduce64 = FoldConstant(64);
constexpr uint64_t kBarrettMu = Reflect33(XPow64DivP());
constexpr uint64_t kBarrettPolynomial = Reflect33((uint64_t{1} << 32) | kNormalPolynomial);

} // namespace crc32fold
