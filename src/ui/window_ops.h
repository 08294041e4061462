// The operations through which the update run and the transfer layer change the main
// window, and the start of the worker that uses them. Each is callable from any thread.
// On the main thread a call acts at once; from another thread it is handed to the main
// thread and returns without waiting. Tests link a recorder in place of window_ops.cpp
// and update_worker_start.cpp.
#pragma once

void SetStatus(const char* text);
void SetProgress(int position);
void EnableConnect(bool enabled);
void EnableRegister(bool enabled);
void RequestClose();

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

// Starts the update worker thread, once, and lets go of its handle. False when the thread
// could not be created. Tests link a version that starts nothing.
bool StartUpdateWorker();
