// Registration window: four edit fields on rounded panels, two owner-drawn buttons, a
// message line, and a close glyph; Enter submits (cancels on "Hủy") and Escape closes
// through the dialog keyboard handling of the opener's loop.
#include "register/register_window.h"

#include <windowsx.h>

#include "register/register_status.h"
#include "register/register_texts.h"
#include "register/registration_form.h"
#include "register/registration_form_win.h"
#include "system/launcher_state.h"
#include "ui/draw_style.h"
#include "ui/draw_win.h"
#include "ui/layout_win.h"
#include "ui/register_layout.h"

namespace {

constexpr COLORREF kCloseGlyphColour = RGB(0x6E, 0x6E, 0x6E);
constexpr COLORREF kCaptionColour = RGB(0x20, 0x20, 0x20);
constexpr COLORREF kHintColour = RGB(0x7A, 0x7A, 0x7A);
constexpr COLORREF kLabelColour = RGB(0x3A, 0x3A, 0x3A);
constexpr COLORREF kErrorColour = RGB(0xB2, 0x22, 0x22);
constexpr COLORREF kSuccessColour = RGB(0x18, 0x7A, 0x34);
constexpr COLORREF kFrameColour = RGB(0x96, 0x96, 0x96);

void DrawPanel(HDC dc, const LayoutRect& rect, const PanelStyle& style) {
    DrawRoundPanel(dc, ToRect(rect), style.Radius, style.Top, style.Bottom, style.Border);
}

const wchar_t* Wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

void DrawTextIn(HDC dc, const wchar_t* text, const LayoutRect& rect, UINT format) {
    RECT box = ToRect(rect);
    DrawTextW(dc, text, -1, &box, format);
}

HWND CreateChild(HWND parent, HINSTANCE instance, const wchar_t* cls, const wchar_t* text,
                 DWORD style, const LayoutRect& r, int id, HFONT font) {
    HWND child = CreateWindowExW(
        0, cls, text, style, r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    return child;
}

LRESULT OnCreate(HWND window, LPARAM lParam) {
    HINSTANCE instance = reinterpret_cast<CREATESTRUCTW*>(lParam)->hInstance;
    for (int i = 0; i < kRegisterFieldCount; ++i) {
        const RegisterField& field = kRegisterFields[i];
        HWND edit = CreateChild(
            window, instance, L"EDIT", L"",
            WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL | field.ExtraStyle,
            RegisterFieldRow(kRegisterFieldEditRect, i), field.ControlId, g_Launcher.EditFont);
        SendMessageW(edit, EM_LIMITTEXT, static_cast<WPARAM>(field.LengthLimit), 0);
    }
    const DWORD buttonStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW;
    CreateChild(window, instance, L"BUTTON", Wide(kRegisterSubmitLabel), buttonStyle,
                kRegisterSubmitRect, kRegisterSubmitId, g_Launcher.ButtonFont);
    CreateChild(window, instance, L"BUTTON", Wide(kRegisterCancelLabel), buttonStyle,
                kRegisterCancelRect, kRegisterCancelId, g_Launcher.ButtonFont);
    SetFocus(GetDlgItem(window, kRegisterFields[kFieldAccount].ControlId));
    return 0;
}

LRESULT OnPaint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    PaintRegisterWindow(dc);
    EndPaint(window, &paint);
    return 0;
}

LRESULT OnCommand(HWND window, WPARAM wParam) {
    switch (LOWORD(wParam)) {
    case kRegisterSubmitId: SubmitRegistration(window); break;
    case kRegisterCancelId: DestroyWindow(window); break;
    default: break;
    }
    return 0;
}

LRESULT OnLeftButtonDown(HWND window, LPARAM lParam) {
    POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    const RECT closeGlyph = ToRect(kRegisterCloseGlyphRect);
    if (PtInRect(&closeGlyph, point)) {
        DestroyWindow(window);
    } else if (point.y < kTitleBandRect.Bottom) { // the title band drags the window
        ReleaseCapture();
        SendMessageW(window, WM_NCLBUTTONDOWN, HTCAPTION, 0);
    }
    return 0;
}

// Enter clicks the default button. On "Hủy" that must be "Hủy" itself: a player who moved
// there to give up would otherwise send the account.
LRESULT OnGetDefaultId(HWND window) {
    const HWND focus = GetFocus();
    const bool onCancel = focus != nullptr && focus == GetDlgItem(window, kRegisterCancelId);
    return MAKELRESULT(onCancel ? kRegisterCancelId : kRegisterSubmitId, DC_HASDEFID);
}

} // namespace

