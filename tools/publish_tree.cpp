// Manifest lines for the publisher.
#include "publish_tree.h"

#include <cstdio>

#include "update/manifest.h"

std::string ManifestLine(const PublishedFile& file) {
    char crc[9];
    snprintf(crc, sizeof crc, "%08X", static_cast<unsigned>(file.Crc));
    return std::string(crc) + "\t" + file.Path + "\r\n";
}

std::string PathProblem(const std::string& path, size_t installDirLength) {
    if (path.find('\t') != std::string::npos || path.find('\n') != std::string::npos ||
        path.find('\r') != std::string::npos) {
        return "holds a TAB or line break";
    }
    if (!path.empty() && path.back() == ' ') {
        return "ends in a space, which the manifest trims";
    }
    if (!ManifestPathAccepted(path, installDirLength)) {
        return path.size() > kManifestPathMax ? "longer than 200 bytes"
                                              : "too long below the install folder, or holds "
                                                "':' or '..'";
    }
    return "";
}

std::string BuildManifest(const std::vector<PublishedFile>& files) {
    std::string manifest = "# Qelt update manifest: CRC-32<TAB>path\r\n";
    for (const PublishedFile& file : files) {
        manifest += ManifestLine(file);
    }
    return manifest;
}
