// qelt-publish: turns a client folder into the tree an update server serves, without ever
// showing a fetching launcher a partial file or manifest:
//   TREE/launcher/manifest.txt   CRC-32 and path of every file
//   TREE/patch/<path>            the files themselves
//   TREE/launcher/status         "online" unless it exists (or as --status says)
//   TREE/downloads/Qelt-Data.exe the first-run package (--package)
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "common/client_folder.h"
#include "crc32/crc32.h"
#include "common/publish_tree.h"
#include "update/manifest.h"

namespace {

enum ExitCode { kPublished = 0, kRefused = 1, kUsage = 2, kWriteFailed = 3 };

constexpr char kUsageText[] =
    "usage: qelt-publish CLIENT_DIR TREE_DIR [--package FILE] [--status online|offline] "
    "[--dry-run]\n"
    "\n"
    "Publishes every file of CLIENT_DIR into TREE_DIR/patch/ and writes\n"
    "TREE_DIR/launcher/manifest.txt. Changed files are replaced whole, by rename, before the\n"
    "new manifest; files that left the client are removed after it. --package copies the\n"
    "first-run package (from qelt-pack) to TREE_DIR/downloads/Qelt-Data.exe. --status writes\n"
    "TREE_DIR/launcher/status (by default \"online\" when it is missing). --dry-run prints\n"
    "what would be added, changed and removed and writes nothing.\n"
    "\n"
    "Exit codes:\n"
    "  0  published (or nothing to change)\n"
    "  1  refused, nothing written: folders overlap, client missing, empty or unreadable,\n"
    "     or names a launcher cannot fetch (each is named on standard error)\n"
    "  2  usage error\n"
    "  3  writing the tree failed; the previous manifest is still the one served\n";

constexpr size_t kPieceSize = 1 << 20;
constexpr char kTempSuffix[] = "#qelt-new"; // '#' is never in a published name

struct Options {
    std::string Client;
    std::string Tree;
    std::string Package;
    std::string Status;
    bool DryRun = false;
};

struct ClientFile {
    std::string Path; // relative, '/' separators
    uint64_t Size = 0;
    uint32_t Crc = 0;
    bool Copied = false; // a temporary copy waits in the tree
    enum { Unchanged, Added, Changed } Change = Added;
};

double Now() {
    timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

// Progress of the reading, as one rewritten line when standard error is a terminal.
struct Progress {
    bool Terminal = isatty(STDERR_FILENO) != 0;
    size_t Files = 0;
    size_t FileCount = 0;
    uint64_t Bytes = 0;
    uint64_t TotalBytes = 0;
    double Start = Now();
    double LastShown = 0;

    void Add(uint64_t bytes) {
        Bytes += bytes;
        const double now = Now();
        if (Terminal && now - LastShown >= 0.2) {
            LastShown = now;
            Show(now);
        }
    }
    void Show(double now) const {
        fprintf(stderr, "\r%zu/%zu files, %.1f/%.1f MB, %.0f MB/s   ", Files, FileCount,
                static_cast<double>(Bytes) / 1e6, static_cast<double>(TotalBytes) / 1e6,
                static_cast<double>(Bytes) / 1e6 / (now - Start > 1e-6 ? now - Start : 1e-6));
    }
    void End() const {
        if (Terminal) {
            Show(Now());
            fputc('\n', stderr);
        }
    }
};

bool ParseOptions(int argc, char** argv, Options* options) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--dry-run") {
            options->DryRun = true;
        } else if ((arg == "--package" || arg == "--status") && i + 1 < argc) {
            (arg == "--package" ? options->Package : options->Status) = argv[++i];
        } else if (arg.compare(0, 2, "--") == 0) {
            return false;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2 ||
        !(options->Status.empty() || options->Status == "online" || options->Status == "offline")) {
        return false;
    }
    options->Client = positional[0];
    options->Tree = positional[1];
    return true;
}

