// The main window in this process: its controls as created, the commands, the game
// watch, and the Register modal loop with the main window disabled while it runs.
#include "ui/main_window.h"

#include <windows.h>
#include <commctrl.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <string>

#include "app/launcher_state.h"
#include "app/startup.h"
#include "recording_window_ops.h"
#include "register/register_status.h"
#include "window_environment.h"

namespace {

// What the timer callback saw while the registration window was open.
struct DialogObservation {
    int ticks = 0;
    HWND dialog = nullptr;
    bool mainEnabled = true;
    bool statusEmpty = false;
    HWND owner = nullptr;
    LONG_PTR style = 0;
    RECT rect = {};
    bool destroyMain = false; // destroy the main window instead of the dialog
};

DialogObservation g_seen;

void CALLBACK ObserveDialog(HWND, UINT, UINT_PTR timer, DWORD) {
    ++g_seen.ticks;
    HWND dialog = FindWindowW(L"QeltRegister", nullptr);
    if (dialog == nullptr) {
        if (g_seen.ticks > 100) { // the loop would otherwise never end
            KillTimer(nullptr, timer);
            DestroyWindow(g_Launcher.MainWindowHandle);
        }
        return;
    }
    KillTimer(nullptr, timer);
    g_seen.dialog = dialog;
    g_seen.mainEnabled = IsWindowEnabled(g_Launcher.MainWindowHandle) != FALSE;
    g_seen.statusEmpty = RegisterStatusText[0] == L'\0';
    g_seen.owner = GetWindow(dialog, GW_OWNER);
    g_seen.style = GetWindowLongPtrW(dialog, GWL_STYLE);
    GetWindowRect(dialog, &g_seen.rect);
    DestroyWindow(g_seen.destroyMain ? g_Launcher.MainWindowHandle : dialog);
}

// True when a WM_QUIT with exit code 0 was waiting in this thread's queue.
bool TakeQuitMessage() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            return message.wParam == 0;
        }
        DispatchMessageA(&message);
    }
    return false;
}

class MainWindowTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { PrepareWindowEnvironment(); }

    void SetUp() override {
        g_seen = DialogObservation();
        g_Launcher.GameProcess.store(nullptr);
        g_WorkerStartSucceeds = true;
        ClearRecordedOps();
        window_ = Create();
        ASSERT_NE(window_, nullptr);
    }
    static HWND Create() {
        return CreateWindowExA(0, kMainWindowClass, "Main Window Test", kMainWindowStyle, 100, 80,
                               470, 530, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    }
    void TearDown() override {
        if (IsWindow(window_)) {
            DestroyWindow(window_);
        }
        TakeQuitMessage();
        g_Launcher.GameProcess.store(nullptr);
    }

    HWND window_ = nullptr;
};

TEST_F(MainWindowTest, ControlsAreCreatedRecordedAndStyledAsTheWindowShowsThem) {
    EXPECT_EQ(g_Launcher.MainWindowHandle, window_);
    struct Control {
        int id;
        const char* className;
        const char* text;
        LONG style;
        HFONT font;
        HWND recorded;
        RECT rect;
    };
    const Control controls[] = {
        {1002,
         "Static",
         "",
         0x50004000,
         g_Launcher.StatusFont,
         g_Launcher.StatusLine,
         {12, 396, 440, 414}},
        {1003,
         "msctls_progress32",
         "",
         0x50000000,
         nullptr,
         g_Launcher.ProgressBar,
         {12, 418, 440, 434}},
        {1001,
         "Button",
         "Connect",
         0x5801000B,
         g_Launcher.ButtonFont,
         g_Launcher.ConnectButton,
         {18, 443, 146, 471}},
        {1005,
         "Button",
         "Register",
         0x5001000B,
         g_Launcher.ButtonFont,
         g_Launcher.RegisterButton,
         {162, 443, 290, 471}},
        {1004, "Button", "Close", 0x5001000B, g_Launcher.ButtonFont, nullptr, {306, 443, 434, 471}},
    };
    for (const Control& c : controls) {
        SCOPED_TRACE(c.id);
        HWND control = GetDlgItem(window_, c.id);
        ASSERT_NE(control, nullptr);
        if (c.id != 1004) { // Close is not recorded
            EXPECT_EQ(control, c.recorded);
        }
        char name[64] = {};
        GetClassNameA(control, name, sizeof name);
        EXPECT_STRCASEEQ(name, c.className);
        char text[64] = {};
        GetWindowTextA(control, text, sizeof text);
        EXPECT_STREQ(text, c.text);
        EXPECT_EQ(GetWindowLongA(control, GWL_STYLE), c.style);
        EXPECT_EQ(GetWindowLongA(control, GWL_EXSTYLE) & ~WS_EX_NOPARENTNOTIFY, 0);
        EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)), c.font);
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&r), 2);
        EXPECT_EQ(r.left, c.rect.left);
        EXPECT_EQ(r.top, c.rect.top);
        EXPECT_EQ(r.right, c.rect.right);
        EXPECT_EQ(r.bottom, c.rect.bottom);
    }
    PBRANGE range = {};
    SendMessageA(g_Launcher.ProgressBar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 100);
    EXPECT_EQ(SendMessageA(g_Launcher.ProgressBar, PBM_GETPOS, 0, 0), 0);
}

