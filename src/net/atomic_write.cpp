// WriteFileAtomic: the new content goes to "<target>.part", reaches the disk, and is then
// renamed over the target, so a crash, a power cut or a failure never leaves a half-written
// target.
#include "net/atomic_write.h"

#include <cstring>

#include "base/paths.h"
#include "base/text.h"

bool WriteFileAtomic(const char* targetPath, const ByteBuffer& content) {
    char partPath[kPathCapacity];
    // A target whose ".part" name does not fit is refused rather than written elsewhere.
    if (!ConcatBounded(partPath, sizeof partPath, targetPath, ".part")) {
        return false;
    }
    DWORD size = static_cast<DWORD>(content.size());
    if (size != content.size()) {
        return false; // one WriteFile call cannot carry it
    }
    HANDLE file = CreateFileA(partPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    // An empty vector may have no storage at all; the write still needs a valid source.
    static const unsigned char kNothing = 0;
    const void* source = content.empty() ? &kNothing : content.data();
    DWORD written = 0;
    BOOL wrote = WriteFile(file, source, size, &written, nullptr);
    if (!wrote || written != size) {
        CloseHandle(file);
        DeleteFileA(partPath);
        return false;
    }
    return CommitPartFile(file, partPath, targetPath);
}

bool CommitPartFile(HANDLE part, const char* partPath, const char* targetPath) {
    const BOOL flushed = FlushFileBuffers(part);
    CloseHandle(part);
    if (flushed &&
        MoveFileExA(partPath, targetPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    DeleteFileA(partPath);
    return false;
}

size_t CreateFoldersAlong(char* localPath) {
    size_t firstCreated = strlen(localPath);
    for (char* p = localPath; *p; ++p) {
        if (*p == '\\') {
            *p = '\0';
            if (CreateDirectoryA(localPath, nullptr) &&
                firstCreated > static_cast<size_t>(p - localPath)) {
                firstCreated = static_cast<size_t>(p - localPath);
            }
            *p = '\\';
        }
    }
    return firstCreated;
}

void RemoveFoldersAlong(char* localPath, size_t firstCreated) {
    for (size_t i = strlen(localPath); i-- > firstCreated;) {
        if (localPath[i] == '\\') {
            localPath[i] = '\0';
            const BOOL removed = RemoveDirectoryA(localPath);
            localPath[i] = '\\';
            if (!removed) {
                return; // not empty, or not ours: the levels above hold it
            }
        }
    }
}
