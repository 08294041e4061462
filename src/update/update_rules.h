// Platform-free decisions of the update run: the restart word, progress positions and the
// status answer.
#pragma once

#include <cstddef>

#include "net/byte_buffer.h"

// The word a self-updated launcher is restarted with.
constexpr char kUpdatedWord[] = "-updated";

// True when the command line holds kUpdatedWord anywhere (case-sensitive, no word bounds).
bool CommandLineHasUpdated(const char* commandLine);

// Position of the bar when the check of entry index (0-based) of count begins:
// 100 * (index + 1) / count, rounded down.
int CheckPhaseProgress(size_t index, size_t count);

// The game server is online when the status request answered 200 with a body whose first
// six bytes are "online" (case-sensitive; a shorter body or an embedded NUL is offline).
bool IsServerOnline(int httpStatus, const ByteBuffer& body);
