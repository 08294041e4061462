// The registration window's message line.
#include "register/register_status.h"

#include "ui/layout_win.h"
#include "ui/register_layout.h"

wchar_t RegisterStatusText[kRegisterStatusCapacity];
bool RegisterStatusIsError;
const RECT RegisterStatusRect = ToRect(kRegisterStatusRect);

void ShowRegisterStatus(HWND registerWindow, const wchar_t* text, bool isError) {
    lstrcpynW(RegisterStatusText, text, kRegisterStatusCapacity);
    RegisterStatusIsError = isError;
    InvalidateRect(registerWindow, &RegisterStatusRect, TRUE);
    UpdateWindow(registerWindow);
}
