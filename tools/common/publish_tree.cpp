// Manifest text and the name rules of the publisher.
#include "publish_tree.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cstdio>

#include "common/name_rules.h"
#include "update/manifest.h"

namespace {

constexpr size_t kMaxPath = 260;    // MAX_PATH, terminator included
constexpr size_t kPathOverhead = 7; // '\' joining folder and path, ".part", terminator

// Runs one ICU string function into a buffer that grows until the result fits.
template <typename Convert> bool IcuString(std::u16string* out, Convert convert) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode error = U_ZERO_ERROR;
        const int32_t length = convert(reinterpret_cast<UChar*>(&(*out)[0]),
                                       static_cast<int32_t>(out->size()), &error);
        if (U_SUCCESS(error)) {
            out->resize(static_cast<size_t>(length));
            return true;
        }
        if (error != U_BUFFER_OVERFLOW_ERROR || length <= 0) {
            return false;
        }
        out->resize(static_cast<size_t>(length));
    }
    return false;
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
    const std::string problem = NameProblem(path);
    if (!problem.empty()) {
        return problem;
    }
    // The launcher's own rules last, so that it never skips a line the publisher wrote.
    if (!ManifestPathAccepted(path, 0)) {
        return "is refused by the launcher's manifest rules";
    }
    return "";
}

// Windows compares names by upper-casing each UTF-16 unit with its own table. Unicode's
// folding alone keeps dotless i apart from I, which that upper-casing joins; upper-casing
// first and then folding joins every pair either of them joins (and a few more, such as ß
// and ss, which is the safe side for a name a launcher must keep apart).
std::string WindowsCaseKey(const std::string& path) {
    const int32_t length = static_cast<int32_t>(path.size());
    std::u16string wide(path.size() + 1, u'\0');
    std::u16string upper(3 * path.size() + 1, u'\0');
    std::u16string folded(3 * upper.size() + 1, u'\0');
    if (!IcuString(&wide,
                   [&](UChar* out, int32_t cap, UErrorCode* error) {
                       int32_t n = 0;
                       u_strFromUTF8(out, cap, &n, path.data(), length, error);
                       return n;
                   }) ||
        !IcuString(&upper,
                   [&](UChar* out, int32_t cap, UErrorCode* error) {
                       return u_strToUpper(out, cap, reinterpret_cast<const UChar*>(wide.data()),
                                           static_cast<int32_t>(wide.size()), "", error);
                   }) ||
        !IcuString(&folded, [&](UChar* out, int32_t cap, UErrorCode* error) {
            return u_strFoldCase(out, cap, reinterpret_cast<const UChar*>(upper.data()),
                                 static_cast<int32_t>(upper.size()), U_FOLD_CASE_DEFAULT, error);
        })) {
        return path; // not UTF-8: refused by NameProblem already
    }
    std::string key(4 * folded.size() + 1, '\0');
    UErrorCode error = U_ZERO_ERROR;
    int32_t n = 0;
    u_strToUTF8(&key[0], static_cast<int32_t>(key.size()), &n,
                reinterpret_cast<const UChar*>(folded.data()), static_cast<int32_t>(folded.size()),
                &error);
    if (U_FAILURE(error)) {
        return path;
    }
    key.resize(static_cast<size_t>(n));
    return key;
}

std::vector<std::pair<std::string, std::string>>
CaseCollisions(const std::vector<std::string>& paths) {
    return CaseCollisions(paths, WindowsCaseKey);
}

size_t LongestInstallDir(size_t longestPath) {
    // The launcher takes a path when folder + path + overhead < MAX_PATH.
    return longestPath + kPathOverhead >= kMaxPath ? 0 : kMaxPath - 1 - kPathOverhead - longestPath;
}
