// The operations through which the update run and the transfer layer change the main
// window. Each is callable from any thread. On the main thread a call acts at once; from
// another thread it is handed to the main thread and returns without waiting. Tests link a
// recorder in place of window_ops.cpp.
#pragma once

void SetStatus(const char* text);
void SetProgress(int position);
void EnableConnect(bool enabled);
void EnableRegister(bool enabled);
void RequestClose();

// Forgets everything noted for an earlier main window (what it was asked to show, and any
// message or timer that was on its way to it), so that nothing of it reaches the new one.
// Called by the main window when it is created, before anything can call the operations.
void ResetWindowOps();

// The message (WM_APP + 1) posted to the main window when calls from another thread are
// waiting; its window procedure answers it with ApplyPendingWindowOps.
constexpr unsigned kWindowOpsMessage = 0x8001;

// Carries out, on the main thread, what other threads have asked for since the last time;
// texts and bar positions that come too soon after the last ones are left to the timer
// kWindowOpsTimerId on the main window, whose WM_TIMER is answered with
// ApplyDeferredWindowOps.
void ApplyPendingWindowOps();
void ApplyDeferredWindowOps();
constexpr unsigned kWindowOpsTimerId = 0x8001;
