// StartProgram: a just-written executable is often held open for a moment, on Windows
// mostly by a virus scanner reading it; its start then fails although the file is fine.
#include "system/start_program.h"

StartRetry g_StartRetry;

void SleepBetweenStarts(DWORD ms) {
    Sleep(ms);
}

bool StartProgram(const char* applicationName, char* commandLine, DWORD creationFlags,
                  const char* currentDirectory, STARTUPINFOA* startup, PROCESS_INFORMATION* process,
                  StartWaitsOut waitsOut) {
    for (int attempt = 1;; ++attempt) {
        if (CreateProcessA(applicationName, commandLine, nullptr, nullptr, FALSE, creationFlags,
                           nullptr, currentDirectory, startup, process)) {
            return true;
        }
        const DWORD error = GetLastError();
        const bool passing = error == ERROR_SHARING_VIOLATION ||
                             (error == ERROR_ACCESS_DENIED &&
                              waitsOut == StartWaitsOut::SharingViolationOrAccessDenied);
        if (!passing || attempt >= g_StartRetry.Attempts) {
            SetLastError(error);
            return false;
        }
        g_StartRetry.Wait(g_StartRetry.DelayMs);
    }
}
