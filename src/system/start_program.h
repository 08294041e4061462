// Starting a program that may have been written a moment ago.
#pragma once

#include <windows.h>

void SleepBetweenStarts(DWORD ms);

// How often and how far apart a start is tried again; tests shorten the wait, or replace
// it to act between two attempts.
struct StartRetry {
    int Attempts = 10;
    DWORD DelayMs = 200;
    void (*Wait)(DWORD ms) = SleepBetweenStarts;
};
extern StartRetry g_StartRetry;

// Which failures a start waits out. A file someone holds open gives a sharing violation,
// and often access denied; but access denied is also what a folder or a file without the
// right to run gives, for good. Waiting that out is worth it only on the worker thread,
// where it costs the player nothing; on the main thread it would freeze the window for
// about two seconds before the error shows.
enum class StartWaitsOut {
    SharingViolation,
    SharingViolationOrAccessDenied,
};

// CreateProcessA with the same arguments, tried again while it fails for one of the
// reasons of waitsOut, up to g_StartRetry.Attempts times. On failure GetLastError tells
// the last reason.
bool StartProgram(const char* applicationName, char* commandLine, DWORD creationFlags,
                  const char* currentDirectory, STARTUPINFOA* startup, PROCESS_INFORMATION* process,
                  StartWaitsOut waitsOut);
