// Paths: joining, splitting the module path, separators.
#include "base/paths.h"

#include <cstring>

#include "base/text.h"

bool JoinPath(char* out, size_t cap, const char* dir, const char* name) {
    return FormatText(out, cap, "%s\\%s", dir, name);
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

void ToBackslashes(char* path) {
    for (; *path; ++path) {
        if (*path == '/') {
            *path = '\\';
        }
    }
}

bool LocalPathOf(char* out, size_t cap, const char* dir, const char* manifestPath) {
    if (!JoinPath(out, cap, dir, manifestPath)) {
        return false;
    }
    ToBackslashes(out);
    return true;
}
