// The background update run, started once from the main window's creation.
#pragma once

// Starts the update worker thread, never joined; the end of the process ends it.
void StartUpdateWorker();
