// Times one launcher start, from process creation until its status line shows the online
// text, for scripts/bench-check.sh; then closes the launcher.
// Usage: qelt_check_bench <Launcher.exe in its client folder> [time-out in ms, default 600000]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kOnlineText[] = "Server dang online - san sang vao game";
constexpr int kStatusLineId = 1002;

struct Search {
    DWORD Pid;
    HWND Found;
};

BOOL CALLBACK FindLauncherWindow(HWND window, LPARAM param) {
    Search* search = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char className[32] = {};
    GetClassNameA(window, className, sizeof className);
    if (pid == search->Pid && strcmp(className, "QeltLauncher") == 0) {
        search->Found = window;
        return FALSE;
    }
    return TRUE;
}

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: qelt_check_bench <Launcher.exe> [timeout ms]\n");
        return 2;
    }
    const DWORD timeoutMs = argc > 2 ? strtoul(argv[2], nullptr, 10) : 600000;
    char commandLine[MAX_PATH + 3];
    snprintf(commandLine, sizeof commandLine, "\"%s\"", argv[1]);
    char folder[MAX_PATH];
    lstrcpynA(folder, argv[1], sizeof folder);
    char* slash = strrchr(folder, '\\');
    if (slash != nullptr) {
        *slash = '\0';
    }

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, folder, &startup,
                        &process)) {
        fprintf(stderr, "cannot start %s\n", argv[1]);
        return 1;
    }
    // The status line's text is kept by the window system, so reading it does not wait for
    // the launcher's main thread.
    Search search = {process.dwProcessId, nullptr};
    HWND status = nullptr;
    char text[512] = {};
    bool online = false;
    const DWORD begun = GetTickCount();
    while (!online && GetTickCount() - begun < timeoutMs) {
        if (status == nullptr) {
            EnumWindows(FindLauncherWindow, reinterpret_cast<LPARAM>(&search));
            status = search.Found ? GetDlgItem(search.Found, kStatusLineId) : nullptr;
        }
        if (status != nullptr) {
            GetWindowTextA(status, text, sizeof text);
            online = strcmp(text, kOnlineText) == 0;
        }
        if (!online) {
            Sleep(1);
        }
    }
    QueryPerformanceCounter(&end);

    if (search.Found != nullptr) {
        PostMessageA(search.Found, WM_CLOSE, 0, 0);
    }
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 10000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (!online) {
        printf("online no last_status \"%s\"\n", text);
        return 1;
    }
    printf("online yes seconds %.3f\n", Seconds(start, end));
    return 0;
}
