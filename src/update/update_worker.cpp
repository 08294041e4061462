// The update worker: clean up after a self-update, install on first run, fetch the
// manifest (or, with UpdateKey, the signed list), patch, report, then watch the server
// status.
#include "update/update_worker.h"

#include <algorithm>

#include "base/paths.h"
#include "base/text.h"
#include "net/http_request.h"
#include "system/launcher_state.h"
#include "ui/window_ops.h"
#include "update/game_data.h"
#include "update/manifest.h"
#include "update/patch_loop.h"
#include "update/signed_update.h"
#include "update/state_files.h"
#include "update/status_probe.h"
#include "update/update_texts.h"
#include "update/update_timings.h"

UpdateTimings g_UpdateTimings;

void RemoveOldLauncher() {
    char oldPath[kPathCapacity];
    if (!ConcatBounded(oldPath, sizeof oldPath, g_Launcher.LauncherPath, ".old")) {
        return;
    }
    // The previous launcher may still be closing and holding its file.
    for (int attempt = 0; attempt < g_UpdateTimings.OldFileAttempts; ++attempt) {
        if (GetFileAttributesA(oldPath) == INVALID_FILE_ATTRIBUTES || DeleteFileA(oldPath)) {
            return;
        }
        Sleep(g_UpdateTimings.OldFileRetryMs);
    }
}

namespace {

UpdateOutcome PatchAndReport(const std::vector<ManifestEntry>& entries) {
    std::vector<ManifestEntry> downloaded;
    switch (RunPatchLoop(entries, &downloaded)) {
    case PatchResult::Restarting: return UpdateOutcome::SelfUpdateRestarting;
    case PatchResult::DownloadFailed: return UpdateOutcome::DownloadFailed;
    case PatchResult::WriteFailed: return UpdateOutcome::WriteFailed;
    case PatchResult::Finished: break;
    }

    if (downloaded.empty()) {
        SetStatus(kTextClientUpToDate);
    } else {
        char text[kStatusTextCapacity];
        FormatText(text, sizeof text, kFormatUpdatedFiles, static_cast<int>(downloaded.size()));
        SetStatus(text);
    }
    SetProgress(100);
    return UpdateOutcome::Success;
}

// With UpdateKey: the signed list in the manifest's place, with the same texts. On a first
// run it comes before the package, whose size and digest it gives. Refused, the run ends as
// when the manifest cannot be fetched: nothing fetched or written, the current files kept.
UpdateOutcome RunSignedUpdate() {
    const bool firstRun = !GameExecutablePresent();
    if (!firstRun) {
        SetStatus(kTextCheckingForUpdates);
    }
    std::vector<ManifestEntry> entries;
    {
        SignedList list;
        const SignedListResult taken = TakeSignedList(&list);
        if (taken == SignedListResult::NotRecorded) {
            return UpdateOutcome::WriteFailed;
        }
        if (taken != SignedListResult::Taken) {
            // Without a game there is nothing to start.
            if (!firstRun) {
                EnableConnect(true);
            }
            return taken == SignedListResult::Unreachable ? UpdateOutcome::ManifestUnavailable
                                                          : UpdateOutcome::UnsignedUpdate;
        }
        if (firstRun) {
            if (!EnsureGameData(&list)) {
                return UpdateOutcome::GameDataFailed;
            }
            SetStatus(kTextCheckingForUpdates);
        }
        entries = SignedEntries(list);
    }
    return PatchAndReport(entries);
}

} // namespace

UpdateOutcome RunUpdateSequence() {
    RemoveOldLauncher();

    if (g_Launcher.Config.UpdateUrl[0] == '\0') {
        SetStatus(kTextAutoUpdateOff);
        SetProgress(100);
        EnableConnect(true);
        return UpdateOutcome::AutoUpdateOff;
    }
    if (g_Launcher.Config.UpdateKey[0] != '\0') {
        return RunSignedUpdate();
    }
    if (!EnsureGameData(nullptr)) {
        return UpdateOutcome::GameDataFailed;
    }

    SetStatus(kTextCheckingForUpdates);
    char url[kUrlCapacity];
    ByteBuffer manifest;
    int status = 0;
    if (FormatText(url, sizeof url, kFormatManifestUrl, g_Launcher.Config.UpdateUrl)) {
        status = HttpRequest(url, manifest, nullptr, nullptr);
    }
    if (status != 200) {
        SetStatus(kTextUpdateServerUnreachable);
        EnableConnect(true);
        return UpdateOutcome::ManifestUnavailable;
    }
    std::vector<ManifestEntry> entries =
        ParseManifest(manifest.data(), manifest.size(), g_Launcher.LauncherDir);
    ByteBuffer().swap(manifest);
    // The launcher's own state files are not the server's to replace: such an entry is
    // left out as if the manifest did not hold it (a signed list may not name one at all).
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [](const ManifestEntry& entry) {
                                     return IsLauncherStateFile(entry.Path.c_str());
                                 }),
                  entries.end());
    return PatchAndReport(entries);
}

DWORD WINAPI UpdateWorker(LPVOID) {
    if (RunUpdateSequence() == UpdateOutcome::Success) {
        ProbeServerStatus();
    }
    return 0;
}
