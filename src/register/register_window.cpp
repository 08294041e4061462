// Registration window procedure.
#include "register/register_window.h"

LRESULT CALLBACK RegisterWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}
