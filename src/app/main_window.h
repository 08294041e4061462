// The launcher's main window: title band, picture frame, status line, progress bar and
// the Connect, Register and Close buttons.
#pragma once

#include <windows.h>

#include "ui/main_layout.h"

constexpr char kMainWindowClass[] = "QeltLauncher";
constexpr DWORD kMainWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
