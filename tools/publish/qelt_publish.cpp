// qelt-publish: turns a client folder into the tree an update server serves. Each publish
// builds a complete new version beside the live one and makes it live in one atomic step,
// so a fetching launcher never sees a partial file or a manifest of other files, and a
// publish that fails or is killed leaves the live version as it was (tree_versions.h).
//   TREE/launcher/manifest.txt   CRC-32 and path of every file
//   TREE/patch/<path>            the files themselves
//   TREE/launcher/status         "online" unless it exists (or as --status says)
//   TREE/downloads/Qelt-Data.exe the first-run package (--package)
//   TREE/launcher/files.txt      with --sign: size, CRC-32 and SHA-256 of every file and of
//   TREE/launcher/files.sig      the package, under a sequence number, and its signatures
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "build_version.h"
#include "common/client_folder.h"
#include "common/publish_tree.h"
#include "common/signing.h"
#include "crc32/crc32.h"
#include "live_version.h"
#include "progress.h"
#include "publish.h"
#include "publish_files.h"
#include "rollback.h"
#include "signed_version.h"
#include "tree_versions.h"

namespace {

constexpr char kUsageText[] =
    "usage: qelt-publish CLIENT_DIR TREE_DIR [--package FILE] [--status online|offline]\n"
    "                    [--keep N] [--sign KEYFILE]... [--dry-run]\n"
    "       qelt-publish --rollback TREE_DIR [--sign KEYFILE]...\n"
    "       qelt-publish --keygen KEYFILE\n"
    "\n"
    "Publishes every file of CLIENT_DIR as a new version of TREE_DIR: TREE_DIR/patch/ holds\n"
    "the files, TREE_DIR/launcher/manifest.txt lists them. The version is built complete in\n"
    "TREE_DIR/versions/ beside the live one (unchanged files shared by hard links) and made\n"
    "live in one step; a publish that fails or is killed leaves the live version as it was.\n"
    "An unchanged client makes no new version. --package adds the first-run package (from\n"
    "qelt-pack) as TREE_DIR/downloads/Qelt-Data.exe; without it the live package carries\n"
    "over. --status sets TREE_DIR/launcher/status (otherwise it carries over, \"online\" at\n"
    "first). --keep N keeps at most N versions, the new one included (2 or more, default\n"
    "3); older ones are removed while the new one is built. --dry-run prints what would be\n"
    "added, changed and removed and writes nothing. The launcher's own state files at the\n"
    "top of the client (qelt-check.dat, qelt-sequence.dat) are left out.\n"
    "--rollback makes the version before the live one live again and removes the live one.\n"
    "--keygen writes a new signing key to KEYFILE (mode 0600, never over a file) and prints\n"
    "the UpdateKey= line for Launcher.ini. --sign adds the signed list a launcher with that\n"
    "UpdateKey requires (launcher/files.txt, launcher/files.sig), under a sequence number\n"
    "higher than any before in the tree; give it twice (old and new key) while the key\n"
    "changes. A signed tree is rolled back with --sign: the previous version's files go live\n"
    "again as a new version under a new sequence number.\n"
    "\n"
    "Exit codes:\n"
    "  0  published (or nothing to change), or rolled back\n"
    "  1  refused, nothing served changed: folders overlap, client missing, empty or\n"
    "     unreadable, names a launcher cannot fetch (each is named on standard error), a\n"
    "     key file that cannot be made or read, a live signed list that cannot be read, or\n"
    "     no earlier version to roll back to (or none signed by the keys given)\n"
    "  2  usage error\n"
    "  3  writing the tree failed; the live version is unchanged\n";

constexpr char kPackageServed[] = "downloads/Qelt-Data.exe";

bool ParseOptions(int argc, char** argv, Options* options) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--dry-run" || arg == "--rollback") {
            (arg == "--dry-run" ? options->DryRun : options->Rollback) = true;
        } else if ((arg == "--package" || arg == "--status" || arg == "--keygen") && i + 1 < argc) {
            (arg == "--package"  ? options->Package
             : arg == "--status" ? options->Status
                                 : options->Keygen) = argv[++i];
        } else if (arg == "--sign" && i + 1 < argc) {
            options->Sign.push_back(argv[++i]);
        } else if (arg == "--keep" && i + 1 < argc) {
            const std::string value = argv[++i];
            options->Keep =
                value.size() <= 4 && value.find_first_not_of("0123456789") == std::string::npos
                    ? atoi(value.c_str())
                    : 0;
            if (options->Keep < 2) {
                return false;
            }
        } else if (arg.compare(0, 2, "--") == 0) {
            return false;
        } else {
            positional.push_back(arg);
        }
    }
    if (!options->Keygen.empty()) {
        return positional.empty() && !options->Rollback && !options->DryRun &&
               options->Package.empty() && options->Status.empty() && options->Sign.empty();
    }
    if (options->Sign.size() > kSignaturesMaxLines) {
        return false;
    }
    if (options->Rollback) {
        options->Tree = positional.size() == 1 ? positional[0] : "";
        return !options->Tree.empty() && !options->DryRun && options->Package.empty() &&
               options->Status.empty();
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

// The files of the new version, in the order they are read; names refused are in problems.
std::vector<VersionFile> CollectFiles(const Options& options, const std::string& client,
                                      std::vector<std::string>* problems) {
    std::vector<ClientEntry> entries;
    ListClientFolder(client, &entries, problems);
    for (const std::string& path : TakeOutLauncherStateFiles(&entries)) {
        fprintf(stderr, "qelt-publish: leaving out %s: the launcher's own state file\n",
                path.c_str());
    }
    std::vector<VersionFile> files;
    std::vector<std::string> paths;
    for (const ClientEntry& entry : entries) {
        const std::string problem = PathProblem(entry.Path);
        if (!problem.empty()) {
            problems->push_back(entry.Path + ": " + problem);
        }
        VersionFile file;
        file.Source = client + "/" + entry.Path;
        file.Served = "patch/" + entry.Path;
        file.ManifestPath = entry.Path;
        file.Size = entry.Size;
        files.push_back(file);
        paths.push_back(entry.Path);
    }
    for (const auto& pair : CaseCollisions(paths)) {
        problems->push_back(pair.first + " and " + pair.second + ": one file on Windows");
    }
    if (files.empty() && problems->empty()) {
        problems->push_back(client + ": the client folder holds no file");
    }
    if (!options.Package.empty()) {
        struct stat st;
        if (stat(options.Package.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            problems->push_back(options.Package + ": no such package file");
        } else {
            VersionFile package;
            package.Source = options.Package;
            package.Served = kPackageServed;
            package.Size = static_cast<uint64_t>(st.st_size);
            files.push_back(package);
        }
    }
    return files;
}

// Removes paths in a thread of its own; joined at the latest when it goes.
struct Remover {
    std::thread Thread;
    void Start(std::vector<std::string> paths) {
        Thread = std::thread([paths] {
            for (const std::string& path : paths) {
                RemoveTree(path);
            }
        });
    }
    void Join() {
        if (Thread.joinable()) {
            Thread.join();
        }
    }
    ~Remover() { Join(); }
};

void PrintDryRun(const std::vector<VersionFile>& files, const BuildResult& result) {
    for (const VersionFile& file : files) {
        if (!file.ManifestPath.empty() && !file.InLive) {
            printf("%s %s\n", file.Listed ? "changed" : "added  ", file.ManifestPath.c_str());
        }
    }
    for (const std::string& path : result.Removed) {
        printf("removed %s\n", path.c_str());
    }
    printf("dry run: %zu files, %zu added, %zu changed, %zu removed; nothing written\n",
           result.Added + result.Changed + result.Unchanged, result.Added, result.Changed,
           result.Removed.size());
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
    if (!options.Keygen.empty()) {
        std::string error;
        SigningKey key = GenerateSigningKey(options.Keygen, &error);
        if (!key) {
            fprintf(stderr, "qelt-publish: %s\n", error.c_str());
            return kRefused;
        }
        printf("%s\n", UpdateKeyLine(key.get()).c_str());
        return kPublished;
    }
    std::vector<SigningKey> loaded;
    Signing signing;
    for (const std::string& path : options.Sign) {
        std::string error;
        loaded.push_back(LoadSigningKey(path, &error));
        if (!loaded.back()) {
            return Refuse({error});
        }
        signing.Keys.push_back(loaded.back().get());
    }
    if (options.Rollback) {
        return RollBack(RealPathOf(options.Tree), signing.Keys);
    }
    BuildCrc32Table();

    // Where the tree is written must never be where the client is read, either way round:
    // publishing TREE/patch into TREE would read the files being replaced.
    struct stat st;
    if (stat(options.Client.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return Refuse({options.Client + ": no such client folder"});
    }
    const std::string client = RealPathOf(options.Client);
    const std::string tree = RealPathOf(options.Tree);
    if (Within(client, tree) || Within(tree, client)) {
        return Refuse({"the client folder " + client + " and the tree " + tree + " overlap"});
    }
    std::vector<std::string> problems;
    std::vector<VersionFile> files = CollectFiles(options, client, &problems);
    if (!problems.empty()) {
        return Refuse(problems);
    }

    // One publish at a time per tree. A refusal after this point takes back a tree folder
    // it made, lock file included.
    std::vector<std::string> treeDirs;
    int lock = -1;
    std::string error;
    if (!options.DryRun && (!MakeDirs(tree, &treeDirs) || !LockTree(tree, true, &lock, &error))) {
        return Refuse(
            {error.empty() ? tree + ": cannot create the tree: " + strerror(errno) : error});
    }
    struct LockHolder {
        int Fd;
        ~LockHolder() {
            if (Fd >= 0) {
                close(Fd);
            }
        }
    } lockHolder{lock};
    auto forgetNewTree = [&]() {
        if (!treeDirs.empty()) {
            RemoveTree(treeDirs.front());
        }
    };

    LiveVersion live;
    uint64_t issued = 0;
    if (!ReadLiveVersion(tree, &live, &error) ||
        (!signing.Keys.empty() && !IssuedSequence(tree, live, &issued, &error))) {
        forgetNewTree();
        return Refuse({error});
    }
    signing.Sequence = issued + 1;
    const bool signs = !signing.Keys.empty() && !options.DryRun;
    if (signing.Keys.empty() && live.HasList) {
        fprintf(stderr, "qelt-publish: warning: the live version is signed and this one is not: "
                        "launchers with an UpdateKey will keep their files until a signed "
                        "publish\n");
    }
    // What killed publishes left goes while the client is read (removing waits on the disk,
    // reading mostly on the processor).
    Remover leftovers;
    if (!options.DryRun) {
        leftovers.Start(Leftovers(tree, live.Number));
    }
    Progress progress;
    progress.FileCount = files.size();
    for (const VersionFile& file : files) {
        progress.TotalBytes += file.Size;
    }
    BuildResult result;
    const int built =
        BuildVersion(options, live, signs ? &signing : nullptr, &files, &progress, &result);
    progress.End();
    if (built != kPublished) {
        forgetNewTree();
        return built == kRefused ? Refuse({result.Error}) : WriteFailed(result.Error);
    }
    if (options.DryRun) {
        PrintDryRun(files, result);
        return kPublished;
    }

    leftovers.Join();
    int number = live.Number;
    if (!result.Same) {
        const std::vector<int> numbers = VersionNumbers(tree);
        number = (numbers.empty() ? 0 : numbers.back()) + 1;
        if (NeedsTakeOver(tree)) {
            if (!TakeOver(tree, number, &error)) {
                RemoveTree(result.Stage);
                return WriteFailed(error);
            }
            printf("took over %s from an older qelt-publish: version %d holds what it served\n",
                   tree.c_str(), number);
            ++number;
        }
        if (!FinishVersion(tree, result.Stage, result.Dirs, number, &error)) {
            return WriteFailed(error);
        }
        // Issued before it can be served: a number is never handed out twice.
        if (signs && !RecordIssuedSequence(tree, signing.Sequence, &error)) {
            RemoveTree(VersionDir(tree, number));
            return WriteFailed(error);
        }
        if (!SwitchTo(tree, number, &error)) {
            if (CurrentVersion(tree) != number) {
                RemoveTree(VersionDir(tree, number));
            }
            return WriteFailed(error);
        }
    }

    size_t longestPath = 0;
    for (const VersionFile& file : files) {
        longestPath = std::max(longestPath, file.ManifestPath.size());
    }
    printf("published %zu files to %s: %zu added, %zu changed, %zu removed, %zu unchanged; "
           "version %d %s; %.1f MB read in %.2f s (%.0f MB/s)\n",
           result.Added + result.Changed + result.Unchanged, tree.c_str(), result.Added,
           result.Changed, result.Removed.size(), result.Unchanged, number,
           result.Same ? "stays live (nothing changed)" : "is live",
           static_cast<double>(progress.Bytes) / 1e6, progress.Seconds(),
           progress.MegabytesPerSecond());
    if (signs) {
        printf(
            "signed list: sequence %llu, %zu signature%s\n",
            static_cast<unsigned long long>(result.Same ? live.Signed.Sequence : signing.Sequence),
            signing.Keys.size(), signing.Keys.size() == 1 ? "" : "s");
    }
    const size_t longestDir = LongestInstallDir(longestPath);
    printf("longest install folder a launcher can use: %zu bytes\n", longestDir);
    if (longestDir < 100) {
        fprintf(stderr,
                "qelt-publish: warning: a path of %zu bytes leaves only %zu bytes for the install "
                "folder; players with a longer folder will not get it\n",
                longestPath, longestDir);
    }
    return kPublished;
}
