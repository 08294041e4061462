// The waits of the update run, in one record that tests shorten; the program keeps these
// values.
#pragma once

#include <windows.h>

struct UpdateTimings {
    DWORD OldFileRetryMs = 300;
    int OldFileAttempts = 10;
    DWORD ExtractorBudgetMs = 600000;
    DWORD ExtractorRoundMs = 25;
    DWORD ProbePeriodMs = 15000;
    // The quick check reads a file written this close before its record was: the record
    // cannot tell it from a file changed again within one step of the time stamp's clock.
    DWORD RacyWindowMs = 3000;
};
extern UpdateTimings g_UpdateTimings; // defined with the worker