TEST_F(MainWindowTest, CloseCommandDestroysWhateverTheNotificationCode) {
    SendMessageA(window_, WM_COMMAND, MAKEWPARAM(1004, 0x1234), 0);
    EXPECT_FALSE(IsWindow(window_));
    EXPECT_TRUE(TakeQuitMessage());
}

TEST_F(MainWindowTest, OtherCommandsDoNothing) {
    for (int id : {1002, 1003, 0, 9999}) {
        EXPECT_EQ(SendMessageA(window_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0), 0);
    }
    EXPECT_TRUE(IsWindow(window_));
    EXPECT_TRUE(IsWindowEnabled(window_));
}

TEST_F(MainWindowTest, TimerClosesTheWindowOnlyOnceTheGameHasEnded) {
    SendMessageA(window_, WM_TIMER, 1, 0); // no game started
    EXPECT_TRUE(IsWindow(window_));

    HANDLE game = CreateEventA(nullptr, TRUE, FALSE, nullptr); // stands in for the process
    g_Launcher.GameProcess.store(game);
    SendMessageA(window_, WM_TIMER, 7, 0);
    EXPECT_TRUE(IsWindow(window_));

    SetEvent(game); // the game has ended
    SendMessageA(window_, WM_TIMER, 7, 0);
    EXPECT_FALSE(IsWindow(window_));
    EXPECT_TRUE(TakeQuitMessage());
    CloseHandle(game);
}

TEST_F(MainWindowTest, RegisterOpensCentredOwnedPopupWhileMainWindowIsDisabled) {
    RECT mainRect;
    GetWindowRect(window_, &mainRect);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        g_seen = DialogObservation();
        lstrcpyW(RegisterStatusText, L"Tai khoan da ton tai");
        SetTimer(nullptr, 0, 20, ObserveDialog);
        EXPECT_EQ(SendMessageA(window_, WM_COMMAND, MAKEWPARAM(1005, BN_CLICKED), 0), 0);

        ASSERT_NE(g_seen.dialog, nullptr);
        EXPECT_FALSE(g_seen.mainEnabled);
        EXPECT_TRUE(g_seen.statusEmpty);
        EXPECT_EQ(g_seen.owner, window_);
        EXPECT_EQ(static_cast<DWORD>(g_seen.style) & (WS_POPUP | WS_CAPTION | WS_CHILD),
                  static_cast<DWORD>(WS_POPUP));
        EXPECT_EQ(g_seen.rect.right - g_seen.rect.left, 452);
        EXPECT_EQ(g_seen.rect.bottom - g_seen.rect.top, 346);
        EXPECT_EQ(g_seen.rect.left, mainRect.left + ((mainRect.right - mainRect.left) - 452) / 2);
        EXPECT_EQ(g_seen.rect.top, mainRect.top + ((mainRect.bottom - mainRect.top) - 346) / 2);
        // The loop has ended with the dialog and given the main window back.
        EXPECT_TRUE(IsWindowEnabled(window_));
        EXPECT_TRUE(IsWindow(window_));
    }
}

TEST_F(MainWindowTest, MainWindowDestroyedDuringRegisterEndsLoopAndKeepsQuitQueued) {
    g_seen.destroyMain = true;
    SetTimer(nullptr, 0, 20, ObserveDialog);
    SendMessageA(window_, WM_COMMAND, MAKEWPARAM(1005, BN_CLICKED), 0);
    ASSERT_NE(g_seen.dialog, nullptr);
    EXPECT_FALSE(IsWindow(window_));
    EXPECT_FALSE(IsWindow(g_seen.dialog)); // owned windows go with their owner
    EXPECT_TRUE(TakeQuitMessage());
}

TEST_F(MainWindowTest, WorkerThatCannotStartLeavesTheGamePlayable) {
    EXPECT_TRUE(RecordedOpLines().empty()); // a started worker changes nothing by itself
    DestroyWindow(window_);
    TakeQuitMessage();
    g_WorkerStartSucceeds = false;
    window_ = Create();
    g_WorkerStartSucceeds = true;
    ASSERT_NE(window_, nullptr);
    EXPECT_EQ(RecordedOpLines(),
              (std::vector<std::string>{"status:Khong chay duoc cap nhat - dung file hien tai",
                                        "connect:1"}));
}

} // namespace
