// Request paths to tree files, checked twice: by their text before opening, and by where
// the opened file really is (symlinks resolved) after.
#include "serve_path.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdio>
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

// Whether path (resolved) is base itself or lies below it.
bool Within(const char* path, const char* base) {
    const size_t length = strlen(base);
    return strncmp(path, base, length) == 0 &&
           (path[length] == '/' || path[length] == '\0' || strcmp(base, "/") == 0);
}

// Where openat2 is missing (kernels before 5.6): checks the paths the folder and the
// opened descriptor really name.
int OpenByPath(const std::string& root, const ServedPath& path, int flags) {
    char rootReal[PATH_MAX];
    char topReal[PATH_MAX];
    if (realpath(root.c_str(), rootReal) == nullptr ||
        realpath((root + "/" + path.Top).c_str(), topReal) == nullptr ||
        !Within(topReal, rootReal) || strcmp(topReal, rootReal) == 0) {
        return -1;
    }
    const int fd = open(
        (std::string(topReal) + "/" + path.Relative.substr(path.Top.size() + 1)).c_str(), flags);
    if (fd < 0) {
        return -1;
    }
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char opened[PATH_MAX];
    const ssize_t n = readlink(link, opened, sizeof opened - 1);
    if (n <= 0) {
        close(fd);
        return -1;
    }
    opened[n] = '\0';
    if (!Within(opened, topReal) || strcmp(opened, topReal) == 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// openat2 beneath at: symlinks followed only while they stay below at, never absolute
// ones, never /proc's magic links. -1 with errno set on failure.
int OpenBeneath(int at, const char* name, uint64_t flags) {
    open_how how{};
    how.flags = flags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    return static_cast<int>(syscall(SYS_openat2, at, name, &how, sizeof how));
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
        if (segment[0] == '.') {
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
    const int rootFd = open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0) {
        return -1;
    }
    const int top = OpenBeneath(rootFd, path.Top.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (top < 0) {
        const int error = errno;
        close(rootFd);
        return error == ENOSYS ? OpenByPath(root, path, kFlags) : -1;
    }
    struct stat rootInfo;
    struct stat topInfo;
    // A folder linked to the tree itself would serve the database beside the folders.
    const bool isRoot = fstat(rootFd, &rootInfo) != 0 || fstat(top, &topInfo) != 0 ||
                        (rootInfo.st_dev == topInfo.st_dev && rootInfo.st_ino == topInfo.st_ino);
    close(rootFd);
    if (isRoot) {
        close(top);
        return -1;
    }
    const int fd = OpenBeneath(top, path.Relative.c_str() + path.Top.size() + 1, kFlags);
    close(top);
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
