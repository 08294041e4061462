// Window operations on the real controls. The worker never waits for the main thread: its
// calls update a record of what the window should show and post the main window one
// message, on which the main thread applies the record. The main thread applies it in one
// go before it paints again, so keeping only the latest text, position and button states
// shows exactly what carrying out every call in order would have shown, and a text set
// before a button change is never on screen later than that change.
#include "ui/window_ops.h"

#include <windows.h>
#include <commctrl.h>

#include "app/launcher_state.h"

namespace {

// The longest status text any caller builds, terminator included.
constexpr size_t kPendingTextCapacity = 512;

struct PendingOps {
    bool Posted; // a kWindowOpsMessage is on its way
    bool HasStatus;
    bool HasProgress;
    bool HasConnect;
    bool HasRegister;
    bool Close;
    bool Connect;
    bool Register;
    int Progress;
    char Status[kPendingTextCapacity];
};

SRWLOCK g_PendingLock = SRWLOCK_INIT;
PendingOps g_Pending;

// Also true before the window exists: the calls then act on null handles, as they always
// did, instead of posting to no window.
bool OnWindowThread() {
    HWND window = g_Launcher.MainWindowHandle;
    return window == nullptr || GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

void ApplyStatus(const char* text) {
    SetWindowTextA(g_Launcher.StatusLine, text);
}
void ApplyProgress(int position) {
    SendMessageA(g_Launcher.ProgressBar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}
void ApplyConnect(bool enabled) {
    EnableWindow(g_Launcher.ConnectButton, enabled ? TRUE : FALSE);
}
void ApplyRegister(bool enabled) {
    EnableWindow(g_Launcher.RegisterButton, enabled ? TRUE : FALSE);
}
void ApplyClose() {
    PostMessageA(g_Launcher.MainWindowHandle, WM_CLOSE, 0, 0);
}

// Notes a change for the main thread; posts the message only when none is on its way.
template <typename Change> void Hand(Change change) {
    AcquireSRWLockExclusive(&g_PendingLock);
    change(g_Pending);
    const bool post = !g_Pending.Posted;
    g_Pending.Posted = true;
    ReleaseSRWLockExclusive(&g_PendingLock);
    if (post && !PostMessageA(g_Launcher.MainWindowHandle, kWindowOpsMessage, 0, 0)) {
        // The window is gone or its queue is full; a later call tries again.
        AcquireSRWLockExclusive(&g_PendingLock);
        g_Pending.Posted = false;
        ReleaseSRWLockExclusive(&g_PendingLock);
    }
}

} // namespace

void ApplyPendingWindowOps() {
    PendingOps ops;
    AcquireSRWLockExclusive(&g_PendingLock);
    ops = g_Pending;
    g_Pending.Posted = false;
    g_Pending.HasStatus = g_Pending.HasProgress = false;
    g_Pending.HasConnect = g_Pending.HasRegister = g_Pending.Close = false;
    ReleaseSRWLockExclusive(&g_PendingLock);

    if (ops.HasStatus) {
        ApplyStatus(ops.Status);
    }
    if (ops.HasProgress) {
        ApplyProgress(ops.Progress);
    }
    if (ops.HasConnect) {
        ApplyConnect(ops.Connect);
    }
    if (ops.HasRegister) {
        ApplyRegister(ops.Register);
    }
    if (ops.Close) {
        ApplyClose();
    }
}

// On the main thread, what other threads asked for earlier is applied first, so the calls
// of both threads reach the window in the order they were made.
void SetStatus(const char* text) {
    if (OnWindowThread()) {
        ApplyPendingWindowOps();
        ApplyStatus(text);
        return;
    }
    Hand([text](PendingOps& p) {
        lstrcpynA(p.Status, text != nullptr ? text : "", static_cast<int>(sizeof p.Status));
        p.HasStatus = true;
    });
}

void SetProgress(int position) {
    if (OnWindowThread()) {
        ApplyPendingWindowOps();
        ApplyProgress(position);
        return;
    }
    Hand([position](PendingOps& p) {
        p.Progress = position;
        p.HasProgress = true;
    });
}

void EnableConnect(bool enabled) {
    if (OnWindowThread()) {
        ApplyPendingWindowOps();
        ApplyConnect(enabled);
        return;
    }
    Hand([enabled](PendingOps& p) {
        p.Connect = enabled;
        p.HasConnect = true;
    });
}

void EnableRegister(bool enabled) {
    if (OnWindowThread()) {
        ApplyPendingWindowOps();
        ApplyRegister(enabled);
        return;
    }
    Hand([enabled](PendingOps& p) {
        p.Register = enabled;
        p.HasRegister = true;
    });
}

void RequestClose() {
    if (OnWindowThread()) {
        ApplyPendingWindowOps();
        ApplyClose();
        return;
    }
    Hand([](PendingOps& p) { p.Close = true; });
}
