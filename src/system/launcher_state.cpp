// Storage of the process-wide launcher record.
#include "system/launcher_state.h"

LauncherState g_Launcher;
