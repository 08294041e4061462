// Switching, taking over, rolling back and cleaning up a versioned update tree.
#include "tree_versions.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "publish_files.h"

namespace {

constexpr char kVersionsDir[] = "versions";
constexpr char kCurrentLink[] = "current";
constexpr char kStagePrefix[] = ".new-";
constexpr char kLockName[] = ".qelt-publish.lock";
constexpr char kOldTempSuffix[] = "#qelt-new"; // an older qelt-publish's temporaries

// A link or a swapped-out folder being replaced: TREE/.qelt-<name>-new.
std::string TempBeside(const std::string& tree, const std::string& name) {
    return tree + "/.qelt-" + name + "-new";
}

// "12" -> 12; -1 for anything that is not a plain positive number.
int ParseNumber(const std::string& text) {
    if (text.empty() || text.size() > 9 || text[0] == '0' ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return -1;
    }
    return atoi(text.c_str());
}

std::string LinkTarget(const std::string& path) {
    char target[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    return n < 0 ? std::string() : std::string(target, static_cast<size_t>(n));
}

bool IsServedLink(const std::string& tree, const std::string& folder) {
    return LinkTarget(tree + "/" + folder) == std::string(kCurrentLink) + "/" + folder;
}

bool Fail(std::string* error, const std::string& what) {
    *error = what + ": " + strerror(errno);
    return false;
}

// Puts a new link at path: renamed into place, or exchanged with what is there (which then
// sits at the temporary name and is removed).
bool PlaceLink(const std::string& tree, const std::string& name, const std::string& target,
               bool exchange, std::string* error) {
    const std::string temp = TempBeside(tree, name);
    const std::string path = tree + "/" + name;
    RemoveTree(temp);
    if (symlink(target.c_str(), temp.c_str()) != 0) {
        return Fail(error, "cannot create " + temp);
    }
    const int moved =
        exchange ? renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE)
                 : rename(temp.c_str(), path.c_str());
    if (moved != 0) {
        const bool ok = Fail(error, "cannot put " + path + " in place");
        unlink(temp.c_str());
        return ok;
    }
    if (exchange) {
        RemoveTree(temp);
    }
    return true;
}

} // namespace

std::string VersionDir(const std::string& tree, int number) {
    return tree + "/" + kVersionsDir + "/" + std::to_string(number);
}

int CurrentVersion(const std::string& tree) {
    struct stat st;
    const std::string link = tree + "/" + kCurrentLink;
    if (lstat(link.c_str(), &st) != 0) {
        return errno == ENOENT ? 0 : -1;
    }
    const std::string target = LinkTarget(link);
    const std::string prefix = std::string(kVersionsDir) + "/";
    if (target.compare(0, prefix.size(), prefix) != 0) {
        return -1;
    }
    const int number = ParseNumber(target.substr(prefix.size()));
    return number > 0 && stat(VersionDir(tree, number).c_str(), &st) == 0 && S_ISDIR(st.st_mode)
               ? number
               : -1;
}

bool ServedFoldersAreLinks(const std::string& tree) {
    for (const char* folder : kServedFolders) {
        if (!IsServedLink(tree, folder)) {
            return false;
        }
    }
    return true;
}

bool NeedsTakeOver(const std::string& tree) {
    for (const char* folder : kServedFolders) {
        struct stat st;
        if (lstat((tree + "/" + folder).c_str(), &st) == 0 && !IsServedLink(tree, folder)) {
            return true;
        }
    }
    return false;
}

