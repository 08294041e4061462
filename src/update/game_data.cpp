// First-run game data package: download "Qelt-Data.exe", run it hidden as a
// self-extracting archive into the launcher's folder, wait with a budget, delete it.
#include "update/game_data.h"

#include <windows.h>

#include <cstring>

#include "base/paths.h"
#include "base/text.h"
#include "net/http_download.h"
#include "net/http_request.h"
#include "system/launcher_state.h"
#include "system/start_program.h"
#include "ui/window_ops.h"
#include "update/update_texts.h"
#include "update/update_timings.h"

namespace {

// EnumWindows callback: hides every top-level window of the process id in processId.
BOOL CALLBACK HideProcessWindows(HWND window, LPARAM processId) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == static_cast<DWORD>(processId)) {
        ShowWindow(window, SW_HIDE);
    }
    return TRUE;
}

// Waits for the extractor, hiding its windows every round. False when the budget ran out.
bool WaitForExtractor(const PROCESS_INFORMATION& process) {
    for (DWORD elapsed = 0;;) {
        EnumWindows(HideProcessWindows, static_cast<LPARAM>(process.dwProcessId));
        if (WaitForSingleObject(process.hProcess, g_UpdateTimings.ExtractorRoundMs) ==
            WAIT_OBJECT_0) {
            return true;
        }
        elapsed += g_UpdateTimings.ExtractorRoundMs;
        if (elapsed >= g_UpdateTimings.ExtractorBudgetMs) {
            return false;
        }
    }
}

} // namespace

bool GameExecutablePresent() {
    char gamePath[kPathCapacity];
    return JoinPath(gamePath, sizeof gamePath, g_Launcher.LauncherDir,
                    g_Launcher.Config.GameExecutable) &&
           GetFileAttributesA(gamePath) != INVALID_FILE_ATTRIBUTES;
}

bool EnsureGameData(const SignedList* signedList) {
    if (GameExecutablePresent()) {
        return true;
    }
    SetStatus(kTextGameDataDownloading);

    char url[kUrlCapacity];
    char packagePath[kPathCapacity];
    if (!JoinPath(packagePath, sizeof packagePath, g_Launcher.LauncherDir, kGameDataPackageName)) {
        SetStatus(kTextGameDataWriteFailed);
        return false;
    }
    // The manifest gives the package no checksum: it is taken whole when its length is the
    // announced one, and continued only under the same validator. A signed list gives its
    // size and SHA-256; a signed list without a package is a tree with none to run.
    ExpectedBody expected = {false, 0};
    if (signedList != nullptr) {
        expected.HasDigest = true;
        expected.Size = signedList->PackageSize;
        memcpy(expected.Sha256, signedList->PackageSha256, kSha256Size);
    }
    DownloadResult result = DownloadResult::NotReceived;
    if ((signedList == nullptr || signedList->HasPackage) &&
        FormatText(url, sizeof url, kFormatDownloadsUrl, g_Launcher.Config.UpdateUrl,
                   kGameDataPackageName)) {
        result = HttpRequestToFile(url, packagePath, expected, kGameDataLabel);
    }
    if (result == DownloadResult::WriteFailed) {
        SetStatus(kTextGameDataWriteFailed);
        return false;
    }
    if (result != DownloadResult::Written) {
        SetStatus(kTextGameDataDownloadFailed);
        return false;
    }

    SetStatus(kTextGameDataExtracting);
    // Two quoted paths and the switches.
    char commandLine[2 * kPathCapacity];
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process = {};
    if (!FormatText(commandLine, sizeof commandLine, "\"%s\" -o\"%s\" -y", packagePath,
                    g_Launcher.LauncherDir) ||
        !StartProgram(nullptr, commandLine, CREATE_NO_WINDOW, g_Launcher.LauncherDir, &startup,
                      &process, StartWaitsOut::SharingViolationOrAccessDenied)) {
        SetStatus(kTextGameDataStartFailed);
        DeleteFileA(packagePath);
        return false;
    }

    if (!WaitForExtractor(process)) {
        TerminateProcess(process.hProcess, 1);
        // The package file cannot be deleted while the terminated process still maps it.
        WaitForSingleObject(process.hProcess, 5000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        DeleteFileA(packagePath);
        SetStatus(kTextGameDataTooSlow);
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    DeleteFileA(packagePath);
    if (GameExecutablePresent()) {
        return true;
    }
    SetStatus(kTextGameDataFailed);
    return false;
}
