// Start-up sequence and main message loop of the launcher.
#pragma once

#include <windows.h>

// Fills LauncherPath, LauncherDir and LauncherFileName from the module path.
void DeriveLauncherPaths();

// Creates the seven fonts of both windows, in their fixed order.
void CreateLauncherFonts();

// Registers "QeltLauncher" and "QeltRegister".
void RegisterWindowClasses(HINSTANCE instance);

// Outer window rectangle for the main window, centred on the work area as start-up
// places it (the work area's left and top edges do not enter).
RECT MainWindowPlacement(const RECT& workArea);

// The whole program: start-up, message loop, shut-down. Returns the exit code.
int RunLauncher(HINSTANCE instance, const char* commandLine, int showCommand);
