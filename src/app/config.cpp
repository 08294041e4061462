// Launcher.ini reader on the platform's private-profile functions.
#include "app/config.h"

#include <windows.h>

#include <cstring>

#include "base/paths.h"
#include "base/text.h"
#include "net/rate_limit.h"

namespace {

void ReadKey(const char* key, const char* fallback, char* field, DWORD capacity,
             const char* configPath) {
    if (configPath[0] == '\0') {
        CopyBounded(field, capacity, fallback);
        return;
    }
    GetPrivateProfileStringA(kConfigSection, key, fallback, field, capacity, configPath);
}

} // namespace

void ReadLauncherConfig(const char* launcherDir, LauncherConfig* config) {
    char configPath[kPathCapacity];
    // An empty path means "no file": every key then takes its default.
    JoinPath(configPath, sizeof configPath, launcherDir, kConfigFileName);
    ReadKey("LauncherName", kDefaultLauncherName, config->LauncherName, sizeof config->LauncherName,
            configPath);
    ReadKey("GameExecutable", kDefaultGameExecutable, config->GameExecutable,
            sizeof config->GameExecutable, configPath);
    ReadKey("UpdateUrl", kDefaultUpdateUrl, config->UpdateUrl, sizeof config->UpdateUrl,
            configPath);
    ReadKey("BackgroundImage", kDefaultBackgroundImage, config->BackgroundImage,
            sizeof config->BackgroundImage, configPath);
    ReadKey("Title", kDefaultTitle, config->Title, sizeof config->Title, configPath);
    ReadKey("UpdateKey", kDefaultUpdateKey, config->UpdateKey, sizeof config->UpdateKey,
            configPath);
    // A value that fills the field may have been cut into another number: no limit then.
    char limit[64];
    ReadKey("DownloadLimitKBps", "", limit, sizeof limit, configPath);
    config->DownloadLimitKBps = strlen(limit) + 1 < sizeof limit ? ParseDownloadLimit(limit) : 0;
    char quickCheck[4];
    ReadKey("QuickCheck", "", quickCheck, sizeof quickCheck, configPath);
    config->QuickCheck = strcmp(quickCheck, kQuickCheckOn) == 0;
}
