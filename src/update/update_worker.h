// The update worker: the one background thread of the launcher.
#pragma once

#include <windows.h>

// How a run ended; only Success goes on to the status probe.
enum class UpdateOutcome {
    AutoUpdateOff,
    GameDataFailed,
    ManifestUnavailable,
    UnsignedUpdate, // UpdateKey set, and no list signed by it (or an older one)
    SelfUpdateRestarting,
    DownloadFailed,
    WriteFailed,
    Success,
};

// The thread routine: the update run, then the status probe for the life of the process.
DWORD WINAPI UpdateWorker(LPVOID);

// Steps 1 to 8 of a run: old-file removal, switch-off test, first-run package, manifest
// (the signed list instead with UpdateKey set), patch loop, report. The worker calls the
// probe after it when it returns Success.
UpdateOutcome RunUpdateSequence();

// Deletes "<LauncherPath>.old" left by an earlier self-update, retrying while it is held.
void RemoveOldLauncher();
