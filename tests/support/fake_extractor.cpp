// Stand-in for the game data package: a program that takes `-o"DIR" -y` like a
// self-extracting archive. QELT_FAKE_EXTRACTOR_MODE chooses what it does:
//   ok (default)  write the game executable into DIR and exit 0
//   nogame        write nothing and exit 0
//   failcode      write the game executable and exit 3
//   window        show a window, write into DIR how many ms it stayed visible, write the
//                 game executable, exit 0
//   hang          never end
// QELT_FAKE_GAME_NAME names the game executable (default main.exe). Every run records its
// command line in DIR\extractor-cmdline.txt and its process id in DIR\extractor-pid.txt.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string Env(const char* name, const char* fallback) {
    char value[256];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return (n > 0 && n < sizeof value) ? std::string(value, n) : std::string(fallback);
}

void WriteText(const std::string& path, const std::string& text) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
    }
}

// The folder after -o, without its quotes.
std::string OutputDir(const char* commandLine) {
    const char* o = strstr(commandLine, " -o\"");
    if (!o) {
        return std::string();
    }
    const char* start = o + 4;
    const char* end = strchr(start, '"');
    return end ? std::string(start, end) : std::string();
}

DWORD MeasureHiding() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "QeltFakeExtractor";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, wc.lpszClassName, "Extracting", WS_OVERLAPPEDWINDOW, 10, 10,
                                  300, 120, nullptr, nullptr, wc.hInstance, nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
    const DWORD start = GetTickCount();
    while (IsWindowVisible(window) && GetTickCount() - start < 5000) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
        Sleep(1);
    }
    const DWORD visibleMs = GetTickCount() - start;
    DestroyWindow(window);
    return visibleMs;
}

} // namespace

int main() {
    const char* commandLine = GetCommandLineA();
    const std::string dir = OutputDir(commandLine);
    if (dir.empty() || strstr(commandLine, "\" -y") == nullptr) {
        return 2;
    }
    WriteText(dir + "\\extractor-cmdline.txt", commandLine);
    WriteText(dir + "\\extractor-pid.txt", std::to_string(GetCurrentProcessId()));
    const std::string mode = Env("QELT_FAKE_EXTRACTOR_MODE", "ok");
    const std::string game = dir + "\\" + Env("QELT_FAKE_GAME_NAME", "main.exe");
    if (mode == "hang") {
        for (;;) {
            Sleep(1000);
        }
    }
    if (mode == "window") {
        WriteText(dir + "\\extractor-visible-ms.txt", std::to_string(MeasureHiding()));
    }
    if (mode != "nogame") {
        WriteText(game, "game");
    }
    return mode == "failcode" ? 3 : 0;
}
