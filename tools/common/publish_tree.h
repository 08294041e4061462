// Turning a client folder into an update tree: the manifest text, and which names a launcher
// can fetch through a URL and write on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
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
// it can. Checks the launcher's own manifest rules and what the URL and Windows add to them.
std::string PathProblem(const std::string& path);

// Pairs of paths that name one file on Windows (equal without regard to ASCII case), also
// when one of them is a folder of the other ("Data" and "data/x"). Each pair once.
std::vector<std::pair<std::string, std::string>>
CaseCollisions(const std::vector<std::string>& paths);

// Longest install folder (bytes, without a trailing separator) below which a launcher
// accepts every path of lengths up to longestPath.
size_t LongestInstallDir(size_t longestPath);
