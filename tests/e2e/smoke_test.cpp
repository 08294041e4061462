// The launcher starts, shows its window with the configured caption, and closes with 0.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "launcher_process.h"
#include "test_files.h"

namespace {

TEST(Smoke, WindowAppearsAndClosesWithExitCodeZero) {
    std::string dir = MakeClientDir("smoke", "[Launcher]\r\nLauncherName=Smoke Test Launcher\r\n");
    LauncherProcess launcher;
    ASSERT_TRUE(StartLauncher(dir, "", &launcher));
    char caption[64] = {};
    GetWindowTextA(launcher.Window, caption, sizeof caption);
    EXPECT_STREQ(caption, "Smoke Test Launcher");
    PostMessageA(launcher.Window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForLauncherExit(&launcher, 10000), 0u);
    StopLauncher(&launcher);
    RemoveTree(dir);
}

TEST(Smoke, TwoLaunchersRunSideBySide) {
    std::string dir = MakeClientDir("twice", "");
    LauncherProcess first;
    LauncherProcess second;
    ASSERT_TRUE(StartLauncher(dir, "", &first));
    ASSERT_TRUE(StartLauncher(dir, "", &second));
    char caption[64] = {};
    GetWindowTextA(second.Window, caption, sizeof caption);
    EXPECT_STREQ(caption, "Qelt Launcher");
    PostMessageA(first.Window, WM_CLOSE, 0, 0);
    PostMessageA(second.Window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForLauncherExit(&first, 10000), 0u);
    EXPECT_EQ(WaitForLauncherExit(&second, 10000), 0u);
    StopLauncher(&first);
    StopLauncher(&second);
    RemoveTree(dir);
}

} // namespace
