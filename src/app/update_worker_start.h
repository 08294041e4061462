// Starting the update worker thread. It has a header of its own, apart from the window
// operations, because test programs that create the main window link a version that
// starts nothing, so that no real worker changes the window under them.
#pragma once

// Starts the update worker thread, once, and lets go of its handle. False when the thread
// could not be created.
bool StartUpdateWorker();
