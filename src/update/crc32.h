// CRC-32 of the ISO-HDLC family (zlib, PKZIP): the one checksum that decides whether a
// client file is current.
#pragma once

#include <cstddef>
#include <cstdint>

extern uint32_t Crc32Table[256];

// Fills Crc32Table; called once, first thing at start-up.
void BuildCrc32Table();

// Feeds bytes into a running CRC register. The register starts at 0xFFFFFFFF and the
// checksum is the register XOR 0xFFFFFFFF, so a file can be fed piece by piece.
uint32_t Crc32Update(uint32_t crc, const void* data, size_t length);

// CRC-32 of a byte range in memory; 0 for an empty range.
uint32_t BufferChecksum(const void* data, size_t length);
