// The registration window's message line, shared by the submission (writer), the window's
// painting (reader) and the main window (which empties it before each opening).
#pragma once

#include <windows.h>

constexpr int kRegisterStatusCapacity = 512;

extern wchar_t RegisterStatusText[kRegisterStatusCapacity];
extern bool RegisterStatusIsError;
extern const RECT RegisterStatusRect;

// Copies text (cut to 511 units), sets the colour flag, and repaints the message line at
// once so it is on screen before the caller goes on.
void ShowRegisterStatus(HWND registerWindow, const wchar_t* text, bool isError);
