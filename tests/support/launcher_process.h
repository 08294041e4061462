// Starting the real Launcher.exe in a scratch client folder, finding its window, and the
// stand-in game that it starts from there.
#pragma once

#include <windows.h>

#include <string>

#include "window_probe.h"

struct LauncherProcess {
    std::string Dir;          // client folder holding Launcher.exe and Launcher.ini
    PROCESS_INFORMATION Info; // handles closed by StopLauncher
    HWND Window;              // top-level "QeltLauncher" window of the process
};

// Path of the Launcher.exe under test (Windows form).
std::string LauncherUnderTest();

// Makes a client folder with Launcher.exe and, when ini is not empty, Launcher.ini.
std::string MakeClientDir(const char* tag, const std::string& ini);

// Starts <dir>\Launcher.exe with the given arguments and waits up to timeoutMs for its
// main window. Returns false (process still recorded) when no window appeared.
bool StartLauncher(const std::string& dir, const std::string& arguments, LauncherProcess* process,
                   DWORD timeoutMs = 15000);

// As StartLauncher, but the process starts with workingDir as its current directory.
bool StartLauncherIn(const std::string& dir, const std::string& workingDir,
                     const std::string& arguments, LauncherProcess* process,
                     DWORD timeoutMs = 15000);

// Waits for the process to end; returns its exit code, or STILL_ACTIVE on time-out.
DWORD WaitForLauncherExit(LauncherProcess* process, DWORD timeoutMs);

// Terminates the process if it still runs and closes its handles.
void StopLauncher(LauncherProcess* process);

// How the stand-in game was started, as it recorded it.
struct GameRun {
    DWORD Pid = 0;
    std::string CommandLine;
    std::string WorkingDir;
};

// Copies the stand-in game program to path.
bool InstallFakeGame(const std::string& path);

// Waits up to timeoutMs for the stand-in game at path to record its start.
bool WaitForGameRun(const std::string& path, GameRun* run, DWORD timeoutMs);

// Tells the stand-in game at path to end.
bool EndFakeGame(const std::string& path);
