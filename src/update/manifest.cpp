// Manifest parser.
//
// Wire format, taken as raw bytes in the system code page:
//
//   <checksum> TAB <path> [CR] LF
//
//   * Lines end at LF; a CR alone does not end a line. A final LF adds no line.
//   * Trailing CR and space bytes are trimmed from each line (any mix); nothing else is.
//   * Empty lines, lines whose first byte is '#', and lines without a TAB are skipped.
//   * The line splits at its FIRST TAB. The checksum is read like strtoul(text, 16) on a
//     32-bit unsigned long: leading space/VT/FF/CR, optional sign, optional 0x, hex
//     digits up to the first other byte; no digits give 0, overflow gives 0xFFFFFFFF,
//     '-' negates modulo 2^32. A bad checksum never rejects a line.
//   * The path is everything after the first TAB, up to a NUL byte if one is embedded.
//     It is accepted when, in order: it has at most 200 bytes; LauncherDir + '\' +
//     path + ".part" + NUL fits in MAX_PATH; it does not start with '\' or '/'; it holds
//     no ':'; it holds no "..".
//   * No byte-order mark handling: a BOM is part of the first line.
//
// Example:  0A1B2C3D<TAB>data/player.bmd
#include "update/manifest.h"

#include <cstring>

namespace {

constexpr size_t kMaxPath = 260;

bool IsHexDigit(char c, uint32_t* value) {
    if (c >= '0' && c <= '9') {
        *value = static_cast<uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
        *value = static_cast<uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
        *value = static_cast<uint32_t>(c - 'A' + 10);
    } else {
        return false;
    }
    return true;
}

} // namespace

uint32_t ParseManifestChecksum(const char* text, size_t length) {
    size_t i = 0;
    while (i < length &&
           (text[i] == ' ' || text[i] == '\v' || text[i] == '\f' || text[i] == '\r')) {
        ++i;
    }
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    uint32_t digit = 0;
    if (i + 1 < length && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        i + 2 < length && IsHexDigit(text[i + 2], &digit)) {
        i += 2;
    }
    uint64_t value = 0;
    bool overflow = false;
    for (; i < length && IsHexDigit(text[i], &digit); ++i) {
        value = value * 16 + digit;
        if (value > 0xFFFFFFFFull) {
            overflow = true;
            value = 0xFFFFFFFFull;
        }
    }
    if (overflow) {
        return 0xFFFFFFFFu;
    }
    uint32_t result = static_cast<uint32_t>(value);
    return negative ? 0u - result : result;
}

bool ManifestPathAccepted(const std::string& path, size_t dirLength) {
    if (path.size() > kManifestPathMax) {
        return false;
    }
    // '\' joining folder and path, ".part" of the atomic write, and the terminator.
    if (dirLength + path.size() + 7 >= kMaxPath) {
        return false;
    }
    if (!path.empty() && (path[0] == '\\' || path[0] == '/')) {
        return false;
    }
    if (path.find(':') != std::string::npos) {
        return false;
    }
    return path.find("..") == std::string::npos;
}

std::vector<ManifestEntry> ParseManifest(const void* body, size_t length, const char* launcherDir) {
    std::vector<ManifestEntry> entries;
    const char* text = static_cast<const char*>(body);
    const size_t dirLength = strlen(launcherDir);
    size_t pos = 0;
    while (pos < length) {
        const void* lf = memchr(text + pos, '\n', length - pos);
        size_t end = lf ? static_cast<size_t>(static_cast<const char*>(lf) - text) : length;
        size_t lineStart = pos;
        size_t lineEnd = end;
        pos = end + 1;
        while (lineEnd > lineStart && (text[lineEnd - 1] == '\r' || text[lineEnd - 1] == ' ')) {
            --lineEnd;
        }
        if (lineEnd == lineStart || text[lineStart] == '#') {
            continue;
        }
        const void* tab = memchr(text + lineStart, '\t', lineEnd - lineStart);
        if (!tab) {
            continue;
        }
        size_t tabPos = static_cast<size_t>(static_cast<const char*>(tab) - text);
        const char* pathStart = text + tabPos + 1;
        size_t pathLength = lineEnd - tabPos - 1;
        const void* nul = memchr(pathStart, '\0', pathLength);
        if (nul) {
            pathLength = static_cast<size_t>(static_cast<const char*>(nul) - pathStart);
        }
        std::string path(pathStart, pathLength);
        if (!ManifestPathAccepted(path, dirLength)) {
            continue;
        }
        // The checksum text, like the path, ends at an embedded NUL.
        size_t checksumLength = tabPos - lineStart;
        const void* checksumNul = memchr(text + lineStart, '\0', checksumLength);
        if (checksumNul) {
            checksumLength =
                static_cast<size_t>(static_cast<const char*>(checksumNul) - (text + lineStart));
        }
        entries.push_back(ManifestEntry{std::move(path),
                                        ParseManifestChecksum(text + lineStart, checksumLength)});
    }
    return entries;
}
