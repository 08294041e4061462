// Building the next version beside the live one: every file read once, files the live
// version already holds linked into it, every other one copied, then the manifest, the
// status and the record.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "live_version.h"
#include "progress.h"
#include "publish.h"

struct BuildResult {
    std::string Stage;             // the staging folder; "" in a dry run or when unchanged
    std::vector<std::string> Dirs; // folders made in it, for flushing
    std::vector<std::string> Removed;
    size_t Added = 0;
    size_t Changed = 0;
    size_t Unchanged = 0;
    bool Same = false; // the live version already is the version asked for
    std::string Error;
    std::string LastFolder; // made last (or there already)
};

// Returns kPublished, kRefused (the client could not be read) or kWriteFailed (the tree
// could not be written); on failure the staging folder is gone.
// whenNew is called once it is sure that a new version will be made, before it is built.
int BuildVersion(const Options& options, const LiveVersion& live, std::vector<VersionFile>* files,
                 Progress* progress, BuildResult* result, const std::function<void()>& whenNew);
