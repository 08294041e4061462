// The registration window: a borderless pop-up over the main window where a player
// creates a game account.
#pragma once

#include <windows.h>

constexpr wchar_t kRegisterWindowClass[] = L"QeltRegister";
constexpr int kRegisterSubmitId = 1;
constexpr int kRegisterCancelId = 2;

LRESULT CALLBACK RegisterWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Paints the whole client area.
void PaintRegisterWindow(HDC dc);

// Opens the registration window centred over the main window and runs its modal loop
// until it is gone; the main window is disabled meanwhile. Returns 0.
LRESULT RunRegisterDialog(HWND mainWindow);
