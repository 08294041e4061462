// Start-up in its fixed order: CRC table, common controls, GDI+, paths, "-updated",
// Launcher.ini, mutex, picture, fonts, classes, window, message loop, GDI+ shut-down.
#include "app/startup.h"

#include <commctrl.h>
#include <gdiplus.h>

#include "app/background.h"
#include "app/config.h"
#include "app/main_window.h"
#include "base/paths.h"
#include "base/text.h"
#include "crc32/crc32.h"
#include "register/register_window.h"
#include "system/launcher_state.h"
#include "update/update_rules.h"

namespace {

HFONT MakeFontA(const char* face, int height, int weight) {
    return CreateFontA(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, face);
}

HFONT MakeFontW(const wchar_t* face, int height, int weight) {
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, face);
}

void ShutdownGdiplus() {
    if (g_Launcher.GdiplusToken != 0) {
        Gdiplus::GdiplusShutdown(g_Launcher.GdiplusToken);
    }
}

} // namespace

void DeriveLauncherPaths() {
    char modulePath[kPathCapacity] = {};
    DWORD length = GetModuleFileNameA(nullptr, modulePath, sizeof modulePath);
    // A module path that filled the buffer was cut; an empty path then is safer than a
    // wrong folder.
    if (length == 0 || length >= sizeof modulePath) {
        modulePath[0] = '\0';
    }
    CopyBounded(g_Launcher.LauncherPath, sizeof g_Launcher.LauncherPath, modulePath);
    SplitModulePath(g_Launcher.LauncherPath, g_Launcher.LauncherDir, sizeof g_Launcher.LauncherDir,
                    g_Launcher.LauncherFileName, sizeof g_Launcher.LauncherFileName);
}

void CreateLauncherFonts() {
    g_Launcher.TitleFont = MakeFontA("Arial", 26, 900);
    g_Launcher.TitleSubFont = MakeFontA("Arial", 15, 400);
    g_Launcher.StatusFont = MakeFontA("Tahoma", 14, 400);
    g_Launcher.ButtonFont = MakeFontA("Tahoma", 15, 700);
    g_Launcher.CaptionFont = MakeFontW(L"Segoe UI", 21, 600);
    g_Launcher.LabelFont = MakeFontW(L"Segoe UI", 16, 400);
    g_Launcher.EditFont = MakeFontW(L"Segoe UI", 17, 400);
}

void RegisterWindowClasses(HINSTANCE instance) {
    WNDCLASSA mainClass = {};
    mainClass.lpfnWndProc = MainWndProc;
    mainClass.hInstance = instance;
    mainClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(101));
    mainClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    mainClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    mainClass.lpszClassName = kMainWindowClass;
    RegisterClassA(&mainClass);

    WNDCLASSW registerClass = {};
    registerClass.style = CS_DROPSHADOW;
    registerClass.lpfnWndProc = RegisterWndProc;
    registerClass.hInstance = instance;
    registerClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    registerClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    registerClass.lpszClassName = kRegisterWindowClass;
    RegisterClassW(&registerClass);
}

RECT MainWindowPlacement(const RECT& workArea) {
    RECT outer = {0, 0, kMainClientWidth, kMainClientHeight};
    AdjustWindowRect(&outer, kMainWindowStyle, FALSE);
    const LONG width = outer.right - outer.left;
    const LONG height = outer.bottom - outer.top;
    const LONG x = (workArea.right - width) / 2;
    const LONG y = (workArea.bottom - height) / 2;
    return RECT{x, y, x + width, y + height};
}

int RunLauncher(HINSTANCE instance, const char* commandLine, int showCommand) {
    BuildCrc32Table();
    InitCommonControls();

    // Without GDI+ the panels fall back to plain GDI; the launcher still works.
    Gdiplus::GdiplusStartupInput gdiplusInput;
    if (Gdiplus::GdiplusStartup(&g_Launcher.GdiplusToken, &gdiplusInput, nullptr) != Gdiplus::Ok) {
        g_Launcher.GdiplusToken = 0;
    }

    DeriveLauncherPaths();
    g_Launcher.StartedAfterUpdate = CommandLineHasUpdated(commandLine);
    ReadLauncherConfig(g_Launcher.LauncherDir, &g_Launcher.Config);

    // Held until the process ends; a second launcher simply opens the same mutex.
    CreateMutexA(nullptr, FALSE, g_Launcher.Config.LauncherName);

    LoadBackgroundPicture();
    CreateLauncherFonts();
    RegisterWindowClasses(instance);

    RECT workArea = {};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
    const RECT placement = MainWindowPlacement(workArea);
    CreateWindowExA(0, kMainWindowClass, g_Launcher.Config.LauncherName, kMainWindowStyle,
                    placement.left, placement.top, placement.right - placement.left,
                    placement.bottom - placement.top, nullptr, nullptr, instance, nullptr);
    if (g_Launcher.MainWindowHandle == nullptr) {
        ShutdownGdiplus();
        return 1;
    }
    ShowWindow(g_Launcher.MainWindowHandle, showCommand);

    MSG message = {};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }

    ShutdownGdiplus();
    return static_cast<int>(message.wParam);
}
