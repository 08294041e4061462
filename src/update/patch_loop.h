// Comparing the manifest with the client folder and downloading what differs.
#pragma once

#include <vector>

#include "update/manifest.h"

enum class PatchResult { Finished, Restarting, DownloadFailed, WriteFailed };

// Check phase, launcher step, download phase. On Finished, downloadList holds every entry
// that was downloaded and written, in manifest order.
PatchResult RunPatchLoop(const std::vector<ManifestEntry>& entries,
                         std::vector<ManifestEntry>* downloadList);

// "<LauncherDir>\<path>" with every '/' turned into '\'; false when it does not fit.
bool LocalPathOf(const std::string& manifestPath, char* out, size_t cap);

// Creates every folder along a local path (the levels before each backslash).
void CreateFoldersAlong(char* localPath);
