// Starting a program whose file someone else still holds open, as a virus scanner holds a
// program that was written a moment ago.
#include "app/start_program.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <string>

#include "test_files.h"

#ifndef QELT_FAKE_LAUNCHER_EXE
#error "QELT_FAKE_LAUNCHER_EXE must name a small program to start"
#endif

namespace {

DWORD WINAPI LetGoLater(void* file) {
    Sleep(400);
    CloseHandle(static_cast<HANDLE>(file));
    return 0;
}

HANDLE HoldExclusively(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool Start(const std::string& program, const std::string& dir, PROCESS_INFORMATION* process) {
    std::string quoted = "\"" + program + "\"";
    char commandLine[MAX_PATH + 2];
    snprintf(commandLine, sizeof commandLine, "%s", quoted.c_str());
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    return StartProgram(program.c_str(), commandLine, 0, dir.c_str(), &startup, process);
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
    HANDLE releaser = CreateThread(nullptr, 0, LetGoLater, held, 0, nullptr);
    ASSERT_NE(releaser, nullptr);
    PROCESS_INFORMATION process = {};
    const bool started = Start(program, dir, &process);
    WaitForSingleObject(releaser, INFINITE);
    CloseHandle(releaser);
    ASSERT_TRUE(started) << GetLastError();
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 10000), WAIT_OBJECT_0);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_TRUE(FileExists(program + ".restarted.txt"));

    // Held throughout: the start gives up and leaves the reason.
    held = HoldExclusively(program);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    g_StartRetry.Attempts = 3;
    EXPECT_FALSE(Start(program, dir, &process));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(held);

    g_StartRetry = StartRetry();
    RemoveTree(dir);
}

} // namespace
