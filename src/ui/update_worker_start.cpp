// Starting the update worker, behind the window-operation seam so that test programs which
// create the main window do not get a real worker changing it under them.
#include "ui/window_ops.h"

#include <windows.h>

#include "update/update_worker.h"

bool StartUpdateWorker() {
    HANDLE thread = CreateThread(nullptr, 0, UpdateWorker, nullptr, 0, nullptr);
    if (thread == nullptr) {
        return false;
    }
    CloseHandle(thread); // never joined: the end of the process ends the worker
    return true;
}
