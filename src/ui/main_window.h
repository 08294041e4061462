// The launcher's main window.
#pragma once

#include <windows.h>

constexpr char kMainWindowClass[] = "QeltLauncher";
constexpr int kMainClientWidth = 452;
constexpr int kMainClientHeight = 486;
constexpr DWORD kMainWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
