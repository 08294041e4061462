// Start-up pieces: paths from the module path, window placement on the work area.
#include "app/startup.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/main_window.h"
#include "system/launcher_state.h"
#include "test_files.h"

namespace {

// Runs a copy of this test program under the given file name and returns what it printed
// for --print-launcher-paths.
std::string RunCopyPrintingPaths(const std::string& exePath) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    if (!CopyFileA(self, exePath.c_str(), FALSE)) {
        return "copy failed";
    }
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    CreatePipe(&readEnd, &writeEnd, &sa, 0);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    PROCESS_INFORMATION pi = {};
    std::string commandLine = "\"" + exePath + "\" --print-launcher-paths";
    std::string output;
    if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                       &pi)) {
        CloseHandle(writeEnd);
        writeEnd = nullptr;
        char chunk[512];
        DWORD read = 0;
        while (ReadFile(readEnd, chunk, sizeof chunk, &read, nullptr) && read > 0) {
            output.append(chunk, read);
        }
        WaitForSingleObject(pi.hProcess, 10000);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    if (writeEnd) {
        CloseHandle(writeEnd);
    }
    CloseHandle(readEnd);
    std::string cleaned;
    for (char c : output) {
        if (c != '\r') {
            cleaned += c;
        }
    }
    return cleaned;
}

TEST(LauncherPaths, DerivedFromModulePath) {
    DeriveLauncherPaths();
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    EXPECT_STREQ(g_Launcher.LauncherPath, self);
    EXPECT_EQ(std::string(g_Launcher.LauncherDir), ProgramDir());
    EXPECT_STREQ(g_Launcher.LauncherFileName, "qelt_win_tests.exe");
}

TEST(LauncherPaths, FileNameOver63CharactersIsCut) {
    std::string dir = MakeScratchDir("paths");
    std::string name = std::string(66, 'n') + ".exe"; // 70 characters
    std::string output = RunCopyPrintingPaths(dir + "\\" + name);
    RemoveTree(dir);
    EXPECT_EQ(output, dir + "\\" + name + "\n" + dir + "\n" + name.substr(0, 63) + "\n");
}

TEST(WindowPlacement, CentredOnRightAndBottomEdgesOfWorkArea) {
    RECT outer = {0, 0, kMainClientWidth, kMainClientHeight};
    AdjustWindowRect(&outer, kMainWindowStyle, FALSE);
    const LONG w = outer.right - outer.left;
    const LONG h = outer.bottom - outer.top;
    EXPECT_GT(w, kMainClientWidth);
    EXPECT_GT(h, kMainClientHeight);

    RECT placed = MainWindowPlacement(RECT{0, 0, 1920, 1040});
    EXPECT_EQ(placed.left, (1920 - w) / 2);
    EXPECT_EQ(placed.top, (1040 - h) / 2);
    EXPECT_EQ(placed.right - placed.left, w);
    EXPECT_EQ(placed.bottom - placed.top, h);

    // The work area's left and top edges do not enter.
    RECT shifted = MainWindowPlacement(RECT{100, 50, 1920, 1040});
    EXPECT_EQ(shifted.left, (1920 - w) / 2);
    EXPECT_EQ(shifted.top, (1040 - h) / 2);
}

} // namespace
