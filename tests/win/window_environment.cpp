// Start-up's window preparations for tests that create the launcher's windows in-process.
// GDI+ stays started until the test program ends, as it does in the launcher.
#include "window_environment.h"

#include <windows.h>
#include <commctrl.h>
#include <gdiplus.h>

#include "app/startup.h"
#include "system/launcher_state.h"

void PrepareWindowEnvironment() {
    static bool prepared = false;
    if (prepared) {
        return;
    }
    prepared = true;
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&g_Launcher.GdiplusToken, &input, nullptr);
    InitCommonControls();
    CreateLauncherFonts();
    RegisterWindowClasses(GetModuleHandleA(nullptr));
}
