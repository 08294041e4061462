// Starting a program that may have been written a moment ago.
#pragma once

#include <windows.h>

// How often and how far apart a start is tried again; tests shorten the wait.
struct StartRetry {
    int Attempts = 10;
    DWORD DelayMs = 200;
};
extern StartRetry g_StartRetry;

// CreateProcessA with the same arguments, tried again while the program file is held by
// someone else (a sharing violation or access denied), up to g_StartRetry.Attempts times.
// On failure GetLastError tells the last reason.
bool StartProgram(const char* applicationName, char* commandLine, DWORD creationFlags,
                  const char* currentDirectory, STARTUPINFOA* startup,
                  PROCESS_INFORMATION* process);
