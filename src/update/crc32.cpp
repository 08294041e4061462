// Table-driven CRC-32 (reflected polynomial 0xEDB88320), one byte per step.
#include "update/crc32.h"

uint32_t Crc32Table[256];

void BuildCrc32Table() {
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int round = 0; round < 8; ++round) {
            c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        }
        Crc32Table[i] = c;
    }
}

uint32_t Crc32Update(uint32_t crc, const void* data, size_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < length; ++i) {
        crc = Crc32Table[(crc ^ p[i]) & 0xFFu] ^ (crc >> 8);
    }
    return crc;
}

uint32_t BufferChecksum(const void* data, size_t length) {
    return Crc32Update(0xFFFFFFFFu, data, length) ^ 0xFFFFFFFFu;
}
