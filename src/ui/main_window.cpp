// Main window procedure.
#include "ui/main_window.h"

#include "app/launcher_state.h"

namespace {

LRESULT OnCreate(HWND window) {
    g_Launcher.MainWindowHandle = window;
    return 0;
}

LRESULT OnDestroy() {
    PostQuitMessage(0);
    return 0;
}

} // namespace

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: return OnCreate(window);
    case WM_DESTROY: return OnDestroy();
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}
