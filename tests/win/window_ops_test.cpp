// The real window operations against a main window on this thread, called from a second
// thread as the update worker calls them: the worker never waits for the main thread, and
// what the window shows follows the worker's calls in order.
#include "ui/window_ops.h"

#include <windows.h>
#include <commctrl.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/startup.h"
#include "app/update_worker_start.h"
#include "system/launcher_state.h"
#include "window_environment.h"

// This program has the real window operations but no update worker: the tests own every
// change of the window.
bool StartUpdateWorker() {
    return true;
}

namespace {

constexpr int kSteps = 400;

std::string StepText(int step) {
    char text[64];
    snprintf(text, sizeof text, "Dang kiem tra data\\file%03d.bin (%d/%d)", step, step, kSteps);
    return text;
}

// Connect after step s of the worker below: it flips after every tenth text.
bool ConnectAfterStep(int step) {
    return (step / 10) % 2 == 1;
}

// The worker's side: a text and a position per step, a button change after every tenth
// text, the last step's text, and finally the end state of a run.
DWORD WINAPI OrderedWorker(void*) {
    for (int step = 1; step <= kSteps; ++step) {
        SetStatus(StepText(step).c_str());
        SetProgress(step * 100 / kSteps);
        if (step % 10 == 0) {
            EnableConnect(ConnectAfterStep(step));
            Sleep(1); // lets the main thread look in between
        }
    }
    SetStatus("Client da moi nhat");
    SetProgress(100);
    EnableConnect(true);
    EnableRegister(false);
    return 0;
}

struct Seen {
    std::string status;
    bool connect;
};

Seen ReadWindow() {
    char text[128] = {};
    GetWindowTextA(g_Launcher.StatusLine, text, sizeof text);
    return Seen{text, IsWindowEnabled(g_Launcher.ConnectButton) != FALSE};
}

// The step whose text is shown, 0 before the first, kSteps + 1 for the final text.
int StepOf(const std::string& status) {
    if (status == "Client da moi nhat") {
        return kSteps + 1;
    }
    for (int step = 1; step <= kSteps; ++step) {
        if (status == StepText(step)) {
            return step;
        }
    }
    return status.empty() ? 0 : -1;
}

class WindowOpsTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { PrepareWindowEnvironment(); }

