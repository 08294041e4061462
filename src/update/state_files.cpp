// The launcher's own state files, recognised by name.
#include "update/state_files.h"

namespace {

char FoldAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameNameIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (FoldAscii(*a) != FoldAscii(*b)) {
            return false;
        }
    }
    return *a == *b;
}

} // namespace

bool IsLauncherStateFile(const char* path) {
    return path != nullptr && (SameNameIgnoringCase(path, kQuickCheckRecordName) ||
                               SameNameIgnoringCase(path, kUpdateSequenceName));
}
