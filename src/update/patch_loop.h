// Comparing the manifest with the client folder and downloading what differs.
#pragma once

#include <vector>

#include "update/manifest.h"

enum class PatchResult { Finished, Restarting, DownloadFailed, WriteFailed };

// Check phase, launcher step, download phase. On Finished, downloadList holds every entry
// that was downloaded and written, in manifest order.
PatchResult RunPatchLoop(const std::vector<ManifestEntry>& entries,
                         std::vector<ManifestEntry>* downloadList);
