// Window operations for the download benchmark: no window, so progress is only counted,
// which keeps the per-piece formatting cost in the measurement.
#include "ui/window_ops.h"

namespace {
volatile int g_Reports = 0;
}

void SetStatus(const char* text) {
    if (text != nullptr && text[0] != '\0') {
        g_Reports = g_Reports + 1;
    }
}
void SetProgress(int position) {
    g_Reports = g_Reports + position;
}
void EnableConnect(bool) {}
void EnableRegister(bool) {}
void RequestClose() {}
void ResetWindowOps() {}
void ApplyPendingWindowOps() {}
void ApplyDeferredWindowOps() {}
