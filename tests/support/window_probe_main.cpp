// window_probe.exe: prints the launcher window's state as one line of JSON, presses a
// button by control id, or saves the client area as an image.
//   window_probe [--pid N] [--wait MS] [press ID | capture FILE.bmp|FILE.png]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "window_probe.h"

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
    if (i < argc) {
        fprintf(stderr, "usage: window_probe [--pid N] [--wait MS] [press ID | capture FILE]\n");
        return 2;
    }
    WindowState state;
    ReadWindowState(window, &state);
    printf("%s\n", WindowStateJson(state).c_str());
    return 0;
}
