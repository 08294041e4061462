// Turning a client folder into an update tree: the manifest text, and which names a launcher
// can fetch through a URL and write on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct PublishedFile {
    std::string Path; // relative, '/' separators
    uint32_t Crc;
};

// One manifest line: eight upper-case hexadecimal digits, a TAB, the path, LF.
std::string ManifestLine(const PublishedFile& file);

// The whole manifest: the lines sorted byte-wise by path, so that one folder always gives
// the same bytes.
std::string BuildManifest(std::vector<PublishedFile> files);

// Why a launcher could not fetch or write this relative path ('/' separators), or "" when
// it can: the name rules of common/name_rules.h, then the launcher's own manifest rules.
std::string PathProblem(const std::string& path);

// A UTF-8 name with every letter in one case, joining whatever Windows joins: Unicode's
// full upper-casing followed by its default case folding (ICU).
std::string WindowsCaseKey(const std::string& path);

// CaseCollisions of common/name_rules.h under WindowsCaseKey.
std::vector<std::pair<std::string, std::string>>
CaseCollisions(const std::vector<std::string>& paths);

// Longest install folder (bytes, without a trailing separator) below which a launcher
// accepts every path of lengths up to longestPath.
size_t LongestInstallDir(size_t longestPath);
