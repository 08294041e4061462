// The registration window.
#pragma once

#include <windows.h>

constexpr wchar_t kRegisterWindowClass[] = L"QeltRegister";

LRESULT CALLBACK RegisterWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