    void SetUp() override {
        window_ = CreateMainWindow();
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override { DestroyUnhandled(); }

    static HWND CreateMainWindow() {
        return CreateWindowExA(0, kMainWindowClass, "Window Ops Test", kMainWindowStyle, 0, 0, 470,
                               530, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    }
    // Destroys the window with whatever was still on its way to it left unhandled.
    void DestroyUnhandled() {
        if (IsWindow(window_)) {
            DestroyWindow(window_);
        }
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    HWND window_ = nullptr;
};

// A slow main thread (2 ms per message) sees the worker's calls in order: every state it
// finds is one the worker passed through, the texts never go back, a button change never
// shows before the text set ahead of it, and the end state is that of the last calls.
TEST_F(WindowOpsTest, SlowMainThreadSeesTheWorkersCallsInOrder) {
    HANDLE thread = CreateThread(nullptr, 0, OrderedWorker, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    std::vector<Seen> seen;
    const DWORD start = GetTickCount();
    bool ended = false;
    while (!ended && GetTickCount() - start < 20000) {
        ended = WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
            seen.push_back(ReadWindow());
            Sleep(2);
        }
    }
    CloseHandle(thread);
    ASSERT_TRUE(ended);

    int previous = 0;
    for (const Seen& s : seen) {
        const int step = StepOf(s.status);
        ASSERT_GE(step, previous) << s.status;
        previous = step;
        if (step >= 1 && step <= kSteps) {
            // After step's text, Connect is as the worker left it before or after that step.
            const bool before = ConnectAfterStep(step - 1);
            const bool after = ConnectAfterStep(step);
            EXPECT_TRUE(s.connect == before || s.connect == after) << s.status;
        }
    }
    Seen last = ReadWindow();
    EXPECT_EQ(last.status, "Client da moi nhat");
    EXPECT_TRUE(last.connect);
    EXPECT_EQ(SendMessageA(g_Launcher.ProgressBar, PBM_GETPOS, 0, 0), 100);
    EXPECT_FALSE(IsWindowEnabled(g_Launcher.RegisterButton));
}

// The worker finishes its calls while the main thread handles no message for a second;
// the window then catches up with one message. A message that found nothing noted just
// before, right after the window was updated, changed nothing: no timer is left armed for
// which each button change would post again.
TEST_F(WindowOpsTest, WorkerFinishesWhileTheMainThreadIsBlocked) {
    SetProgress(0);
    ApplyPendingWindowOps();
    HANDLE thread = CreateThread(nullptr, 0, OrderedWorker, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    const DWORD waited = WaitForSingleObject(thread, 1000); // no messages handled meanwhile
    CloseHandle(thread);
    ASSERT_EQ(waited, WAIT_OBJECT_0);
    EXPECT_EQ(ReadWindow().status, ""); // nothing was carried out behind the main thread

    int handled = 0;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        handled += message.message == kWindowOpsMessage ? 1 : 0;
        DispatchMessageA(&message);
    }
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(ReadWindow().status, "Client da moi nhat");
    EXPECT_TRUE(IsWindowEnabled(g_Launcher.ConnectButton));
    EXPECT_EQ(SendMessageA(g_Launcher.ProgressBar, PBM_GETPOS, 0, 0), 100);
}

DWORD WINAPI SetTextB(void*) {
    SetStatus("b");
    SetProgress(42);
    return 0;
}

DWORD WINAPI SetTextC(void*) {
    SetStatus("c");
    return 0;
}

// Handles messages, timers included, until the status line shows the text or timeoutMs
// have passed.
bool PumpUntilShown(const char* text, DWORD timeoutMs = 5000) {
    const DWORD start = GetTickCount();
    while (ReadWindow().status != text && GetTickCount() - start < timeoutMs) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
    }
    return ReadWindow().status == text;
}

void RunToEnd(LPTHREAD_START_ROUTINE worker) {
    HANDLE thread = CreateThread(nullptr, 0, worker, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

// A text that follows the last one closely may be held back to spare a repaint, but the
// worker's last text and position still reach the window with no call after them, and
// later calls are carried out again.
TEST_F(WindowOpsTest, TextsHeldBackStillReachTheWindow) {
    SetStatus("a");
    RunToEnd(SetTextB);
    ASSERT_TRUE(PumpUntilShown("b"));
    EXPECT_EQ(SendMessageA(g_Launcher.ProgressBar, PBM_GETPOS, 0, 0), 42);
    RunToEnd(SetTextC);
    EXPECT_TRUE(PumpUntilShown("c"));
}

DWORD WINAPI OnlineThenAgainAfterTheGame(void* events) {
    HANDLE* handover = static_cast<HANDLE*>(events);
    SetStatus("Server dang online - san sang vao game");
    EnableConnect(true);
    SetEvent(handover[0]);
    WaitForSingleObject(handover[1], INFINITE);
    EnableConnect(true);
    SetStatus("Server dang online - san sang vao game");
    return 0;
}

// Calls the main thread makes between the worker's take their place in the order: the
// worker's earlier calls, still on their way, do not come after them, and the worker's
// later calls are carried out even where they ask for what it asked for before.
TEST_F(WindowOpsTest, MainThreadCallsBetweenTheWorkersKeepTheirPlace) {
    HANDLE handover[2] = {CreateEventA(nullptr, TRUE, FALSE, nullptr),
                          CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    ASSERT_NE(handover[0], nullptr);
    ASSERT_NE(handover[1], nullptr);
    HANDLE thread = CreateThread(nullptr, 0, OnlineThenAgainAfterTheGame, handover, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(handover[0], 10000), WAIT_OBJECT_0); // no message handled
    SetStatus("Dang chay game...");                                    // as the game start does
    EnableConnect(false);
    // The worker's message is still queued; a held-back text would come within a few ticks.
    EXPECT_FALSE(PumpUntilShown("Server dang online - san sang vao game", 200));
    EXPECT_EQ(ReadWindow().status, "Dang chay game...");
    EXPECT_FALSE(ReadWindow().connect);

    SetEvent(handover[1]);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(handover[0]);
    CloseHandle(handover[1]);
    EXPECT_TRUE(PumpUntilShown("Server dang online - san sang vao game"));
    EXPECT_TRUE(ReadWindow().connect);
}

DWORD WINAPI EndOfRun(void*) {
    SetStatus("Client da moi nhat");
    EnableConnect(true);
    EnableRegister(false);
    return 0;
}

// A window that never handled what the worker sent it leaves nothing to the next main
// window: neither a message it counts on being on its way, nor what was asked for last.
TEST_F(WindowOpsTest, NothingOfOneWindowReachesTheNext) {
    RunToEnd(EndOfRun);
    DestroyUnhandled();
    window_ = CreateMainWindow();
    ASSERT_NE(window_, nullptr);
    RunToEnd(EndOfRun);
    EXPECT_TRUE(PumpUntilShown("Client da moi nhat"));
    EXPECT_TRUE(ReadWindow().connect);
    EXPECT_FALSE(IsWindowEnabled(g_Launcher.RegisterButton));
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
