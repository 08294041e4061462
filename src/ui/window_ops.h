// The operations through which the update run and the transfer layer change the main
// window. Each is callable from any thread; all but RequestClose wait until the main
// thread has carried them out. Tests link a recorder in place of window_ops.cpp.
#pragma once

void SetStatus(const char* text);
void SetProgress(int position);
void EnableConnect(bool enabled);
void EnableRegister(bool enabled);
void RequestClose();
