// Replacing the running launcher with the build the update server offers.
#pragma once

#include "update/manifest.h"

// Downloads the launcher's own file, checks it against its entry (the CRC-32, and with a
// signed list the size and SHA-256), swaps the executables by moves within the folder,
// starts the new build with "-updated" and asks the main window to close. Returns true
// only when all of that happened; otherwise the status line says why and the files are as
// the failure left them (the old build stays runnable).
bool SelfUpdateLauncher(const ManifestEntry& entry);
