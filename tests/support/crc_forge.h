// What anyone can do to a CRC-32: other bytes of the same size and checksum. Header only, so
// that the Win32 tests and the native tool tests share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// genuine (at least 5 bytes) with the byte at changedAt changed and its last four chosen so
// that crc32(result) == crc32(genuine). The CRC-32 is affine in those four bytes: they are
// solved for over GF(2), one bit at a time.
template <typename Crc32>
std::string ForgeSameCrc(const std::string& genuine, size_t changedAt, Crc32 crc32) {
    std::string forged = genuine;
    forged[changedAt] = static_cast<char>(forged[changedAt] ^ 0x20);
    const size_t at = forged.size() - 4;
    auto checksumWith = [&](uint32_t patch) {
        for (size_t i = 0; i < 4; ++i) {
            forged[at + i] = static_cast<char>(patch >> (8 * i));
        }
        return static_cast<uint32_t>(crc32(forged));
    };
    const uint32_t base = checksumWith(0);
    uint32_t pivots[32] = {};
    uint32_t patches[32] = {};
    for (int bit = 0; bit < 32; ++bit) {
        uint32_t column = checksumWith(1u << bit) ^ base;
        uint32_t patch = 1u << bit;
        for (int top = 31; top >= 0 && column != 0; --top) {
            if ((column >> top & 1) == 0) {
                continue;
            }
            if (pivots[top] == 0) {
                pivots[top] = column;
                patches[top] = patch;
                break;
            }
            column ^= pivots[top];
            patch ^= patches[top];
        }
    }
    uint32_t wanted = static_cast<uint32_t>(crc32(genuine)) ^ base;
    uint32_t patch = 0;
    for (int top = 31; top >= 0; --top) {
        if (wanted >> top & 1) {
            wanted ^= pivots[top];
            patch ^= patches[top];
        }
    }
    checksumWith(patch);
    return forged;
}
