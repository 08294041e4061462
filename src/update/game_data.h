// First-run install: fetch and unpack the game data package when the game is missing.
#pragma once

#include "update/signed_list.h"

// Whether anything of the game executable's name is in the launcher's folder: the one test
// of whether the game is installed.
bool GameExecutablePresent();

// True when the game executable exists (already, or after a successful extraction);
// false after showing why it could not be installed. With a signed list (UpdateKey set) the
// package must have the size and SHA-256 it lists, and a list without a package installs
// nothing.
bool EnsureGameData(const SignedList* signedList);
