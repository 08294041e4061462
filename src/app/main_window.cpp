// Main window procedure: creates and records the controls, paints the title band, the
// picture frame and the button panel, and dispatches the three buttons.
#include "app/main_window.h"

#include <commctrl.h>

#include "app/game_launch.h"
#include "app/update_worker_start.h"
#include "register/register_window.h"
#include "system/launcher_state.h"
#include "ui/draw_style.h"
#include "ui/draw_win.h"
#include "ui/layout_win.h"
#include "ui/window_ops.h"
#include "update/update_texts.h"

namespace {

constexpr DWORD kStatusLineStyle = WS_CHILD | WS_VISIBLE | SS_ENDELLIPSIS;
constexpr DWORD kProgressBarStyle = WS_CHILD | WS_VISIBLE;
constexpr DWORD kConnectStyle = WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_TABSTOP | BS_OWNERDRAW;
constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW;
static_assert(kStatusLineStyle == 0x50004000, "status line style");
static_assert(kProgressBarStyle == 0x50000000, "progress bar style");
static_assert(kConnectStyle == 0x5801000B, "Connect style");
static_assert(kButtonStyle == 0x5001000B, "Register and Close style");

HWND CreateControl(HWND parent, HINSTANCE instance, const char* className, const char* text,
                   DWORD style, const LayoutRect& r, int id) {
    return CreateWindowExA(0, className, text, style, r.Left, r.Top, r.Right - r.Left,
                           r.Bottom - r.Top, parent, reinterpret_cast<HMENU>(INT_PTR{id}), instance,
                           nullptr);
}

void SetControlFont(HWND control, HFONT font) {
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

// Every handle is recorded before the worker starts, so the worker finds them all set.
LRESULT OnCreate(HWND window, const CREATESTRUCTA* create) {
    HINSTANCE instance = create->hInstance;
    g_Launcher.MainWindowHandle = window;
    ResetWindowOps();

    g_Launcher.StatusLine = CreateControl(window, instance, "STATIC", "", kStatusLineStyle,
                                          kStatusLineRect, kStatusLineId);
    SetControlFont(g_Launcher.StatusLine, g_Launcher.StatusFont);

    g_Launcher.ProgressBar = CreateControl(window, instance, PROGRESS_CLASSA, "", kProgressBarStyle,
                                           kProgressBarRect, kProgressBarId);
    SendMessageA(g_Launcher.ProgressBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));

    HWND connect = CreateControl(window, instance, "BUTTON", kConnectCaption, kConnectStyle,
                                 kConnectRect, kConnectId);
    SetControlFont(connect, g_Launcher.ButtonFont);
    g_Launcher.ConnectButton = connect;

    HWND registerButton = CreateControl(window, instance, "BUTTON", kRegisterCaption, kButtonStyle,
                                        kRegisterRect, kRegisterId);
    SetControlFont(registerButton, g_Launcher.ButtonFont);
    g_Launcher.RegisterButton = registerButton;

    HWND close = CreateControl(window, instance, "BUTTON", kCloseCaption, kButtonStyle, kCloseRect,
                               kCloseId);
    SetControlFont(close, g_Launcher.ButtonFont);

    // A launcher whose worker cannot start still lets the player into the game.
    if (!StartUpdateWorker()) {
        SetStatus(kTextUpdateCouldNotRun);
        EnableConnect(true);
    }
    return 0;
}

// The picture is stretched to fill the frame's inside exactly, whatever its proportions.
void PaintPicture(HDC dc, const RECT& inside) {
    HDC pictureDc = g_Launcher.BackgroundPicture ? CreateCompatibleDC(dc) : nullptr;
    if (pictureDc == nullptr) {
        FillRect(dc, &inside, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        return;
    }
    HGDIOBJ kept = SelectObject(pictureDc, g_Launcher.BackgroundPicture);
    SetStretchBltMode(dc, HALFTONE);
    StretchBlt(dc, inside.left, inside.top, inside.right - inside.left, inside.bottom - inside.top,
               pictureDc, 0, 0, g_Launcher.BackgroundWidth, g_Launcher.BackgroundHeight, SRCCOPY);
    SelectObject(pictureDc, kept);
    DeleteDC(pictureDc);
}

LRESULT OnPaint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    DrawTitleBand(dc);
    RECT frame = ToRect(kPictureFrameRect);
    DrawEdge(dc, &frame, EDGE_SUNKEN, BF_RECT | BF_ADJUST); // leaves frame at its inside
    PaintPicture(dc, frame);
    DrawRoundPanel(dc, ToRect(kButtonPanelRect), kLargePanelStyle.Radius, kLargePanelStyle.Top,
                   kLargePanelStyle.Bottom, kLargePanelStyle.Border);
    EndPaint(window, &paint);
    return 0;
}

LRESULT OnDrawItem(const DRAWITEMSTRUCT* item) {
    DrawOwnerButton(item);
    return TRUE;
}

// Only the control id counts; the notification code is not looked at.
LRESULT OnCommand(HWND window, int id) {
    switch (id) {
    case kConnectId: LaunchGame(); break;
    case kRegisterId: RunRegisterDialog(window); break;
    case kCloseId: DestroyWindow(window); break;
    default: break;
    }
    return 0;
}

// The game watch: the launcher closes once the game it started has ended.
LRESULT OnTimer(HWND window) {
    HANDLE game = g_Launcher.GameProcess.load();
    if (game != nullptr && WaitForSingleObject(game, 0) == WAIT_OBJECT_0) {
        DestroyWindow(window);
    }
    return 0;
}

// Calls from the update worker waiting to be carried out on this thread.
LRESULT OnWindowOps() {
    ApplyPendingWindowOps();
    return 0;
}

LRESULT OnDestroy() {
    PostQuitMessage(0);
    return 0;
}

} // namespace

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: return OnCreate(window, reinterpret_cast<const CREATESTRUCTA*>(lParam));
    case WM_PAINT: return OnPaint(window);
    case WM_DRAWITEM: return OnDrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    case WM_COMMAND: return OnCommand(window, LOWORD(wParam));
    case WM_TIMER:
        if (wParam == kWindowOpsTimerId) {
            ApplyDeferredWindowOps();
            return 0;
        }
        return OnTimer(window);
    case WM_DESTROY: return OnDestroy();
    case kWindowOpsMessage: return OnWindowOps();
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}
