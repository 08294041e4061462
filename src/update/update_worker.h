// The update worker: the one background thread of the launcher.
#pragma once

#include <windows.h>

// How a run ended; only Success goes on to the status probe.
enum class UpdateOutcome {
    AutoUpdateOff,
    GameDataFailed,
    ManifestUnavailable,
    SelfUpdateRestarting,
    DownloadFailed,
    WriteFailed,
    Success,
};

// Waits that tests shorten; the program keeps these values.
struct UpdateTimings {
    DWORD OldFileRetryMs = 300;
    int OldFileAttempts = 10;
    DWORD ExtractorBudgetMs = 600000;
    DWORD ExtractorRoundMs = 25;
    DWORD ProbePeriodMs = 15000;
};
extern UpdateTimings g_UpdateTimings;

// The thread routine: the update run, then the status probe for the life of the process.
DWORD WINAPI UpdateWorker(LPVOID);

// Steps 1 to 8 of a run: old-file removal, switch-off test, first-run package, manifest,
// patch loop, report. The worker calls the probe after it when it returns Success.
UpdateOutcome RunUpdateSequence();

// Deletes "<LauncherPath>.old" left by an earlier self-update, retrying while it is held.
void RemoveOldLauncher();