// The real path of a folder that may not exist yet: its nearest existing ancestor resolved,
// the rest appended.
std::string RealPathOf(const std::string& path) {
    std::string head = path;
    std::string tail;
    for (;;) {
        char resolved[PATH_MAX];
        if (realpath(head.empty() ? "." : head.c_str(), resolved) != nullptr) {
            std::string result = resolved;
            return tail.empty() ? result : (result == "/" ? "" : result) + "/" + tail;
        }
        while (head.size() > 1 && head.back() == '/') {
            head.pop_back();
        }
        const size_t slash = head.rfind('/');
        const std::string name = head.substr(slash == std::string::npos ? 0 : slash + 1);
        tail = tail.empty() ? name : name + "/" + tail;
        if (slash == std::string::npos) {
            head.clear();
        } else {
            head.erase(slash == 0 ? 1 : slash);
        }
    }
}

bool Within(const std::string& inner, const std::string& outer) {
    return inner == outer || outer == "/" ||
           (inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
            inner[outer.size()] == '/');
}

bool WriteAll(int fd, const unsigned char* data, size_t length) {
    while (length > 0) {
        const ssize_t n = write(fd, data, length);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// Reads src whole, in pieces, computing its CRC-32; copies it to dst (created, flushed to
// disk) unless dst is empty. Fails when the file cannot be read, or does not have the
// expected size (it changed while being read).
bool ReadFile(const std::string& src, uint64_t expectedSize, const std::string& dst, uint32_t* crc,
              Progress* progress, std::string* error) {
    static std::vector<unsigned char> buffer(kPieceSize);
    const int in = open(src.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0) {
        *error = std::string("cannot open: ") + strerror(errno);
        return false;
    }
    int out = -1;
    if (!dst.empty()) {
        out = open(dst.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (out < 0) {
            *error = "cannot create " + dst + ": " + strerror(errno);
            close(in);
            return false;
        }
    }
    uint32_t c = 0xFFFFFFFFu;
    uint64_t total = 0;
    bool ok = true;
    for (;;) {
        const ssize_t n = read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            *error = std::string("cannot read: ") + strerror(errno);
            ok = false;
            break;
        }
        if (n == 0) {
            break;
        }
        c = Crc32Update(c, buffer.data(), static_cast<size_t>(n));
        total += static_cast<uint64_t>(n);
        progress->Add(static_cast<uint64_t>(n));
        if (out >= 0 && !WriteAll(out, buffer.data(), static_cast<size_t>(n))) {
            *error = "cannot write " + dst + ": " + strerror(errno);
            ok = false;
            break;
        }
    }
    close(in);
    if (ok && total != expectedSize) {
        *error = "changed while being read";
        ok = false;
    }
    if (out >= 0) {
        if (ok && fsync(out) != 0) {
            *error = "cannot flush " + dst + ": " + strerror(errno);
            ok = false;
        }
        if (close(out) != 0 && ok) {
            *error = "cannot write " + dst + ": " + strerror(errno);
            ok = false;
        }
        if (!ok) {
            unlink(dst.c_str());
        }
    }
    *crc = c ^ 0xFFFFFFFFu;
    return ok;
}

bool SyncFolder(const std::string& dir) {
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

std::string FolderOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

// Creates a folder and its parents; remembers each one it made, for the clean-up of a
// refused publish.
bool MakeDirs(const std::string& path, std::vector<std::string>* made) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            const std::string part = path.substr(0, i);
            if (mkdir(part.c_str(), 0755) == 0) {
                made->push_back(part);
            } else if (errno != EEXIST) {
                return false;
            }
        }
    }
    return true;
}

// Writes text to path through a flushed temporary and a rename.
bool ReplaceWithText(const std::string& path, const std::string& text) {
    const std::string temp = path + kTempSuffix;
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    bool ok = WriteAll(fd, reinterpret_cast<const unsigned char*>(text.data()), text.size()) &&
              fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        unlink(temp.c_str());
        return false;
    }
    return SyncFolder(FolderOf(path));
}

