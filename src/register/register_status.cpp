// The registration window's message line.
#include "register/register_status.h"

wchar_t RegisterStatusText[kRegisterStatusCapacity];
bool RegisterStatusIsError;
const RECT RegisterStatusRect = {16, 264, 436, 286};

void ShowRegisterStatus(HWND registerWindow, const wchar_t* text, bool isError) {
    lstrcpynW(RegisterStatusText, text, kRegisterStatusCapacity);
    RegisterStatusIsError = isError;
    InvalidateRect(registerWindow, &RegisterStatusRect, TRUE);
    UpdateWindow(registerWindow);
}
