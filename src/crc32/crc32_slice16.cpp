// Slicing-by-16 CRC-32: sixteen table look-ups per 16 bytes instead of one per byte, on
// any CPU and either byte order.
#include "crc32/crc32.h"
#include "crc32/crc32_paths.h"

namespace {

// Entry [k][n]: the register change caused by byte n followed by k zero bytes.
uint32_t g_slices[16][256];

inline uint32_t LoadLittleEndian32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

} // namespace

void BuildCrc32SliceTables() {
    for (int n = 0; n < 256; ++n) {
        g_slices[0][n] = Crc32Table[n];
    }
    for (int k = 1; k < 16; ++k) {
        for (int n = 0; n < 256; ++n) {
            const uint32_t previous = g_slices[k - 1][n];
            g_slices[k][n] = Crc32Table[previous & 0xFFu] ^ (previous >> 8);
        }
    }
}

uint32_t Crc32UpdateSlice16(uint32_t crc, const void* data, size_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (length >= 16) {
        const uint32_t w0 = crc ^ LoadLittleEndian32(p);
        const uint32_t w1 = LoadLittleEndian32(p + 4);
        const uint32_t w2 = LoadLittleEndian32(p + 8);
        const uint32_t w3 = LoadLittleEndian32(p + 12);
        crc = g_slices[15][w0 & 0xFFu] ^ g_slices[14][(w0 >> 8) & 0xFFu] ^
              g_slices[13][(w0 >> 16) & 0xFFu] ^ g_slices[12][w0 >> 24] ^ g_slices[11][w1 & 0xFFu] ^
              g_slices[10][(w1 >> 8) & 0xFFu] ^ g_slices[9][(w1 >> 16) & 0xFFu] ^
              g_slices[8][w1 >> 24] ^ g_slices[7][w2 & 0xFFu] ^ g_slices[6][(w2 >> 8) & 0xFFu] ^
              g_slices[5][(w2 >> 16) & 0xFFu] ^ g_slices[4][w2 >> 24] ^ g_slices[3][w3 & 0xFFu] ^
              g_slices[2][(w3 >> 8) & 0xFFu] ^ g_slices[1][(w3 >> 16) & 0xFFu] ^
              g_slices[0][w3 >> 24];
        p += 16;
        length -= 16;
    }
    return Crc32UpdateByte(crc, p, length);
}
