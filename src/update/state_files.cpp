// The launcher's own state files, recognised by name.
#include "update/state_files.h"

#include <cstring>

namespace {

char FoldAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameNameIgnoringCase(const char* a, size_t length, const char* name) {
    if (strlen(name) != length) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (FoldAscii(a[i]) != FoldAscii(name[i])) {
            return false;
        }
    }
    return true;
}

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

} // namespace

bool IsLauncherStateFile(const char* path) {
    if (path == nullptr) {
        return false;
    }
    // Windows resolves "." folders and repeated separators, and drops trailing dots and
    // spaces from a name, so "./qelt-check.dat" and "qelt-check.dat." name the file too.
    const char* name = path;
    while (IsSeparator(name[0]) || (name[0] == '.' && IsSeparator(name[1]))) {
        name += IsSeparator(name[0]) ? 1 : 2;
    }
    size_t length = strlen(name);
    while (length > 0 && (name[length - 1] == '.' || name[length - 1] == ' ')) {
        --length;
    }
    return SameNameIgnoringCase(name, length, kQuickCheckRecordName) ||
           SameNameIgnoringCase(name, length, kUpdateSequenceName);
}
