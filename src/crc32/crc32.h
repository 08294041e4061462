// CRC-32 of the ISO-HDLC family (zlib, PKZIP): the one checksum that decides whether a
// client file is current.
#pragma once

#include <cstddef>
#include <cstdint>

extern uint32_t Crc32Table[256];

// Fills Crc32Table and the faster paths' tables, then picks the fastest path this CPU
// supports for Crc32Update; called once, first thing at start-up.
void BuildCrc32Table();

// Feeds bytes into a running CRC register. The register starts at 0xFFFFFFFF and the
// checksum is the register XOR 0xFFFFFFFF, so a file can be fed piece by piece.
uint32_t Crc32Update(uint32_t crc, const void* data, size_t length);

// CRC-32 of a byte range in memory; 0 for an empty range.
uint32_t BufferChecksum(const void* data, size_t length);

// The ways of computing the same register. ByteTable is the table, one byte per step, and the
// reference; Slice16 reads 16 bytes per step through 16 tables; Pclmul folds 64 bytes per
// round with carry-less multiplication (x86, PCLMULQDQ + SSE4.1); Vpclmul folds 256 bytes
// per round with 512-bit carry-less multiplication (x86, AVX-512 + VPCLMULQDQ).
enum class Crc32Path { ByteTable, Slice16, Pclmul, Vpclmul };
constexpr int kCrc32PathCount = 4;

// "byte", "slice16", "pclmul", "vpclmul".
const char* Crc32PathName(Crc32Path path);

// Whether this build and this CPU (and its operating system) can run the path.
bool Crc32PathSupported(Crc32Path path);

// The fastest supported path: the one BuildCrc32Table picks.
Crc32Path FastestCrc32Path();

// The path Crc32Update uses now.
Crc32Path SelectedCrc32Path();

// Makes Crc32Update use the given path; false (and no change) when it is not supported.
// Only for start-up and tests: the choice is read without a lock afterwards.
bool SelectCrc32Path(Crc32Path path);

// Crc32Update through one given path; an unsupported one falls back to the byte table.
uint32_t Crc32UpdateWith(Crc32Path path, uint32_t crc, const void* data, size_t length);
