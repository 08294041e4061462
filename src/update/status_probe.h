// Asking the update server whether the game server is online, every 15 seconds.
#pragma once

// One round: unless the game has been started, fetch statusUrl and show the answer,
// enabling or disabling Connect and Register. Returns whether a request was made.
bool ProbeServerStatusOnce(const char* statusUrl);

// Never returns: a round at once, then one every ProbePeriodMs for the life of the process.
void ProbeServerStatus();
