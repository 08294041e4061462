// Server status probe on the update worker thread.
#include "update/status_probe.h"

#include <windows.h>

#include "base/text.h"
#include "net/http_request.h"
#include "system/launcher_state.h"
#include "ui/window_ops.h"
#include "update/update_rules.h"
#include "update/update_texts.h"
#include "update/update_timings.h"

bool ProbeServerStatusOnce(const char* statusUrl) {
    // Once the game runs, the launcher stops asking and leaves the buttons alone.
    if (g_Launcher.GameProcess.load() != nullptr) {
        return false;
    }
    ByteBuffer body;
    const int status = HttpRequest(statusUrl, body, nullptr, nullptr);
    const bool online = IsServerOnline(status, body);
    SetStatus(online ? kTextServerOnline : kTextServerOffline);
    EnableConnect(online);
    EnableRegister(online);
    return true;
}

void ProbeServerStatus() {
    char statusUrl[kUrlCapacity];
    FormatText(statusUrl, sizeof statusUrl, kFormatStatusUrl, g_Launcher.Config.UpdateUrl);
    for (;;) {
        ProbeServerStatusOnce(statusUrl);
        Sleep(g_UpdateTimings.ProbePeriodMs);
    }
}
