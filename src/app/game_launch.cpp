// Game launch: CreateProcessA in the launcher's folder, then a 500 ms timer that closes
// the launcher when the game process ends.
#include "app/game_launch.h"

#include "base/paths.h"
#include "base/text.h"
#include "system/launcher_state.h"
#include "system/start_program.h"
#include "ui/window_ops.h"

void LaunchGame() {
    char gamePath[kPathCapacity];
    JoinPath(gamePath, sizeof gamePath, g_Launcher.LauncherDir, g_Launcher.Config.GameExecutable);
    // The path alone, quoted: left to the system, the command line would be the bare path,
    // which a game in a folder with spaces would read as several arguments.
    char commandLine[kPathCapacity + 2];
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // A path that does not fit is refused and fails like a missing program.
    if (gamePath[0] == '\0' || !FormatText(commandLine, sizeof commandLine, "\"%s\"", gamePath) ||
        !StartProgram(gamePath, commandLine, 0, g_Launcher.LauncherDir, &startup, &process,
                      StartWaitsOut::SharingViolation)) {
        char shown[kPathCapacity + sizeof g_Launcher.Config.GameExecutable];
        FormatText(shown, sizeof shown, "%s\\%s", g_Launcher.LauncherDir,
                   g_Launcher.Config.GameExecutable);
        MessageBoxA(g_Launcher.MainWindowHandle, shown, kGameStartFailedCaption, MB_ICONERROR);
        return;
    }
    CloseHandle(process.hThread);
    // A second game (Connect enabled again by the probe) replaces the watched one; the
    // earlier handle is no longer needed.
    HANDLE earlier = g_Launcher.GameProcess.exchange(process.hProcess);
    if (earlier != nullptr) {
        CloseHandle(earlier);
    }
    SetStatus(kTextGameRunning);
    EnableConnect(false);
    SetTimer(g_Launcher.MainWindowHandle, kGameWatchTimerId, kGameWatchPeriodMs, nullptr);
}
