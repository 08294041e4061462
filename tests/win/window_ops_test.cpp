// The real window operations against a main window on this thread, called from a second
// thread as the update worker calls them: each has taken effect when it returns, while
// the main thread keeps handling messages.
#include "ui/window_ops.h"

#include <windows.h>
#include <commctrl.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <string>

#include "app/main_window.h"
#include "app/startup.h"
#include "system/launcher_state.h"
#include "window_environment.h"

// This program has the real window operations but no update worker: the tests own every
// change of the window.
bool StartUpdateWorker() {
    return true;
}

namespace {

// What the worker thread saw right after each call returned.
struct WorkerView {
    std::string status;
    LRESULT progress = -1;
    BOOL connectAfterEnable = FALSE;
    BOOL connectAfterDisable = TRUE;
    BOOL registerAfterDisable = TRUE;
    BOOL registerAfterEnable = FALSE;
};

DWORD WINAPI Worker(void* param) {
    WorkerView* view = static_cast<WorkerView*>(param);
    SetStatus("Dang kiem tra file 3/12: data\\map.bin");
    char text[128] = {};
    GetWindowTextA(g_Launcher.StatusLine, text, sizeof text);
    view->status = text;

    SetProgress(100);
    view->progress = SendMessageA(g_Launcher.ProgressBar, PBM_GETPOS, 0, 0);

    EnableConnect(true);
    view->connectAfterEnable = IsWindowEnabled(g_Launcher.ConnectButton);
    EnableConnect(false);
    view->connectAfterDisable = IsWindowEnabled(g_Launcher.ConnectButton);
    EnableRegister(false);
    view->registerAfterDisable = IsWindowEnabled(g_Launcher.RegisterButton);
    EnableRegister(true);
    view->registerAfterEnable = IsWindowEnabled(g_Launcher.RegisterButton);
    return 0;
}

// Handles messages until the thread ends, as the main loop does.
bool PumpUntil(HANDLE thread, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD waited = GetTickCount() - start;
        if (waited >= timeoutMs) {
            return false;
        }
        DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, timeoutMs - waited, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) {
            return true;
        }
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

class WindowOpsTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { PrepareWindowEnvironment(); }

    void SetUp() override {
        window_ = CreateWindowExA(0, kMainWindowClass, "Window Ops Test", kMainWindowStyle, 0, 0,
                                  470, 530, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override {
        if (IsWindow(window_)) {
            DestroyWindow(window_);
        }
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    HWND window_ = nullptr;
};

TEST_F(WindowOpsTest, CallsFromAnotherThreadHaveTakenEffectWhenTheyReturn) {
    WorkerView view;
    HANDLE thread = CreateThread(nullptr, 0, Worker, &view, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    const bool ended = PumpUntil(thread, 10000);
    CloseHandle(thread);
    ASSERT_TRUE(ended);
    EXPECT_EQ(view.status, "Dang kiem tra file 3/12: data\\map.bin");
    EXPECT_EQ(view.progress, 100);
    EXPECT_TRUE(view.connectAfterEnable);
    EXPECT_FALSE(view.connectAfterDisable);
    EXPECT_FALSE(view.registerAfterDisable);
    EXPECT_TRUE(view.registerAfterEnable);
}

TEST_F(WindowOpsTest, CallsOnTheMainThreadActAtOnce) {
    SetStatus("Dang chay game...");
    char text[64] = {};
    GetWindowTextA(g_Launcher.StatusLine, text, sizeof text);
    EXPECT_STREQ(text, "Dang chay game...");
    SetProgress(37);
    EXPECT_EQ(SendMessageA(g_Launcher.ProgressBar, PBM_GETPOS, 0, 0), 37);
    EnableConnect(false);
    EXPECT_FALSE(IsWindowEnabled(g_Launcher.ConnectButton));
}

TEST_F(WindowOpsTest, CloseRequestIsPostedAndEndsWithQuitCodeZero) {
    RequestClose();
    EXPECT_TRUE(IsWindow(window_)); // nothing happens until the message is handled
    MSG message = {};
    bool quit = false;
    while (!quit && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            quit = true;
        } else {
            DispatchMessageA(&message);
        }
    }
    EXPECT_FALSE(IsWindow(window_));
    ASSERT_TRUE(quit);
    EXPECT_EQ(message.wParam, 0u);
}

} // namespace
