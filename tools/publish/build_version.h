// Building the next version beside the live one: every file read once, files the live
// version already holds linked into it, every other one copied, then the manifest, the
// status and the record.
#pragma once

#include <string>
#include <vector>

#include "live_version.h"
#include "progress.h"
#include "publish.h"

struct BuildResult {
    std::string Stage;             // the staging folder; "" in a dry run or when unchanged
    std::vector<std::string> Dirs; // folders whose entries it changed, for flushing
    std::vector<std::string> Removed;
    size_t Added = 0;
    size_t Changed = 0;
    size_t Unchanged = 0;
    bool Same = false; // the live version already is the version asked for
    std::string Error;
};

// Returns kPublished, kRefused (the client could not be read) or kWriteFailed (the tree
// could not be written); on failure the staging folder is gone. The staging folder is the
// oldest version beyond --keep when there is one (most of its files are the live ones
// already), pruned to the new version's paths; its other files are replaced. With signing
// (null for none) every file is hashed in the read that takes its CRC-32, and the version
// gets the signed list.
int BuildVersion(const Options& options, const LiveVersion& live, const Signing* signing,
                 std::vector<VersionFile>* files, Progress* progress, BuildResult* result);
