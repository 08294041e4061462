// Registration window: four edit fields on rounded panels, two owner-drawn buttons, a
// message line, and a close glyph; Enter submits (cancels on "Hủy") and Escape closes
// through the dialog keyboard handling of the opener's loop.
#include "register/register_window.h"

#include <windowsx.h>

#include "app/launcher_state.h"
#include "register/register_status.h"
#include "register/register_texts.h"
#include "register/registration_form.h"
#include "register/submit_registration.h"
#include "ui/draw.h"
#include "ui/draw_style.h"

namespace {

const RECT kCloseRect = {416, 3, 446, 27};
const RECT kCaptionRect = {16, 36, 436, 62};
const RECT kHintRect = {16, 62, 436, 80};
const RECT kOuterFrame = {0, 0, kRegisterWidth, kRegisterHeight};

constexpr COLORREF kCloseGlyphColour = RGB(0x6E, 0x6E, 0x6E);
constexpr COLORREF kCaptionColour = RGB(0x20, 0x20, 0x20);
constexpr COLORREF kHintColour = RGB(0x7A, 0x7A, 0x7A);
constexpr COLORREF kLabelColour = RGB(0x3A, 0x3A, 0x3A);
constexpr COLORREF kErrorColour = RGB(0xB2, 0x22, 0x22);
constexpr COLORREF kSuccessColour = RGB(0x18, 0x7A, 0x34);
constexpr COLORREF kFrameColour = RGB(0x96, 0x96, 0x96);

void DrawPanel(HDC dc, const RECT& rect, const PanelStyle& style) {
    DrawRoundPanel(dc, rect, style.Radius, style.Top, style.Bottom, style.Border);
}

const wchar_t* Wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

void DrawTextIn(HDC dc, const wchar_t* text, RECT rect, UINT format) {
    DrawTextW(dc, text, -1, &rect, format);
}

HWND CreateChild(HWND parent, HINSTANCE instance, const wchar_t* cls, const wchar_t* text,
                 DWORD style, int x, int y, int w, int h, int id, HFONT font) {
    HWND child =
        CreateWindowExW(0, cls, text, style, x, y, w, h, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    return child;
}

LRESULT OnCreate(HWND window, LPARAM lParam) {
    HINSTANCE instance = reinterpret_cast<CREATESTRUCTW*>(lParam)->hInstance;
    for (int i = 0; i < kRegisterFieldCount; ++i) {
        const RegisterField& field = kRegisterFields[i];
        HWND edit =
            CreateChild(window, instance, L"EDIT", L"",
                        WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL | field.ExtraStyle, 135,
                        105 + 40 * i, 286, 18, field.ControlId, g_Launcher.EditFont);
        SendMessageW(edit, EM_LIMITTEXT, static_cast<WPARAM>(field.LengthLimit), 0);
    }
    const DWORD buttonStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW;
    CreateChild(window, instance, L"BUTTON", Wide(kRegisterSubmitLabel), buttonStyle, 18, 301, 200,
                28, kRegisterSubmitId, g_Launcher.ButtonFont);
    CreateChild(window, instance, L"BUTTON", Wide(kRegisterCancelLabel), buttonStyle, 234, 301, 200,
                28, kRegisterCancelId, g_Launcher.ButtonFont);
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
    if (PtInRect(&kCloseRect, point)) {
        DestroyWindow(window);
    } else if (point.y < 30) {
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
    DrawTextIn(dc, Wide(kRegisterCloseGlyph), kCloseRect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);

    SelectObject(dc, g_Launcher.CaptionFont);
    SetTextColor(dc, kCaptionColour);
    DrawTextIn(dc, Wide(kRegisterCaption), kCaptionRect, DT_LEFT | DT_VCENTER | DT_SINGLELINE);

    SelectObject(dc, g_Launcher.LabelFont);
    SetTextColor(dc, kHintColour);
    DrawTextIn(dc, Wide(kRegisterHint), kHintRect, DT_LEFT | DT_VCENTER | DT_SINGLELINE);

    DrawPanel(dc, RECT{6, 84, 446, 258}, kLargePanelStyle);
    SetTextColor(dc, kLabelColour);
    for (int i = 0; i < kRegisterFieldCount; ++i) {
        const int top = 100 + 40 * i;
        DrawPanel(dc, RECT{126, top, 430, top + 28}, kFieldBoxStyle);
        DrawTextIn(dc, Wide(kRegisterFields[i].Label), RECT{22, top, 120, top + 28},
                   DT_VCENTER | DT_SINGLELINE);
    }

    if (RegisterStatusText[0] != L'\0') {
        SetTextColor(dc, RegisterStatusIsError ? kErrorColour : kSuccessColour);
        DrawTextIn(dc, RegisterStatusText, RegisterStatusRect,
                   DT_END_ELLIPSIS | DT_VCENTER | DT_SINGLELINE);
    }

    DrawPanel(dc, RECT{6, 294, 446, 336}, kLargePanelStyle);

    HBRUSH frame = CreateSolidBrush(kFrameColour);
    FrameRect(dc, &kOuterFrame, frame);
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
