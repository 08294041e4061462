// Launcher self-update: download and verify "<path>.new", move the running file to
// "<path>.old", move the new build in place (moving the old one back on failure), restart.
#include "update/self_update.h"

#include <windows.h>

#include <cstring>

#include "base/paths.h"
#include "base/text.h"
#include "net/http_download.h"
#include "net/http_request.h"
#include "system/launcher_state.h"
#include "system/start_program.h"
#include "ui/window_ops.h"
#include "update/signed_update.h"
#include "update/update_rules.h"
#include "update/update_texts.h"

namespace {

// The new build's ".part" and ".qres" files have the longest names: "<path>.new.part".
constexpr size_t kLongestSuffix = 10;

bool StartRestartedLauncher() {
    char commandLine[kPathCapacity + 16];
    if (!FormatText(commandLine, sizeof commandLine, "\"%s\" %s", g_Launcher.LauncherPath,
                    kUpdatedWord)) {
        return false;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // The build was moved into place a moment ago: a virus scanner may still hold it.
    if (!StartProgram(nullptr, commandLine, 0, g_Launcher.LauncherDir, &startup, &process,
                      StartWaitsOut::SharingViolationOrAccessDenied)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

} // namespace

bool SelfUpdateLauncher(const ManifestEntry& entry) {
    if (g_Launcher.StartedAfterUpdate) {
        SetStatus(kTextSelfUpdateAlreadyRestarted);
        return false;
    }
    if (strlen(g_Launcher.LauncherPath) + kLongestSuffix >= kPathCapacity) {
        SetStatus(kTextSelfUpdatePathTooLong);
        return false;
    }
    char newPath[kPathCapacity];
    char oldPath[kPathCapacity];
    ConcatBounded(newPath, sizeof newPath, g_Launcher.LauncherPath, ".new");
    ConcatBounded(oldPath, sizeof oldPath, g_Launcher.LauncherPath, ".old");

    SetProgress(0);
    char text[kStatusTextCapacity];
    char url[kUrlCapacity];
    // The build is checked against its entry on its way to "<path>.new": a damaged or forged
    // one never reaches the disk under a name that runs.
    const ExpectedBody expected = ExpectedBodyOf(entry);
    DownloadResult result = DownloadResult::NotReceived;
    if (FormatText(url, sizeof url, kFormatPatchUrl, g_Launcher.Config.UpdateUrl,
                   g_Launcher.LauncherFileName)) {
        result = HttpRequestToFile(url, newPath, expected, g_Launcher.LauncherFileName);
    }
    switch (result) {
    case DownloadResult::Written: break;
    case DownloadResult::NotReceived:
        FormatText(text, sizeof text, kFormatDownloadFailed, g_Launcher.LauncherFileName);
        SetStatus(text);
        return false;
    case DownloadResult::Refused: SetStatus(kTextSelfUpdateDamaged); return false;
    case DownloadResult::WriteFailed: SetStatus(kTextSelfUpdateWriteFailed); return false;
    }

    DeleteFileA(oldPath);
    if (!MoveFileExA(g_Launcher.LauncherPath, oldPath, MOVEFILE_REPLACE_EXISTING)) {
        SetStatus(kTextSelfUpdateReplaceFailed);
        DeleteFileA(newPath);
        return false;
    }
    if (!MoveFileExA(newPath, g_Launcher.LauncherPath, MOVEFILE_REPLACE_EXISTING)) {
        MoveFileExA(oldPath, g_Launcher.LauncherPath, MOVEFILE_REPLACE_EXISTING);
        SetStatus(kTextSelfUpdateReplaceFailed);
        DeleteFileA(newPath);
        return false;
    }
    SetStatus(kTextSelfUpdateRestarting);
    if (!StartRestartedLauncher()) {
        SetStatus(kTextSelfUpdateRestartByHand);
        return false;
    }
    RequestClose();
    return true;
}
