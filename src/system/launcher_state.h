// The one process-wide record of the launcher. Start-up and the main window's creation
// fill it before the update worker starts; afterwards only GameProcess changes.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "base/paths.h"
#include "system/launcher_config.h"

struct LauncherState {
    LauncherConfig Config;
    char LauncherPath[kPathCapacity];
    char LauncherDir[kPathCapacity];
    char LauncherFileName[64];
    bool StartedAfterUpdate;
    ULONG_PTR GdiplusToken;

    HFONT TitleFont;
    HFONT TitleSubFont;
    HFONT StatusFont;
    HFONT ButtonFont;
    HFONT CaptionFont;
    HFONT LabelFont;
    HFONT EditFont;

    HBITMAP BackgroundPicture;
    int32_t BackgroundWidth;
    int32_t BackgroundHeight;

    HWND MainWindowHandle;
    HWND StatusLine;
    HWND ProgressBar;
    HWND ConnectButton;
    HWND RegisterButton;

    // Written by the main thread at each game start, polled by the status probe.
    std::atomic<HANDLE> GameProcess;
};

extern LauncherState g_Launcher;
