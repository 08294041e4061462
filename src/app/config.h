// Reading Launcher.ini from the launcher's own folder.
#pragma once

#include "system/launcher_config.h"

// Fills config from "<launcherDir>\Launcher.ini", section "Launcher". A missing file,
// section or key gives the default; a value longer than its field is cut. DownloadLimitKBps
// is 0 (no limit) unless the key holds a whole number. A folder so
// long that the file's path does not fit is treated as a missing file.
void ReadLauncherConfig(const char* launcherDir, LauncherConfig* config);
