// The registration window's message line, shared with the main window, which empties it
// each time it opens the registration window.
#pragma once

constexpr int kRegisterStatusCapacity = 512;

extern wchar_t RegisterStatusText[kRegisterStatusCapacity];
