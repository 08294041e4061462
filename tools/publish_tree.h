// Turning a client folder into an update tree: the manifest lines and which paths a
// launcher will accept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PublishedFile {
    std::string Path; // relative, '/' separators
    uint32_t Crc;
};

// One manifest line: eight upper-case hexadecimal digits, a TAB, the path, CR LF.
std::string ManifestLine(const PublishedFile& file);

// Why a launcher would skip this path, or "" when it takes it. installDirLength is the
// length of the longest client folder the operator expects (the launcher refuses paths
// that would not fit MAX_PATH below it).
std::string PathProblem(const std::string& path, size_t installDirLength);

// The whole manifest, in the given order, with a comment header.
std::string BuildManifest(const std::vector<PublishedFile>& files);
