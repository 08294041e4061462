// Window operations on the real controls. The worker never waits for the main thread: its
// calls update a record of what the window should show and post the main window one
// message, on which the main thread applies the record. The main thread applies it in one
// go before it paints again, so keeping only the latest text, position and button states
// shows exactly what carrying out every call in order would have shown, and a text set
// before a button change is never on screen later than that change. A call that asks for
// what was last asked for costs no message (a download repeats one text for many pieces).
// Texts and bar positions reach the window at most once per kRepaintSpacingMs: under Wine a
// repaint costs more than checking a small file, so a message that comes sooner leaves them
// to a timer, and the worker posts nothing more meanwhile. A button change or the close
// request is never held back; it takes the texts before it along.
#include "ui/window_ops.h"

#include <windows.h>
#include <commctrl.h>

#include <cstring>

#include "base/text.h"
#include "system/launcher_state.h"

namespace {

// What the window is to show; each part only once it has been asked for.
struct WindowRequest {
    bool HasStatus;
    bool HasProgress;
    bool HasConnect;
    bool HasRegister;
    bool Close;
    bool Connect;
    bool Register;
    int Progress;
    char Status[kStatusTextCapacity]; // the longest text any caller builds
};

constexpr ULONGLONG kRepaintSpacingMs = 15;

SRWLOCK g_Lock = SRWLOCK_INIT;
WindowRequest g_Pending;   // asked for by other threads, not yet applied
WindowRequest g_Requested; // the latest asked for by any thread, applied or not
bool g_Posted;             // a kWindowOpsMessage is on its way, or the timer is set
bool g_Deferred;           // the timer is set; a button change or close posts again
ULONGLONG g_LastApplied;   // main thread only: when texts last reached the window

// Also true before the window exists: the calls then act on null handles, as they always
// did, instead of posting to no window.
bool OnWindowThread() {
    HWND window = g_Launcher.MainWindowHandle;
    return window == nullptr || GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

void Apply(const WindowRequest& r) {
    if (r.HasStatus) {
        SetWindowTextA(g_Launcher.StatusLine, r.Status);
    }
    if (r.HasProgress) {
        SendMessageA(g_Launcher.ProgressBar, PBM_SETPOS, static_cast<WPARAM>(r.Progress), 0);
    }
    if (r.HasConnect) {
        EnableWindow(g_Launcher.ConnectButton, r.Connect ? TRUE : FALSE);
    }
    if (r.HasRegister) {
        EnableWindow(g_Launcher.RegisterButton, r.Register ? TRUE : FALSE);
    }
    if (r.Close) {
        PostMessageA(g_Launcher.MainWindowHandle, WM_CLOSE, 0, 0);
    }
}

// Folds one call into a request; false when it asks for nothing new.
bool Fold(WindowRequest& r, const WindowRequest& call) {
    bool changed = false;
    if (call.HasStatus && !(r.HasStatus && strcmp(r.Status, call.Status) == 0)) {
        memcpy(r.Status, call.Status, sizeof r.Status);
        r.HasStatus = changed = true;
    }
    if (call.HasProgress && !(r.HasProgress && r.Progress == call.Progress)) {
        r.Progress = call.Progress;
        r.HasProgress = changed = true;
    }
    if (call.HasConnect && !(r.HasConnect && r.Connect == call.Connect)) {
        r.Connect = call.Connect;
        r.HasConnect = changed = true;
    }
    if (call.HasRegister && !(r.HasRegister && r.Register == call.Register)) {
        r.Register = call.Register;
        r.HasRegister = changed = true;
    }
    if (call.Close) {
        r.Close = changed = true;
    }
    return changed;
}

// Takes what other threads asked for; the caller holds g_Lock.
WindowRequest TakePending() {
    WindowRequest pending = g_Pending;
    g_Pending.HasStatus = g_Pending.HasProgress = false;
    g_Pending.HasConnect = g_Pending.HasRegister = g_Pending.Close = false;
    g_Posted = false;
    g_Deferred = false;
    return pending;
}

bool Urgent(const WindowRequest& r) {
    return r.HasConnect || r.HasRegister || r.Close;
}

// On the main thread a call acts at once, after what other threads asked for earlier, so
// the calls of both threads reach the window in the order they were made (taking those and
// noting this call is one step under the lock). From another thread a call is noted and the
// message posted, unless one is already on its way.
void Request(const WindowRequest& call) {
    if (OnWindowThread()) {
        AcquireSRWLockExclusive(&g_Lock);
        const WindowRequest earlier = TakePending();
        Fold(g_Requested, call);
        g_Requested.Close = false;
        ReleaseSRWLockExclusive(&g_Lock);
        g_LastApplied = GetTickCount64();
        Apply(earlier);
        Apply(call);
        return;
    }
    AcquireSRWLockExclusive(&g_Lock);
    const bool changed = Fold(g_Requested, call);
    g_Requested.Close = false;
    bool post = false;
    if (changed) {
        Fold(g_Pending, call);
        post = !g_Posted || (g_Deferred && Urgent(call));
        g_Posted = true;
    }
    ReleaseSRWLockExclusive(&g_Lock);
    if (post && !PostMessageA(g_Launcher.MainWindowHandle, kWindowOpsMessage, 0, 0)) {
        // The window is gone or its queue is full; a later call tries again.
        AcquireSRWLockExclusive(&g_Lock);
        g_Posted = false;
        ReleaseSRWLockExclusive(&g_Lock);
    }
}

} // namespace

void ApplyPendingWindowOps() {
    const ULONGLONG now = GetTickCount64();
    const ULONGLONG since = now - g_LastApplied;
    AcquireSRWLockExclusive(&g_Lock);
    if (!Urgent(g_Pending) && since < kRepaintSpacingMs) {
        if (!g_Deferred) {
            g_Deferred = SetTimer(g_Launcher.MainWindowHandle, kWindowOpsTimerId,
                                  static_cast<UINT>(kRepaintSpacingMs - since), nullptr) != 0;
        }
        if (g_Deferred) {
            ReleaseSRWLockExclusive(&g_Lock);
            return;
        }
    }
    const bool timerSet = g_Deferred;
    const WindowRequest pending = TakePending();
    ReleaseSRWLockExclusive(&g_Lock);
    if (timerSet) {
        KillTimer(g_Launcher.MainWindowHandle, kWindowOpsTimerId);
    }
    g_LastApplied = now;
    Apply(pending);
}

void ApplyDeferredWindowOps() {
    AcquireSRWLockExclusive(&g_Lock);
    const WindowRequest pending = TakePending();
    ReleaseSRWLockExclusive(&g_Lock);
    KillTimer(g_Launcher.MainWindowHandle, kWindowOpsTimerId);
    g_LastApplied = GetTickCount64();
    Apply(pending);
}

void SetStatus(const char* text) {
    WindowRequest call = {};
    call.HasStatus = true;
    lstrcpynA(call.Status, text != nullptr ? text : "", static_cast<int>(sizeof call.Status));
    Request(call);
}

void SetProgress(int position) {
    WindowRequest call = {};
    call.HasProgress = true;
    call.Progress = position;
    Request(call);
}

void EnableConnect(bool enabled) {
    WindowRequest call = {};
    call.HasConnect = true;
    call.Connect = enabled;
    Request(call);
}

void EnableRegister(bool enabled) {
    WindowRequest call = {};
    call.HasRegister = true;
    call.Register = enabled;
    Request(call);
}

void RequestClose() {
    WindowRequest call = {};
    call.Close = true;
    Request(call);
}
