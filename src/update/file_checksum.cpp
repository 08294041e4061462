// FileChecksum: one 32768-byte buffer, so memory use does not depend on file size.
#include "update/file_checksum.h"

#include <windows.h>

#include "crc32/crc32.h"

namespace {
constexpr DWORD kChunkSize = 32768;
}

bool FileChecksum(const char* path, uint32_t* checksum) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    unsigned char buffer[kChunkSize];
    uint32_t crc = 0xFFFFFFFFu;
    DWORD read = 0;
    while (ReadFile(file, buffer, kChunkSize, &read, nullptr) && read != 0) {
        crc = Crc32Update(crc, buffer, read);
    }
    CloseHandle(file);
    *checksum = crc ^ 0xFFFFFFFFu;
    return true;
}
