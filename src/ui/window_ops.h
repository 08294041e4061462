// The operations through which the update run and the transfer layer change the main
// window, and the start of the worker that uses them. Each is callable from any thread;
// all but RequestClose wait until the main thread has carried them out. Tests link a
// recorder in place of window_ops.cpp and update_worker_start.cpp.
#pragma once

void SetStatus(const char* text);
void SetProgress(int position);
void EnableConnect(bool enabled);
void EnableRegister(bool enabled);
void RequestClose();

// Starts the update worker thread, once, and lets go of its handle. False when the thread
// could not be created. Tests link a version that starts nothing.
bool StartUpdateWorker();
