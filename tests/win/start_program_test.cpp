// Starting a program whose file someone else still holds open, as a virus scanner holds a
// program that was written a moment ago.
#include "system/start_program.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <string>

#include "test_files.h"

#ifndef QELT_FAKE_LAUNCHER_EXE
#error "QELT_FAKE_LAUNCHER_EXE must name a small program to start"
#endif

namespace {

// The program is named by the command line, and also as the application when
// applicationName is given (as the game start does).
bool Start(const std::string& program, const std::string& dir, PROCESS_INFORMATION* process,
           StartWaitsOut waitsOut, const char* applicationName) {
    std::string quoted = "\"" + program + "\"";
    char commandLine[MAX_PATH + 2];
    snprintf(commandLine, sizeof commandLine, "%s", quoted.c_str());
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    return StartProgram(applicationName, commandLine, 0, dir.c_str(), &startup, process, waitsOut);
}

// Between two attempts of a start: counts the waits and puts the program in the place of
// the folder of the same name, so that a start that fails for good would pass if it were
// tried again.
struct SwapOnWait {
    std::string Folder;
    std::string Program;
    int Waits;
};
SwapOnWait g_Swap;

void SwapInsteadOfWaiting(DWORD) {
    if (g_Swap.Waits++ == 0) {
        RemoveDirectoryA(g_Swap.Folder.c_str());
        MoveFileA(g_Swap.Program.c_str(), g_Swap.Folder.c_str());
    }
}

void FinishStarted(PROCESS_INFORMATION* process) {
    EXPECT_EQ(WaitForSingleObject(process->hProcess, 10000), WAIT_OBJECT_0);
    CloseHandle(process->hThread);
    CloseHandle(process->hProcess);
}

TEST(StartProgramTest, StartsOnceTheHeldFileIsLetGoAndGivesUpWithTheReason) {
    const std::string dir = MakeScratchDir("start");
    ASSERT_FALSE(dir.empty());
    const std::string program = dir + "\\held.exe";
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(QELT_FAKE_LAUNCHER_EXE, &bytes));
    ASSERT_TRUE(WriteWholeFile(program, bytes));
    g_StartRetry = StartRetry();
    g_StartRetry.DelayMs = 100;

    // Held for a while: the start waits it out.
    HANDLE held = HoldExclusively(program);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    HANDLE releaser = LetGoLater(held, 400);
    ASSERT_NE(releaser, nullptr);
    PROCESS_INFORMATION process = {};
    const bool started =
        Start(program, dir, &process, StartWaitsOut::SharingViolation, program.c_str());
    WaitForSingleObject(releaser, INFINITE);
    CloseHandle(releaser);
    ASSERT_TRUE(started) << GetLastError();
    FinishStarted(&process);
    EXPECT_TRUE(FileExists(program + ".restarted.txt"));

    // Held throughout: the start gives up and leaves the reason.
    held = HoldExclusively(program);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    g_StartRetry.Attempts = 3;
    EXPECT_FALSE(Start(program, dir, &process, StartWaitsOut::SharingViolation, program.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(held);

    g_StartRetry = StartRetry();
    RemoveTree(dir);
}

// Access denied, here from a folder where the program should be, is tried once where only
// a sharing violation is waited out (the game start on the main thread), and waited out
// where asked (the worker): there the folder has given way to the program by the next try.
TEST(StartProgramTest, AccessDeniedIsTriedOnceUnlessItIsToBeWaitedOut) {
    const std::string dir = MakeScratchDir("start");
    ASSERT_FALSE(dir.empty());
    const std::string program = dir + "\\swapped.exe";
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(QELT_FAKE_LAUNCHER_EXE, &bytes));
    g_StartRetry = StartRetry();
    g_StartRetry.Wait = SwapInsteadOfWaiting;

    for (StartWaitsOut waitsOut :
         {StartWaitsOut::SharingViolation, StartWaitsOut::SharingViolationOrAccessDenied}) {
        const bool waited = waitsOut == StartWaitsOut::SharingViolationOrAccessDenied;
        ASSERT_TRUE(CreateDirectoryA(program.c_str(), nullptr));
        ASSERT_TRUE(WriteWholeFile(dir + "\\ready.exe", bytes));
        g_Swap = SwapOnWait{program, dir + "\\ready.exe", 0};
        PROCESS_INFORMATION process = {};
        // By the command line alone: Wine answers a folder named as the application with
        // ERROR_INVALID_HANDLE, where Windows says access denied either way.
        const bool started = Start(program, dir, &process, waitsOut, nullptr);
        const DWORD error = GetLastError();
        if (started) {
            FinishStarted(&process);
        }
        if (waited) {
            EXPECT_TRUE(started) << error;
            EXPECT_EQ(g_Swap.Waits, 1);
            EXPECT_TRUE(FileExists(program + ".restarted.txt"));
        } else {
            EXPECT_FALSE(started);
            EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
            EXPECT_EQ(g_Swap.Waits, 0);
            EXPECT_TRUE(RemoveDirectoryA(program.c_str())); // still the folder
        }
        DeleteFileA(program.c_str());
        DeleteFileA((program + ".restarted.txt").c_str());
    }

    g_StartRetry = StartRetry();
    RemoveTree(dir);
}

} // namespace
