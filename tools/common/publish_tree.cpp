// Manifest text and the name rules of the publisher.
#include "publish_tree.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "update/manifest.h"

namespace {

constexpr size_t kMaxPath = 260;    // MAX_PATH, terminator included
constexpr size_t kPathOverhead = 7; // '\' joining folder and path, ".part", terminator

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerAscii(const std::string& text) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return LowerAscii(c); });
    return lower;
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name a device in every folder, with any extension.
bool IsDeviceName(const std::string& component) {
    const std::string base = LowerAscii(component.substr(0, component.find('.')));
    if (base == "con" || base == "prn" || base == "aux" || base == "nul") {
        return true;
    }
    return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

std::string ComponentProblem(const std::string& component) {
    if (component.empty()) {
        return "has an empty folder name";
    }
    if (component.back() == ' ' || component.back() == '.') {
        return "has a name ending in a space or a dot, which Windows drops";
    }
    if (IsDeviceName(component)) {
        return "has a Windows device name (" + component + ")";
    }
    return "";
}

} // namespace

std::string ManifestLine(const PublishedFile& file) {
    char crc[9];
    snprintf(crc, sizeof crc, "%08X", static_cast<unsigned>(file.Crc));
    return std::string(crc) + "\t" + file.Path + "\n";
}

std::string BuildManifest(std::vector<PublishedFile> files) {
    std::sort(files.begin(), files.end(),
              [](const PublishedFile& a, const PublishedFile& b) { return a.Path < b.Path; });
    std::string manifest;
    for (const PublishedFile& file : files) {
        manifest += ManifestLine(file);
    }
    return manifest;
}

std::string PathProblem(const std::string& path) {
    if (path.size() > kManifestPathMax) {
        return "is longer than 200 bytes";
    }
    for (unsigned char c : path) {
        if (c == '\t' || c == '\r' || c == '\n') {
            return "holds a TAB or a line break, which end a manifest line";
        }
        if (c < 0x20 || c == 0x7F) {
            return "holds a control character";
        }
        if (c == ':') {
            return "holds ':'";
        }
        if (c == '\\' || c == '%' || c == '#' || c == '?') {
            return std::string("holds '") + static_cast<char>(c) +
                   "', which the launcher puts into the URL unescaped";
        }
        if (c == '<' || c == '>' || c == '"' || c == '|' || c == '*') {
            return std::string("holds '") + static_cast<char>(c) +
                   "', which Windows refuses in names";
        }
    }
    if (path.find("..") != std::string::npos) {
        return "holds '..'";
    }
    size_t start = 0;
    for (;;) {
        const size_t slash = path.find('/', start);
        const std::string problem = ComponentProblem(path.substr(start, slash - start));
        if (!problem.empty()) {
            return problem;
        }
        if (slash == std::string::npos) {
            break;
        }
        start = slash + 1;
    }
    // The launcher's own rules last, so that it never skips a line the publisher wrote.
    if (!ManifestPathAccepted(path, 0)) {
        return "is refused by the launcher's manifest rules";
    }
    return "";
}

std::vector<std::pair<std::string, std::string>>
CaseCollisions(const std::vector<std::string>& paths) {
    struct Seen {
        std::string Original;
        bool IsFile;
    };
    std::map<std::string, Seen> seen;
    std::set<std::pair<std::string, std::string>> pairs;
    auto note = [&](const std::string& original, bool isFile) {
        auto inserted = seen.emplace(LowerAscii(original), Seen{original, isFile});
        const Seen& other = inserted.first->second;
        // Folders that differ only in case merge into one folder on Windows: harmless.
        if (!inserted.second && other.Original != original && (other.IsFile || isFile)) {
            pairs.emplace(std::min(other.Original, original), std::max(other.Original, original));
        }
    };
    for (const std::string& path : paths) {
        for (size_t slash = path.find('/'); slash != std::string::npos;
             slash = path.find('/', slash + 1)) {
            note(path.substr(0, slash), false);
        }
        note(path, true);
    }
    return std::vector<std::pair<std::string, std::string>>(pairs.begin(), pairs.end());
}

size_t LongestInstallDir(size_t longestPath) {
    // The launcher takes a path when folder + path + overhead < MAX_PATH.
    return longestPath + kPathOverhead >= kMaxPath ? 0 : kMaxPath - 1 - kPathOverhead - longestPath;
}
