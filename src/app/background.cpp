// Background picture loader. Decoding comes with the main window.
#include "app/background.h"

#include "app/launcher_state.h"

void LoadBackgroundPicture() {
    g_Launcher.BackgroundPicture = nullptr;
    g_Launcher.BackgroundWidth = 0;
    g_Launcher.BackgroundHeight = 0;
}
