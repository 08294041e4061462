// First-run install: fetch and unpack the game data package when the game is missing.
#pragma once

// True when the game executable exists (already, or after a successful extraction);
// false after showing why it could not be installed.
bool EnsureGameData();