std::vector<int> VersionNumbers(const std::string& tree) {
    std::vector<int> numbers;
    DIR* d = opendir((tree + "/" + kVersionsDir).c_str());
    if (d == nullptr) {
        return numbers;
    }
    while (dirent* e = readdir(d)) {
        const int number = ParseNumber(e->d_name);
        if (number > 0) {
            numbers.push_back(number);
        }
    }
    closedir(d);
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

bool LockTree(const std::string& tree, bool create, int* fd, std::string* error) {
    *fd = open((tree + "/" + kLockName).c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
    if (*fd < 0) {
        return Fail(error, tree + ": cannot open the lock");
    }
    if (flock(*fd, LOCK_EX | LOCK_NB) != 0) {
        close(*fd);
        *fd = -1;
        *error = tree + ": another qelt-publish is publishing into it";
        return false;
    }
    return true;
}

std::vector<std::string> Leftovers(const std::string& tree, int current) {
    std::vector<std::string> leftovers;
    const std::string versions = tree + "/" + kVersionsDir;
    if (DIR* d = opendir(versions.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name.compare(0, strlen(kStagePrefix), kStagePrefix) == 0 ||
                ParseNumber(name) > current) {
                leftovers.push_back(versions + "/" + name);
            }
        }
        closedir(d);
    }
    leftovers.push_back(TempBeside(tree, kCurrentLink));
    for (const char* folder : kServedFolders) {
        leftovers.push_back(TempBeside(tree, folder));
    }
    return leftovers;
}

std::vector<std::string> Surplus(const std::string& tree, int current, int keep) {
    std::vector<std::string> surplus;
    const std::vector<int> numbers = VersionNumbers(tree);
    int kept = 0;
    for (auto number = numbers.rbegin(); number != numbers.rend(); ++number) {
        if (*number < current && ++kept >= keep) {
            surplus.push_back(VersionDir(tree, *number));
        }
    }
    return surplus;
}

bool MakeStage(const std::string& tree, std::string* stage, std::string* error) {
    std::vector<std::string> made;
    const std::string versions = tree + "/" + kVersionsDir;
    if (!MakeDirs(versions, &made)) {
        return Fail(error, "cannot create " + versions);
    }
    std::string pattern = versions + "/" + kStagePrefix + "XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
        return Fail(error, "cannot create a folder in " + versions);
    }
    chmod(pattern.c_str(), 0755); // served files stay readable to a server of another user
    *stage = pattern;
    return true;
}

bool FinishVersion(const std::string& tree, const std::string& stage,
                   const std::vector<std::string>& dirs, int number, std::string* error) {
    std::vector<std::string> all = dirs;
    all.push_back(stage);
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    std::string failed;
    bool ok = SyncPaths(all, &failed);
    if (!ok) {
        *error = "cannot flush " + failed;
    }
    const std::string target = VersionDir(tree, number);
    ok = ok && (rename(stage.c_str(), target.c_str()) == 0 ||
                Fail(error, "cannot rename " + stage + " to " + target));
    if (!ok) {
        RemoveTree(stage);
        return false;
    }
    if (!SyncPath(tree + "/" + kVersionsDir)) {
        RemoveTree(target);
        return Fail(error, "cannot flush " + tree + "/" + kVersionsDir);
    }
    return true;
}

bool SwitchTo(const std::string& tree, int number, std::string* error) {
    const std::string target = std::string(kVersionsDir) + "/" + std::to_string(number);
    if (!PlaceLink(tree, kCurrentLink, target, false, error)) {
        return false;
    }
    for (const char* folder : kServedFolders) {
        struct stat st;
        if (lstat((tree + "/" + folder).c_str(), &st) != 0 &&
            !PlaceLink(tree, folder, std::string(kCurrentLink) + "/" + folder, false, error)) {
            return false;
        }
    }
    // The version is live whatever happens now; only its surviving a power cut is in doubt.
    if (!SyncPath(tree)) {
        fprintf(stderr, "qelt-publish: warning: cannot flush %s: %s\n", tree.c_str(),
                strerror(errno));
    }
    return true;
}

bool TakeOver(const std::string& tree, int number, std::string* error) {
    std::string stage;
    if (!MakeStage(tree, &stage, error)) {
        return false;
    }
    std::vector<std::string> dirs;
    for (const char* folder : kServedFolders) {
        FileError failure;
        if (!LinkTree(tree + "/" + folder, stage + "/" + folder, kOldTempSuffix, &dirs, &failure)) {
            RemoveTree(stage);
            *error = failure.Text;
            return false;
        }
    }
    if (!FinishVersion(tree, stage, dirs, number, error) || !SwitchTo(tree, number, error)) {
        return false;
    }
    // Each served folder now holds what its version does: exchanging one for its link
    // changes no byte a server sends.
    for (const char* folder : kServedFolders) {
        if (!IsServedLink(tree, folder) &&
            !PlaceLink(tree, folder, std::string(kCurrentLink) + "/" + folder, true, error)) {
            return false;
        }
    }
    return SyncPath(tree) || Fail(error, "cannot flush " + tree);
}
