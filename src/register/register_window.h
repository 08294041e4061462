// The registration window: a borderless pop-up over the main window where a player
// creates a game account.
#pragma once

#include <windows.h>

constexpr wchar_t kRegisterWindowClass[] = L"QeltRegister";
constexpr int kRegisterWidth = 452;
constexpr int kRegisterHeight = 346;
constexpr int kRegisterSubmitId = 1;
constexpr int kRegisterCancelId = 2;

LRESULT CALLBACK RegisterWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Paints the whole client area.
void PaintRegisterWindow(HDC dc);
