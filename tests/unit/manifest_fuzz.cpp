// libFuzzer entry for the manifest parser: any body must parse without fault, and every
// accepted path must obey the path rules.
#include "update/manifest.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char kDir[] = "C:\\Games\\Qelt";
    for (const ManifestEntry& entry : ParseManifest(data, size, kDir)) {
        if (!ManifestPathAccepted(entry.Path, sizeof kDir - 1) ||
            entry.Path.find('\n') != std::string::npos) {
            abort();
        }
    }
    return 0;
}
