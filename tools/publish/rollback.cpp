// qelt-publish --rollback: the previous version live again, in the same one step as a
// publish; a signed tree under a new, higher sequence number.
#include "rollback.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "live_version.h"
#include "publish_files.h"
#include "signed_version.h"
#include "tree_versions.h"

namespace {

// A signed tree goes back under a new, higher sequence number (a launcher refuses a lower
// one): a new version of links to the previous one's files, with its list signed again.
int RollBackSigned(const std::string& tree, const LiveVersion& live, int current, int previous,
                   const std::vector<EVP_PKEY*>& keys) {
    std::string error;
    uint64_t highest = 0;
    if (!IssuedSequence(tree, live, &highest, &error)) {
        return Refuse({error});
    }
    const int number = VersionNumbers(tree).back() + 1;
    const int made = MakeResignedVersion(tree, previous, number, highest + 1, keys, &error);
    if (made != kPublished) {
        return made == kRefused ? Refuse({error}) : WriteFailed(error);
    }
    if (!RecordIssuedSequence(tree, highest + 1, &error) || !SwitchTo(tree, number, &error)) {
        if (CurrentVersion(tree) != number) {
            RemoveTree(VersionDir(tree, number));
        }
        return WriteFailed(error);
    }
    RemoveTree(VersionDir(tree, current));
    RemoveTree(VersionDir(tree, previous));
    printf("rolled back %s: the files of version %d are live again as version %d, signed list "
           "sequence %llu; versions %d and %d removed\n",
           tree.c_str(), previous, number, static_cast<unsigned long long>(highest + 1), previous,
           current);
    return kPublished;
}

} // namespace

int RollBack(const std::string& tree, const std::vector<EVP_PKEY*>& keys) {
    int lock = -1;
    std::string error;
    if (!LockTree(tree, false, &lock, &error)) {
        return Refuse({error});
    }
    struct LockHolder {
        int Fd;
        ~LockHolder() { close(Fd); }
    } lockHolder{lock};
    const int current = CurrentVersion(tree);
    int previous = 0;
    if (current > 0 && ServedFoldersAreLinks(tree)) {
        for (const std::string& path : Leftovers(tree, current)) {
            RemoveTree(path);
        }
        for (int number : VersionNumbers(tree)) {
            previous = number < current ? number : previous;
        }
    }
    if (previous == 0) {
        return Refuse({tree + ": no earlier version to go back to"});
    }
    LiveVersion live;
    if (!ReadLiveVersion(tree, &live, &error)) {
        return Refuse({error});
    }
    if (!keys.empty()) {
        return RollBackSigned(tree, live, current, previous, keys);
    }
    if (live.HasList) {
        return Refuse({tree +
                       " is signed: roll back with --sign KEYFILE, so that the files of "
                       "version " +
                       std::to_string(previous) +
                       " go live again under a sequence number launchers with the key accept"});
    }
    if (!SwitchTo(tree, previous, &error)) {
        return WriteFailed(error);
    }
    RemoveTree(VersionDir(tree, current));
    printf("rolled back %s: version %d is live again, version %d removed\n", tree.c_str(), previous,
           current);
    return kPublished;
}
