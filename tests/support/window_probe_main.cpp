// window_probe.exe: prints the launcher window's state as one line of JSON, presses a
// button by control id, saves the client area as an image, or registers an account
// through the registration window as a player would.
//   window_probe [--pid N] [--wait MS] [press ID | capture FILE.bmp|FILE.png |
//                 register ACCOUNT PASSWORD EMAIL [FILE.png]]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "window_probe.h"

namespace {

std::wstring Wide(const char* utf8) {
    wchar_t buffer[256];
    return MultiByteToWideChar(CP_UTF8, 0, utf8, -1, buffer, 256) > 0 ? std::wstring(buffer)
                                                                      : std::wstring();
}

// Presses Register, types the three values (the password twice) and submits. The fields
// are emptied only by an answer with status 200, so that is what "registered" reports.
int Register(HWND window, DWORD pid, char** values, const char* shot) {
    if (!PressButton(window, 1005)) {
        printf("{\"registered\":false,\"reason\":\"Register disabled\"}\n");
        return 1;
    }
    HWND dialog = WaitForProcessWindow(pid, "QeltRegister", 10000);
    if (dialog == nullptr) {
        printf("{\"registered\":false,\"reason\":\"no registration window\"}\n");
        return 1;
    }
    const int ids[] = {1101, 1102, 1103, 1104};
    const char* texts[] = {values[0], values[1], values[1], values[2]};
    for (int k = 0; k < 4; ++k) {
        TypeText(GetDlgItem(dialog, ids[k]), Wide(texts[k]).c_str());
    }
    PressButton(dialog, 1);
    bool emptied = false;
    for (int waited = 0; waited < 30000 && !emptied; waited += 100) {
        Sleep(100);
        emptied = WindowTextW(GetDlgItem(dialog, 1101)).empty();
    }
    if (shot != nullptr) {
        SaveScreenshot(dialog, ".", shot);
    }
    printf("{\"registered\":%s}\n", emptied ? "true" : "false");
    return emptied ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    DWORD pid = 0;
    DWORD waitMs = 10000;
    int i = 1;
    for (; i + 1 < argc && strncmp(argv[i], "--", 2) == 0; i += 2) {
        if (strcmp(argv[i], "--pid") == 0) {
            pid = strtoul(argv[i + 1], nullptr, 10);
        } else if (strcmp(argv[i], "--wait") == 0) {
            waitMs = strtoul(argv[i + 1], nullptr, 10);
        } else {
            fprintf(stderr, "unknown option %s\n", argv[i]);
            return 2;
        }
    }
    HWND window = WaitForLauncherWindow(pid, waitMs);
    if (window == nullptr) {
        printf("{\"found\":false}\n");
        return 1;
    }
    if (i + 1 < argc && strcmp(argv[i], "press") == 0) {
        const bool pressed = PressButton(window, atoi(argv[i + 1]));
        printf("{\"pressed\":%s}\n", pressed ? "true" : "false");
        return pressed ? 0 : 1;
    }
    if (i + 1 < argc && strcmp(argv[i], "capture") == 0) {
        ProbeImage image;
        const bool saved = CaptureSettledClient(window, &image) && SaveImage(image, argv[i + 1]);
        printf("{\"saved\":%s,\"width\":%d,\"height\":%d}\n", saved ? "true" : "false", image.Width,
               image.Height);
        return saved ? 0 : 1;
    }
    if (i + 3 < argc && strcmp(argv[i], "register") == 0) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        return Register(window, owner, argv + i + 1, i + 4 < argc ? argv[i + 4] : nullptr);
    }
    if (i < argc) {
        fprintf(stderr, "usage: window_probe [--pid N] [--wait MS] [press ID | capture FILE |\n"
                        "                    register ACCOUNT PASSWORD EMAIL [NAME]]\n");
        return 2;
    }
    WindowState state;
    ReadWindowState(window, &state);
    printf("%s\n", WindowStateJson(state).c_str());
    return 0;
}