// The manifest in force: its bytes, and the CRC-32 it lists for each path.
std::map<std::string, uint32_t> ReadManifest(const std::string& path, std::string* body) {
    std::map<std::string, uint32_t> entries;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return entries;
    }
    char piece[65536];
    size_t n = 0;
    while ((n = fread(piece, 1, sizeof piece, f)) > 0) {
        body->append(piece, n);
    }
    fclose(f);
    for (const ManifestEntry& entry : ParseManifest(body->data(), body->size(), "")) {
        entries[entry.Path] = entry.Crc;
    }
    return entries;
}

int Refuse(const std::vector<std::string>& problems) {
    for (const std::string& problem : problems) {
        fprintf(stderr, "qelt-publish: %s\n", problem.c_str());
    }
    fprintf(stderr, "qelt-publish: refused, nothing was written\n");
    return kRefused;
}

// Undoes what a refused publish wrote: its temporaries and the folders it made.
void Discard(const std::vector<ClientFile>& files, const std::string& patchDir,
             const std::string& packageTemp, const std::vector<std::string>& madeDirs) {
    for (const ClientFile& file : files) {
        if (file.Copied) {
            unlink((patchDir + "/" + file.Path + kTempSuffix).c_str());
        }
    }
    if (!packageTemp.empty()) {
        unlink(packageTemp.c_str());
    }
    for (auto dir = madeDirs.rbegin(); dir != madeDirs.rend(); ++dir) {
        rmdir(dir->c_str());
    }
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            fputs(kUsageText, stdout);
            return kPublished;
        }
    }
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        fputs(kUsageText, stderr);
        return kUsage;
    }
    BuildCrc32Table();

    // Where the tree is written must never be where the client is read, either way round:
    // publishing TREE/patch into TREE would truncate each file while reading it.
    struct stat st;
    if (stat(options.Client.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return Refuse({options.Client + ": no such client folder"});
    }
    const std::string client = RealPathOf(options.Client);
    const std::string tree = RealPathOf(options.Tree);
    if (Within(client, tree) || Within(tree, client)) {
        return Refuse({"the client folder " + client + " and the tree " + tree + " overlap"});
    }

    std::vector<ClientEntry> entries;
    std::vector<std::string> problems;
    ListClientFolder(client, &entries, &problems);
    std::vector<ClientFile> files;
    for (const ClientEntry& entry : entries) {
        ClientFile file;
        file.Path = entry.Path;
        file.Size = entry.Size;
        files.push_back(file);
    }
    std::vector<std::string> paths;
    size_t longestPath = 0;
    uint64_t totalBytes = 0;
    for (const ClientFile& file : files) {
        const std::string problem = PathProblem(file.Path);
        if (!problem.empty()) {
            problems.push_back(file.Path + ": " + problem);
        }
        paths.push_back(file.Path);
        longestPath = std::max(longestPath, file.Path.size());
        totalBytes += file.Size;
    }
    for (const auto& pair : CaseCollisions(paths)) {
        problems.push_back(pair.first + " and " + pair.second + ": one file on Windows");
    }
    if (files.empty() && problems.empty()) {
        problems.push_back(client + ": the client folder holds no file");
    }
    uint64_t packageSize = 0;
    if (!options.Package.empty()) {
        if (stat(options.Package.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            problems.push_back(options.Package + ": no such package file");
        } else {
            packageSize = static_cast<uint64_t>(st.st_size);
        }
    }
    if (!problems.empty()) {
        return Refuse(problems);
    }

    // One publish at a time per tree: two interleaved ones could pair one's manifest with
    // the other's files.
    std::vector<std::string> treeDirs;
    int lock = -1;
    if (!options.DryRun) {
        if (!MakeDirs(tree, &treeDirs) || (lock = open((tree + "/.qelt-publish.lock").c_str(),
                                                       O_RDWR | O_CREAT | O_CLOEXEC, 0644)) < 0) {
            return Refuse({tree + ": cannot create the tree: " + strerror(errno)});
        }
        if (flock(lock, LOCK_EX | LOCK_NB) != 0) {
            close(lock);
            return Refuse({tree + ": another qelt-publish is publishing into it"});
        }
    }
    struct LockHolder {
        int Fd;
        ~LockHolder() {
            if (Fd >= 0) {
                close(Fd);
            }
        }
    } lockHolder{lock};
    // A refusal after this point takes back a tree folder it made, lock file included.
    auto forgetNewTree = [&]() {
        if (!treeDirs.empty()) {
            unlink((tree + "/.qelt-publish.lock").c_str());
            for (auto dir = treeDirs.rbegin(); dir != treeDirs.rend(); ++dir) {
                rmdir(dir->c_str());
            }
        }
    };

    const std::string patchDir = tree + "/patch";
    const std::string manifestPath = tree + "/launcher/manifest.txt";
    std::string previousManifest;
    const std::map<std::string, uint32_t> previous = ReadManifest(manifestPath, &previousManifest);

    // Read every file once; a file that may be unchanged (listed, with a patch copy of the
    // same size) is only checksummed, every other one is copied to a temporary beside its
    // target while it is checksummed. Nothing a launcher fetches changes yet.
    Progress progress;
    progress.FileCount = files.size();
    progress.TotalBytes = totalBytes;
    std::vector<std::string> madeDirs;
    std::string packageTemp;
    for (ClientFile& file : files) {
        const std::string source = client + "/" + file.Path;
        const std::string target = patchDir + "/" + file.Path;
        const auto listed = previous.find(file.Path);
        struct stat published;
        const bool samePlace = listed != previous.end() && lstat(target.c_str(), &published) == 0 &&
                               S_ISREG(published.st_mode) &&
                               static_cast<uint64_t>(published.st_size) == file.Size;
        std::string error;
        bool ok = true;
        if (samePlace || options.DryRun) {
            ok = ReadFile(source, file.Size, "", &file.Crc, &progress, &error);
            file.Change = listed == previous.end()                  ? ClientFile::Added
                          : samePlace && file.Crc == listed->second ? ClientFile::Unchanged
                                                                    : ClientFile::Changed;
        }
        if (ok && !options.DryRun && file.Change != ClientFile::Unchanged) {
            if (!MakeDirs(FolderOf(target), &madeDirs)) {
                error = "cannot create the folder for " + target + ": " + strerror(errno);
                ok = false;
            } else {
                file.Copied = true;
                ok =
                    ReadFile(source, file.Size, target + kTempSuffix, &file.Crc, &progress, &error);
                file.Copied = ok;
                if (!samePlace) {
                    file.Change =
                        listed == previous.end() ? ClientFile::Added : ClientFile::Changed;
                }
            }
        }
        ++progress.Files;
        if (!ok) {
            progress.End();
            Discard(files, patchDir, packageTemp, madeDirs);
            forgetNewTree();
            return Refuse({file.Path + ": " + error});
        }
    }
    if (!options.Package.empty() && !options.DryRun) {
        uint32_t crc = 0;
        std::string error;
        packageTemp = tree + "/downloads/Qelt-Data.exe" + kTempSuffix;
        if (!MakeDirs(tree + "/downloads", &madeDirs) ||
            !ReadFile(options.Package, packageSize, packageTemp, &crc, &progress, &error)) {
            progress.End();
            Discard(files, patchDir, packageTemp, madeDirs);
            forgetNewTree();
            return Refuse({options.Package + ": " + (error.empty() ? strerror(errno) : error)});
        }
    }
    progress.End();

    std::map<std::string, bool> inClient;
    std::vector<PublishedFile> published;
    size_t added = 0;
    size_t changed = 0;
    for (const ClientFile& file : files) {
        inClient[file.Path] = true;
        published.push_back(PublishedFile{file.Path, file.Crc});
        added += file.Change == ClientFile::Added;
        changed += file.Change == ClientFile::Changed;
        if (options.DryRun && file.Change != ClientFile::Unchanged) {
            printf("%s %s\n", file.Change == ClientFile::Added ? "added  " : "changed",
                   file.Path.c_str());
        }
    }
    std::vector<std::string> removed;
    for (const auto& entry : previous) {
        if (inClient.find(entry.first) == inClient.end()) {
            removed.push_back(entry.first);
            if (options.DryRun) {
                printf("removed %s\n", entry.first.c_str());
            }
        }
    }
    const size_t longestDir = LongestInstallDir(longestPath);
    const double seconds = Now() - progress.Start;
    const double rate =
        static_cast<double>(progress.Bytes) / 1e6 / (seconds > 1e-6 ? seconds : 1e-6);
    if (options.DryRun) {
        printf("dry run: %zu files, %zu added, %zu changed, %zu removed; nothing written\n",
               files.size(), added, changed, removed.size());
        return kPublished;
    }

    // Each new version replaces the old one whole, by rename; the folders are flushed so
    // that a power cut cannot lose a rename the manifest below relies on.
    std::map<std::string, bool> touched;
    for (ClientFile& file : files) {
        if (!file.Copied) {
            continue;
        }
        const std::string target = patchDir + "/" + file.Path;
        if (rename((target + kTempSuffix).c_str(), target.c_str()) != 0) {
            fprintf(stderr, "qelt-publish: cannot replace %s: %s\n", target.c_str(),
                    strerror(errno));
            Discard(files, patchDir, packageTemp, {});
            return kWriteFailed;
        }
        file.Copied = false;
        touched[FolderOf(target)] = true;
    }
    if (!packageTemp.empty()) {
        const std::string target = tree + "/downloads/Qelt-Data.exe";
        if (rename(packageTemp.c_str(), target.c_str()) != 0) {
            fprintf(stderr, "qelt-publish: cannot replace %s: %s\n", target.c_str(),
                    strerror(errno));
            unlink(packageTemp.c_str());
            return kWriteFailed;
        }
        touched[tree + "/downloads"] = true;
    }
    for (const auto& dir : touched) {
        if (!SyncFolder(dir.first)) {
            fprintf(stderr, "qelt-publish: cannot flush %s: %s\n", dir.first.c_str(),
                    strerror(errno));
            return kWriteFailed;
        }
    }
    // An unchanged manifest is left alone: nothing in the tree moves for an unchanged client.
    std::vector<std::string> ignored;
    const std::string statusPath = tree + "/launcher/status";
    const std::string manifest = BuildManifest(published);
    if (!MakeDirs(tree + "/launcher", &ignored) ||
        (manifest != previousManifest && !ReplaceWithText(manifestPath, manifest)) ||
        ((!options.Status.empty() || access(statusPath.c_str(), F_OK) != 0) &&
         !ReplaceWithText(statusPath, options.Status.empty() ? "online" : options.Status))) {
        fprintf(stderr, "qelt-publish: cannot write %s: %s\n", manifestPath.c_str(),
                strerror(errno));
        return kWriteFailed;
    }

    // Only now, with no manifest listing them any more, can old files go.
    for (const std::string& path : removed) {
        std::string target = patchDir + "/" + path;
        unlink(target.c_str());
        for (target = FolderOf(target);
             target.size() > patchDir.size() && rmdir(target.c_str()) == 0;
             target = FolderOf(target)) {
        }
    }

    printf("published %zu files to %s: %zu added, %zu changed, %zu removed, %zu unchanged; "
           "%.1f MB read in %.2f s (%.0f MB/s)\n",
           files.size(), tree.c_str(), added, changed, removed.size(),
           files.size() - added - changed, static_cast<double>(progress.Bytes) / 1e6, seconds,
           rate);
    printf("longest install folder a launcher can use: %zu bytes\n", longestDir);
    if (longestDir < 100) {
        fprintf(stderr,
                "qelt-publish: warning: a path of %zu bytes leaves only %zu bytes for the install "
                "folder; players with a longer folder will not get it\n",
                longestPath, longestDir);
    }
    return kPublished;
}
