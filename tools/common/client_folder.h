// Listing a client folder for the operator tools: regular files only, links refused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ClientEntry {
    std::string Path; // relative, '/' separators
    uint64_t Size = 0;
};

// Collects the regular files below root, sorted byte-wise by path. Anything else (a symbolic
// link, which is never followed, a device, a folder that cannot be read) is named in problems.
void ListClientFolder(const std::string& root, std::vector<ClientEntry>* files,
                      std::vector<std::string>* problems);

// Takes the launcher's own state files (qelt-check.dat, qelt-sequence.dat at the top, any
// letter case) out of files: they describe one player's folder and are never client files.
// Returns the paths taken out.
std::vector<std::string> TakeOutLauncherStateFiles(std::vector<ClientEntry>* files);
