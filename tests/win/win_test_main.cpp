// Entry of the Win32 test program. Started with --print-launcher-paths it instead prints
// the launcher paths derived from its own module path (used by startup_test.cpp).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "app/startup.h"
#include "system/launcher_state.h"

int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], "--print-launcher-paths") == 0) {
        DeriveLauncherPaths();
        printf("%s\n%s\n%s\n", g_Launcher.LauncherPath, g_Launcher.LauncherDir,
               g_Launcher.LauncherFileName);
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
