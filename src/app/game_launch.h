// Starting the game from the Connect button and watching it.
#pragma once

#include <windows.h>

constexpr char kGameStartFailedCaption[] = "Failed to start the game";
constexpr char kTextGameRunning[] = "Dang chay game...";
constexpr UINT_PTR kGameWatchTimerId = 1;
constexpr UINT kGameWatchPeriodMs = 500;

// Starts "<LauncherDir>\<GameExecutable>" with no arguments in LauncherDir. On failure
// shows the error box and changes nothing else.
void LaunchGame();
