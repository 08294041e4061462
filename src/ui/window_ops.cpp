// Window operations on the real controls. The worker never waits for the main thread: its
// calls update a record of what the window should show and post the main window one
// message, on which the main thread applies the record. The main thread applies it in one
// go before it paints again, so keeping only the latest text, position and button states
// shows exactly what carrying out every call in order would have shown, and a text set
// before a button change is never on screen later than that change. A call that asks for
// what was last asked for costs no message (a download repeats one text for many pieces).
// Texts and bar positions reach the window about once per timer tick: under Wine a repaint
// costs more than checking a small file, so a message that comes within kRepaintSpacingMs
// of the last repaint leaves them to a timer, and the worker posts nothing more meanwhile.
// Windows rounds a timer up to its tick (15.6 ms), so a held-back text can reach the window
// up to about 31 ms after it was set. A button change or the close request is never held
// back; it takes the texts before it along.
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

// How what other threads noted is on its way to the main thread.
enum class Delivery {
    Idle,       // nothing: the next call that asks for something new posts the message
    Posted,     // the message is on its way and applies everything noted when it arrives
    TimerArmed, // the timer applies the texts; a button change or close posts the message too
};

// Everything the operations keep about one main window; ResetWindowOps starts it afresh.
struct WindowOpsState {
    Delivery Stage;
    WindowRequest Pending;   // asked for by other threads, not yet applied
    WindowRequest Requested; // the latest asked for by any thread, applied or not
    ULONGLONG LastApplied;   // main thread only: when texts last reached the window
};

SRWLOCK g_Lock = SRWLOCK_INIT;
WindowOpsState g_State; // under g_Lock, except LastApplied

// Also true before the window exists: with no window to hand them to, the calls act at
// once on the null handles, which changes nothing.
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

bool AsksForAnything(const WindowRequest& r) {
    return r.HasStatus || r.HasProgress || r.HasConnect || r.HasRegister || r.Close;
}

bool Urgent(const WindowRequest& r) {
    return r.HasConnect || r.HasRegister || r.Close;
}

// Notes a call of any thread as the latest asked for; false when it asks for nothing new.
// A close is done once asked for, so it is never "what was last asked for". The caller
// holds g_Lock.
bool NoteRequested(const WindowRequest& call) {
    const bool changed = Fold(g_State.Requested, call);
    g_State.Requested.Close = false;
    return changed;
}

// What the main thread took to apply, and whether the timer was armed to bring it.
struct Taken {
    WindowRequest Request;
    bool TimerArmed;
};

// Takes everything other threads noted, for the main thread to apply now: nothing is on
// its way any more (a message still queued finds nothing). The caller holds g_Lock and,
// once it has let go, passes the result to ShowTaken.
Taken TakeNoted() {
    Taken taken = {g_State.Pending, g_State.Stage == Delivery::TimerArmed};
    g_State.Pending.HasStatus = g_State.Pending.HasProgress = false;
    g_State.Pending.HasConnect = g_State.Pending.HasRegister = g_State.Pending.Close = false;
    g_State.Stage = Delivery::Idle;
    return taken;
}

void ShowTaken(const Taken& taken) {
    if (taken.TimerArmed) {
        KillTimer(g_Launcher.MainWindowHandle, kWindowOpsTimerId);
    }
    g_State.LastApplied = GetTickCount64();
    Apply(taken.Request);
}

// On the main thread a call acts at once, after what other threads asked for earlier, so
// the calls of both threads reach the window in the order they were made (taking those and
// noting this call is one step under the lock). From another thread a call is noted and
// the message posted unless one is on its way; while the timer is armed only a button
// change or the close request posts, since the timer brings the texts. Posting under the
// lock keeps Posted true to what is queued; PostMessageA does not wait for the main thread.
void Request(const WindowRequest& call) {
    AcquireSRWLockExclusive(&g_Lock);
    if (OnWindowThread()) {
        const Taken earlier = TakeNoted();
        NoteRequested(call);
        ReleaseSRWLockExclusive(&g_Lock);
        ShowTaken(earlier);
        Apply(call);
        return;
    }
    if (NoteRequested(call)) {
        Fold(g_State.Pending, call);
        const Delivery now = g_State.Stage;
        // A post that fails (the window is gone, or its queue is full) leaves the delivery
        // as it was, so a later call tries again.
        if ((now == Delivery::Idle || (now == Delivery::TimerArmed && Urgent(call))) &&
            PostMessageA(g_Launcher.MainWindowHandle, kWindowOpsMessage, 0, 0) &&
            now == Delivery::Idle) {
            g_State.Stage = Delivery::Posted;
        }
    }
    ReleaseSRWLockExclusive(&g_Lock);
}

} // namespace

void ResetWindowOps() {
    AcquireSRWLockExclusive(&g_Lock);
    g_State = WindowOpsState{};
    ReleaseSRWLockExclusive(&g_Lock);
}

// A message that finds nothing noted changes nothing: what posted it was taken care of
// by a main-thread call or by the timer in the meantime.
void ApplyPendingWindowOps() {
    AcquireSRWLockExclusive(&g_Lock);
    if (!AsksForAnything(g_State.Pending)) {
        ReleaseSRWLockExclusive(&g_Lock);
        return;
    }
    const ULONGLONG since = GetTickCount64() - g_State.LastApplied;
    if (!Urgent(g_State.Pending) && since < kRepaintSpacingMs) {
        if (g_State.Stage != Delivery::TimerArmed &&
            SetTimer(g_Launcher.MainWindowHandle, kWindowOpsTimerId,
                     static_cast<UINT>(kRepaintSpacingMs - since), nullptr) != 0) {
            g_State.Stage = Delivery::TimerArmed;
        }
        if (g_State.Stage == Delivery::TimerArmed) {
            ReleaseSRWLockExclusive(&g_Lock);
            return;
        }
        // No timer to be had: the texts go now.
    }
    const Taken taken = TakeNoted();
    ReleaseSRWLockExclusive(&g_Lock);
    ShowTaken(taken);
}

void ApplyDeferredWindowOps() {
    AcquireSRWLockExclusive(&g_Lock);
    Taken taken = TakeNoted();
    ReleaseSRWLockExclusive(&g_Lock);
    taken.TimerArmed = true; // it fired, and repeats until it is killed
    ShowTaken(taken);
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
