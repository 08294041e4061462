// The individual CRC-32 update paths behind Crc32Update's dispatch; only crc32*.cpp and
// the benchmarks use them directly.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#define QELT_CRC32_X86 1
#else
#define QELT_CRC32_X86 0
#endif

// One byte per step through Crc32Table.
uint32_t Crc32UpdateByte(uint32_t crc, const void* data, size_t length);

// Fills the 16 slicing tables from Crc32Table (which must be filled first).
void BuildCrc32SliceTables();

// 16 bytes per step through the slicing tables; the last bytes through Crc32Table.
uint32_t Crc32UpdateSlice16(uint32_t crc, const void* data, size_t length);

#if QELT_CRC32_X86
// Needs PCLMULQDQ and SSE4.1; short inputs and tails go through Crc32UpdateSlice16.
uint32_t Crc32UpdatePclmul(uint32_t crc, const void* data, size_t length);

// Needs AVX-512F and VPCLMULQDQ with the operating system saving the 512-bit state, plus
// what Crc32UpdatePclmul needs, which takes inputs shorter than one 256-byte round.
uint32_t Crc32UpdateVpclmul(uint32_t crc, const void* data, size_t length);
#endif
