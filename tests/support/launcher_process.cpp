// Starting the real Launcher.exe for end-to-end tests.
#include "launcher_process.h"

#include <cstdlib>

#include "test_files.h"
#include "window_probe.h"

#ifndef QELT_LAUNCHER_EXE
#error "QELT_LAUNCHER_EXE must name the Launcher.exe under test"
#endif
#ifndef QELT_FAKE_GAME_EXE
#error "QELT_FAKE_GAME_EXE must name the stand-in game"
#endif

std::string LauncherUnderTest() {
    return QELT_LAUNCHER_EXE;
}

std::string MakeClientDir(const char* tag, const std::string& ini) {
    std::string dir = MakeScratchDir(tag);
    CopyFileA(LauncherUnderTest().c_str(), (dir + "\\Launcher.exe").c_str(), FALSE);
    if (!ini.empty()) {
        WriteWholeFile(dir + "\\Launcher.ini", ini);
    }
    return dir;
}

bool StartLauncher(const std::string& dir, const std::string& arguments, LauncherProcess* process,
                   DWORD timeoutMs) {
    return StartLauncherIn(dir, dir, arguments, process, timeoutMs);
}

bool StartLauncherIn(const std::string& dir, const std::string& workingDir,
                     const std::string& arguments, LauncherProcess* process, DWORD timeoutMs) {
    process->Dir = dir;
    process->Info = PROCESS_INFORMATION{};
    process->Window = nullptr;
    std::string exe = dir + "\\Launcher.exe";
    std::string commandLine = "\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    if (!CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        workingDir.c_str(), &si, &process->Info)) {
        return false;
    }
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        process->Window = FindProcessWindow(process->Info.dwProcessId, "QeltLauncher");
        if (process->Window && IsWindowVisible(process->Window)) {
            return true;
        }
        if (WaitForSingleObject(process->Info.hProcess, 50) == WAIT_OBJECT_0) {
            return false;
        }
    }
    return false;
}

DWORD WaitForLauncherExit(LauncherProcess* process, DWORD timeoutMs) {
    if (process->Info.hProcess == nullptr ||
        WaitForSingleObject(process->Info.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        return STILL_ACTIVE;
    }
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process->Info.hProcess, &code);
    return code;
}

void StopLauncher(LauncherProcess* process) {
    if (process->Info.hProcess) {
        if (WaitForSingleObject(process->Info.hProcess, 0) != WAIT_OBJECT_0) {
            TerminateProcess(process->Info.hProcess, 99);
            WaitForSingleObject(process->Info.hProcess, 5000);
        }
        CloseHandle(process->Info.hProcess);
        CloseHandle(process->Info.hThread);
        process->Info = PROCESS_INFORMATION{};
    }
}

bool InstallFakeGame(const std::string& path) {
    return CopyFileA(QELT_FAKE_GAME_EXE, path.c_str(), FALSE) != FALSE;
}

bool WaitForGameRun(const std::string& path, GameRun* run, DWORD timeoutMs) {
    // The game writes its record under another name and moves it into place when complete.
    std::string record;
    for (DWORD waited = 0; !ReadWholeFile(path + ".run.txt", &record); waited += 50) {
        if (waited >= timeoutMs) {
            return false;
        }
        Sleep(50);
    }
    const size_t first = record.find('\n');
    const size_t second = record.find('\n', first + 1);
    if (first == std::string::npos || second == std::string::npos) {
        return false;
    }
    run->Pid = strtoul(record.substr(0, first).c_str(), nullptr, 10);
    run->CommandLine = record.substr(first + 1, second - first - 1);
    run->WorkingDir = record.substr(second + 1, record.find('\n', second + 1) - second - 1);
    return run->Pid != 0;
}

bool EndFakeGame(const std::string& path) {
    return WriteWholeFile(path + ".quit", "");
}