void PaintRegisterWindow(HDC dc) {
    DrawTitleBand(dc);
    SetBkMode(dc, TRANSPARENT);

    HGDIOBJ keptFont = SelectObject(dc, g_Launcher.LabelFont);
    SetTextColor(dc, kCloseGlyphColour);
    DrawTextIn(dc, Wide(kRegisterCloseGlyph), kRegisterCloseGlyphRect,
               DT_CENTER | DT_VCENTER | DT_SINGLELINE);

    SelectObject(dc, g_Launcher.CaptionFont);
    SetTextColor(dc, kCaptionColour);
    DrawTextIn(dc, Wide(kRegisterCaption), kRegisterCaptionRect,
               DT_LEFT | DT_VCENTER | DT_SINGLELINE);

    SelectObject(dc, g_Launcher.LabelFont);
    SetTextColor(dc, kHintColour);
    DrawTextIn(dc, Wide(kRegisterHint), kRegisterHintRect, DT_LEFT | DT_VCENTER | DT_SINGLELINE);

    DrawPanel(dc, kRegisterFieldPanelRect, kLargePanelStyle);
    SetTextColor(dc, kLabelColour);
    for (int i = 0; i < kRegisterFieldCount; ++i) {
        DrawPanel(dc, RegisterFieldRow(kRegisterFieldBoxRect, i), kFieldBoxStyle);
        DrawTextIn(dc, Wide(kRegisterFields[i].Label), RegisterFieldRow(kRegisterFieldLabelRect, i),
                   DT_VCENTER | DT_SINGLELINE);
    }

    if (RegisterStatusText[0] != L'\0') {
        SetTextColor(dc, RegisterStatusIsError ? kErrorColour : kSuccessColour);
        DrawTextIn(dc, RegisterStatusText, kRegisterStatusRect,
                   DT_END_ELLIPSIS | DT_VCENTER | DT_SINGLELINE);
    }

    DrawPanel(dc, kRegisterButtonPanelRect, kLargePanelStyle);

    HBRUSH frame = CreateSolidBrush(kFrameColour);
    const RECT outerFrame = ToRect(kRegisterOuterFrameRect);
    FrameRect(dc, &outerFrame, frame);
    DeleteObject(frame);
    SelectObject(dc, keptFont);
}

LRESULT CALLBACK RegisterWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: return OnCreate(window, lParam);
    case WM_PAINT: return OnPaint(window);
    case WM_DRAWITEM: DrawOwnerButton(reinterpret_cast<DRAWITEMSTRUCT*>(lParam)); return TRUE;
    case WM_COMMAND: return OnCommand(window, wParam);
    case WM_LBUTTONDOWN: return OnLeftButtonDown(window, lParam);
    case DM_GETDEFID: return OnGetDefaultId(window);
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

LRESULT RunRegisterDialog(HWND mainWindow) {
    RegisterStatusText[0] = L'\0';

    RECT mainRect = {};
    GetWindowRect(mainWindow, &mainRect);
    RECT size = ToRect(kRegisterOuterFrameRect);
    AdjustWindowRect(&size, WS_POPUP, FALSE);
    const int width = size.right - size.left;
    const int height = size.bottom - size.top;
    const int x = mainRect.left + ((mainRect.right - mainRect.left) - width) / 2;
    const int y = mainRect.top + ((mainRect.bottom - mainRect.top) - height) / 2;
    // The pointer-sized instance handle: the 32-bit GWL_HINSTANCE would cut it on x86-64.
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(mainWindow, GWLP_HINSTANCE));
    HWND dialog = CreateWindowExW(0, kRegisterWindowClass, L"", WS_POPUP, x, y, width, height,
                                  mainWindow, nullptr, instance, nullptr);

    EnableWindow(mainWindow, FALSE);
    if (dialog != nullptr) {
        ShowWindow(dialog, SW_SHOW);
        // Wide calls: the registration window is a wide window. Messages for the main
        // window arriving meanwhile are dispatched here too.
        MSG message;
        while (IsWindow(dialog)) {
            const BOOL got = GetMessageW(&message, nullptr, 0, 0);
            if (got <= 0) {
                // The main loop must see the quit request too, or the launcher never ends.
                if (got == 0) {
                    PostQuitMessage(static_cast<int>(message.wParam));
                }
                break;
            }
            if (!IsDialogMessageW(dialog, &message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
    }
    EnableWindow(mainWindow, TRUE);
    SetActiveWindow(mainWindow);
    return 0;
}
