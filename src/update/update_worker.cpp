// Update worker start. The update run itself is not written yet, so nothing starts.
#include "update/update_worker.h"

void StartUpdateWorker() {}
