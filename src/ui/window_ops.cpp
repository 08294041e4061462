// Window operations on the real controls: cross-thread window messages are synchronous,
// so each call has taken effect when it returns.
#include "ui/window_ops.h"

#include <windows.h>
#include <commctrl.h>

#include "system/launcher_state.h"

void SetStatus(const char* text) {
    SetWindowTextA(g_Launcher.StatusLine, text);
}

void SetProgress(int position) {
    SendMessageA(g_Launcher.ProgressBar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void EnableConnect(bool enabled) {
    EnableWindow(g_Launcher.ConnectButton, enabled ? TRUE : FALSE);
}

void EnableRegister(bool enabled) {
    EnableWindow(g_Launcher.RegisterButton, enabled ? TRUE : FALSE);
}

void RequestClose() {
    PostMessageA(g_Launcher.MainWindowHandle, WM_CLOSE, 0, 0);
}
