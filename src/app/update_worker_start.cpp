// Starting the update worker: the real thread, which test programs replace.
#include "app/update_worker_start.h"

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
