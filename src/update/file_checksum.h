// CRC-32 of a file on disk, streamed in fixed pieces.
#pragma once

#include <cstdint>

// Opens path for reading (shared reading only) and stores the CRC-32 of its bytes in
// *checksum. Returns false, leaving *checksum untouched, when the file cannot be opened.
bool FileChecksum(const char* path, uint32_t* checksum);
