// Request paths to tree files, checked twice: by their text before opening, and by where
// the opened file really is (symlinks resolved) after.
#include "serve_path.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/hex_digit.h"

namespace {

constexpr size_t kMaxPath = 4096;

bool ParseNumber(const char* begin, const char* end, uint64_t* value) {
    if (begin == end || end - begin > 19) {
        return false;
    }
    uint64_t n = 0;
    for (const char* p = begin; p < end; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
        n = n * 10 + static_cast<uint64_t>(*p - '0');
    }
    *value = n;
    return true;
}

// Where openat2 is missing (kernels before 5.6): the path the descriptor really names.
bool OpenedInside(int fd, const std::string& root, const std::string& top) {
    char base[PATH_MAX];
    if (realpath((root + "/" + top).c_str(), base) == nullptr) {
        return false;
    }
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char opened[PATH_MAX];
    const ssize_t n = readlink(link, opened, sizeof opened - 1);
    if (n <= 0) {
        return false;
    }
    opened[n] = '\0';
    const size_t baseLength = strlen(base);
    return strncmp(opened, base, baseLength) == 0 && opened[baseLength] == '/';
}

} // namespace

bool MapRequestPath(const char* raw, ServedPath* path) {
    std::string decoded;
    for (const char* p = raw; *p != '\0'; ++p) {
        char c = *p;
        if (c == '%') {
            if (HexValue(p[1]) < 0 || HexValue(p[2]) < 0) {
                return false;
            }
            c = static_cast<char>(HexValue(p[1]) * 16 + HexValue(p[2]));
            p += 2;
            if (c == '\0') {
                return false;
            }
        }
        decoded.push_back(c == '\\' ? '/' : c);
        if (decoded.size() > kMaxPath) {
            return false;
        }
    }
    std::string relative;
    std::string top;
    size_t start = 0;
    while (start <= decoded.size()) {
        size_t end = decoded.find('/', start);
        if (end == std::string::npos) {
            end = decoded.size();
        }
        const std::string segment = decoded.substr(start, end - start);
        start = end + 1;
        if (segment.empty()) {
            continue;
        }
        if (segment == "." || segment == "..") {
            return false;
        }
        if (top.empty()) {
            if (segment != "launcher" && segment != "patch" && segment != "downloads") {
                return false;
            }
            top = segment;
        }
        if (!relative.empty()) {
            relative += '/';
        }
        relative += segment;
    }
    if (top.empty() || relative.size() == top.size()) {
        return false; // a folder itself: never listed
    }
    path->Top = top;
    path->Relative = relative;
    return true;
}

int OpenServedFile(const std::string& root, const ServedPath& path) {
    constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    const std::string folder = root + "/" + path.Top;
    const int dir = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        return -1;
    }
    open_how how{};
    how.flags = kFlags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const char* below = path.Relative.c_str() + path.Top.size() + 1;
    int fd = static_cast<int>(syscall(SYS_openat2, dir, below, &how, sizeof how));
    const int openError = errno;
    close(dir);
    if (fd < 0 && openError == ENOSYS) {
        fd = open((folder + "/" + below).c_str(), kFlags);
        if (fd >= 0 && !OpenedInside(fd, root, path.Top)) {
            close(fd);
            fd = -1;
        }
    }
    return fd;
}

RangeResult ParseByteRange(const char* header, uint64_t size, uint64_t* first, uint64_t* length) {
    static const char kUnit[] = "bytes=";
    if (strncmp(header, kUnit, sizeof kUnit - 1) != 0) {
        return RangeResult::Ignored;
    }
    const char* range = header + sizeof kUnit - 1;
    while (*range == ' ') {
        ++range;
    }
    const char* end = range + strlen(range);
    while (end > range && end[-1] == ' ') {
        --end;
    }
    const char* dash =
        static_cast<const char*>(memchr(range, '-', static_cast<size_t>(end - range)));
    if (dash == nullptr || memchr(range, ',', static_cast<size_t>(end - range)) != nullptr) {
        return RangeResult::Ignored;
    }
    uint64_t a = 0;
    uint64_t b = 0;
    if (dash == range) { // the last N bytes
        if (!ParseNumber(dash + 1, end, &b)) {
            return RangeResult::Ignored;
        }
        if (b == 0 || size == 0) {
            return RangeResult::Unsatisfiable;
        }
        *length = b < size ? b : size;
        *first = size - *length;
        return RangeResult::Satisfiable;
    }
    if (!ParseNumber(range, dash, &a)) {
        return RangeResult::Ignored;
    }
    if (dash + 1 == end) {
        b = size - 1;
    } else if (!ParseNumber(dash + 1, end, &b) || b < a) {
        return RangeResult::Ignored;
    }
    if (a >= size) {
        return RangeResult::Unsatisfiable;
    }
    if (b >= size) {
        b = size - 1;
    }
    *first = a;
    *length = b - a + 1;
    return RangeResult::Satisfiable;
}
