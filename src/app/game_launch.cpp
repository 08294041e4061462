// Game launch: CreateProcessA in the launcher's folder, then a 500 ms timer that closes
// the launcher when the game process ends.
#include "app/game_launch.h"

#include "base/paths.h"
#include "base/text.h"
#include "system/launcher_state.h"
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
        !CreateProcessA(gamePath, commandLine, nullptr, nullptr, FALSE, 0, nullptr,
                        g_Launcher.LauncherDir, &startup, &process)) {
        char shown[kPathCapacity + sizeof g_Launcher.Config.GameExecutable];
        FormatText(shown, sizeof shown, "%s\\%s", g_Launcher.LauncherDir,
                   g_Launcher.Config.GameExecutable);
        MessageBoxA(g_Launcher.MainWindowHandle, shown, kGameStartFailedCaption, MB_ICONERROR);
        return;
    }
    CloseHandle(process.hThread);
    g_Launcher.GameProcess.store(process.hProcess);
    SetStatus(kTextGameRunning);
    EnableConnect(false);
    SetTimer(g_Launcher.MainWindowHandle, kGameWatchTimerId, kGameWatchPeriodMs, nullptr);
}
