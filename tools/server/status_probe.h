// Whether the game server is up, for /launcher/status: one thread probes it by TCP every
// few seconds and requests read the last result, so a flood of status requests never
// turns into a flood of connections to the game server.
#pragma once

#include <string>

// Probes host:port once now, then keeps probing on a thread of its own.
void StartStatusProbe(const std::string& gameServer);
// Ends the probing thread (no-op when it was never started).
void StopStatusProbe();
// The last result.
bool GameServerOnline();
