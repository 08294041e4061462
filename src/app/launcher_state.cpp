// Storage of the process-wide launcher record.
#include "app/launcher_state.h"

LauncherState g_Launcher;
