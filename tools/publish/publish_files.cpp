// The publisher's file operations, on POSIX calls.
#include "publish_files.h"

#include <fcntl.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "common/client_folder.h"
#include "common/signing.h"
#include "common/write_all.h"
#include "crc32/crc32.h"

namespace {

constexpr size_t kPieceSize = 1 << 20;

FileIdentity IdentityOfStat(const struct stat& st) {
    FileIdentity identity;
    identity.Size = static_cast<uint64_t>(st.st_size);
    identity.Inode = static_cast<uint64_t>(st.st_ino);
    identity.MtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return identity;
}

bool Fail(FileError* error, const std::string& text, bool inTree) {
    error->Text = text + ": " + strerror(errno);
    error->InTree = inTree;
    return false;
}

// Removes what the folder open as dir holds, by names relative to it: no path is looked up
// again from the root, and no entry is examined twice.
void RemoveBelow(int dir) {
    DIR* d = fdopendir(dir);
    if (d == nullptr) {
        close(dir);
        return;
    }
    std::vector<std::string> folders;
    while (dirent* e = readdir(d)) {
        const char* name = e->d_name;
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) {
            continue;
        }
        if (e->d_type == DT_DIR || (unlinkat(dir, name, 0) != 0 && errno == EISDIR)) {
            folders.push_back(name);
        }
    }
    for (const std::string& name : folders) {
        const int sub = openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub >= 0) {
            RemoveBelow(sub);
        }
        unlinkat(dir, name.c_str(), AT_REMOVEDIR);
    }
    closedir(d);
}

} // namespace

bool ReadFile(const std::string& src, uint64_t expectedSize, const std::string& dst, uint32_t* crc,
              FileIdentity* written, Progress* progress, FileError* error, unsigned char* sha256) {
    static std::vector<unsigned char> buffer(kPieceSize);
    const int in = open(src.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0) {
        return Fail(error, "cannot open " + src, false);
    }
    int out = -1;
    if (!dst.empty()) {
        out = open(dst.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (out < 0) {
            close(in);
            return Fail(error, "cannot create " + dst, true);
        }
    }
    uint32_t c = 0xFFFFFFFFu;
    Sha256Stream hash;
    uint64_t total = 0;
    bool ok = true;
    for (;;) {
        const ssize_t n = read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ok = n == 0 || Fail(error, "cannot read " + src, false);
            break;
        }
        c = Crc32Update(c, buffer.data(), static_cast<size_t>(n));
        if (sha256 != nullptr) {
            hash.Add(buffer.data(), static_cast<size_t>(n));
        }
        total += static_cast<uint64_t>(n);
        progress->Add(static_cast<uint64_t>(n));
        if (out >= 0 && !WriteAll(out, buffer.data(), static_cast<size_t>(n))) {
            ok = Fail(error, "cannot write " + dst, true);
            break;
        }
    }
    close(in);
    if (ok && total != expectedSize) {
        error->Text = src + ": changed while being read";
        error->InTree = false;
        ok = false;
    }
    if (ok && sha256 != nullptr && !hash.Finish(sha256)) {
        error->Text = src + ": libcrypto could not hash it";
        error->InTree = false;
        ok = false;
    }
    if (out >= 0) {
        struct stat st;
        ok = ok && (fsync(out) == 0 || Fail(error, "cannot flush " + dst, true));
        ok = ok && (fstat(out, &st) == 0 || Fail(error, "cannot examine " + dst, true));
        if (ok && written != nullptr) {
            *written = IdentityOfStat(st);
        }
        ok = (close(out) == 0 || !ok || Fail(error, "cannot write " + dst, true)) && ok;
        if (!ok) {
            unlink(dst.c_str());
        }
    }
    *crc = c ^ 0xFFFFFFFFu;
    return ok;
}

bool WriteTextFile(const std::string& path, const std::string& text, FileError* error) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return Fail(error, "cannot create " + path, true);
    }
    bool ok = WriteAll(fd, text.data(), text.size()) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    return ok || Fail(error, "cannot write " + path, true);
}

bool IdentityOf(const std::string& path, FileIdentity* identity) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    *identity = IdentityOfStat(st);
    return true;
}

bool SyncPath(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

bool SyncPaths(const std::vector<std::string>& paths, std::string* failed) {
    // Flushes wait on the file system's journal rather than the processor: several at once
    // share its commits.
    constexpr size_t kThreads = 4;
    std::atomic<size_t> next{0};
    std::atomic<bool> ok{true};
    std::vector<std::thread> threads;
    std::vector<std::string> failures(kThreads);
    for (size_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (size_t i = next++; i < paths.size() && ok; i = next++) {
                if (!SyncPath(paths[i])) {
                    failures[t] = paths[i] + ": " + strerror(errno);
                    ok = false;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const std::string& failure : failures) {
        if (!failure.empty()) {
            *failed = failure;
        }
    }
    return ok;
}

bool MakeDirs(const std::string& path, std::vector<std::string>* made) {
    // The deepest folder first: one call when it is there already, as it mostly is.
    if (mkdir(path.c_str(), 0755) == 0) {
        made->push_back(path);
        return true;
    }
    if (errno == EEXIST) {
        return true;
    }
    const size_t slash = path.rfind('/');
    if (errno != ENOENT || slash == std::string::npos || slash == 0 ||
        !MakeDirs(path.substr(0, slash), made)) {
        return false;
    }
    if (mkdir(path.c_str(), 0755) != 0) {
        return errno == EEXIST;
    }
    made->push_back(path);
    return true;
}

void RemoveTree(const std::string& path) {
    if (unlink(path.c_str()) == 0 || (errno != EISDIR && errno != EPERM)) {
        return; // a file or link, or nothing
    }
    const int dir = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir >= 0) {
        RemoveBelow(dir);
    }
    rmdir(path.c_str());
}

std::string FolderOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

bool LinkTree(const std::string& src, const std::string& dst, const std::string& skipSuffix,
              std::vector<std::string>* made, FileError* error) {
    if (!MakeDirs(dst, made)) {
        return Fail(error, "cannot create " + dst, true);
    }
    struct stat st;
    if (stat(src.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return true; // nothing served there
    }
    std::vector<ClientEntry> files;
    std::vector<std::string> unreadable; // links and the like are not served files: left out
    ListClientFolder(src, &files, &unreadable);
    Progress quiet;
    quiet.Terminal = false;
    for (const ClientEntry& file : files) {
        const size_t n = file.Path.size();
        if (n >= skipSuffix.size() &&
            file.Path.compare(n - skipSuffix.size(), n, skipSuffix) == 0) {
            continue;
        }
        const std::string from = src + "/" + file.Path;
        const std::string to = dst + "/" + file.Path;
        uint32_t crc = 0;
        if (lstat(to.c_str(), &st) == 0) {
            continue; // dst has its own file of that name
        }
        if (!MakeDirs(FolderOf(to), made)) {
            return Fail(error, "cannot create the folder of " + to, true);
        }
        if (link(from.c_str(), to.c_str()) != 0 &&
            !ReadFile(from, file.Size, to, &crc, nullptr, &quiet, error)) {
            return false;
        }
    }
    return true;
}
