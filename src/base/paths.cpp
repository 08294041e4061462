// Bounded string and path helpers.
#include "base/paths.h"

#include <cstring>

void CopyBounded(char* dst, size_t cap, const char* src) {
    if (cap == 0) {
        return;
    }
    size_t n = strnlen(src, cap - 1);
    memcpy(dst, src, n);
    dst[n] = '\0';
}

bool ConcatBounded(char* out, size_t cap, const char* a, const char* b) {
    size_t la = strlen(a);
    size_t lb = strlen(b);
    if (cap == 0 || la + lb >= cap) {
        if (cap > 0) {
            out[0] = '\0';
        }
        return false;
    }
    memmove(out, a, la);
    memcpy(out + la, b, lb);
    out[la + lb] = '\0';
    return true;
}

bool JoinPath(char* out, size_t cap, const char* dir, const char* name) {
    size_t ld = strlen(dir);
    size_t ln = strlen(name);
    if (cap == 0 || ld + 1 + ln >= cap) {
        if (cap > 0) {
            out[0] = '\0';
        }
        return false;
    }
    memmove(out, dir, ld);
    out[ld] = '\\';
    memcpy(out + ld + 1, name, ln);
    out[ld + 1 + ln] = '\0';
    return true;
}

bool SplitModulePath(const char* modulePath, char* dir, size_t dirCap, char* name, size_t nameCap) {
    const char* slash = strrchr(modulePath, '\\');
    size_t dirLength = slash ? static_cast<size_t>(slash - modulePath) : 0;
    const char* fileName = slash ? slash + 1 : modulePath;
    if (dirLength >= dirCap) {
        dir[0] = '\0';
        name[0] = '\0';
        return false;
    }
    memcpy(dir, modulePath, dirLength);
    dir[dirLength] = '\0';
    CopyBounded(name, nameCap, fileName);
    return true;
}

bool CommandLineHasUpdated(const char* commandLine) {
    return commandLine != nullptr && strstr(commandLine, "-updated") != nullptr;
}

void ToBackslashes(char* path) {
    for (; *path; ++path) {
        if (*path == '/') {
            *path = '\\';
        }
    }
}
