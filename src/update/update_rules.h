// Platform-free decisions of the update run: progress positions and the status answer.
#pragma once

#include <cstddef>

#include "net/byte_buffer.h"

// Position of the bar when the check of entry index (0-based) of count begins:
// 100 * (index + 1) / count, rounded down.
int CheckPhaseProgress(size_t index, size_t count);

// The game server is online when the status request answered 200 with a body whose first
// six bytes are "online" (case-sensitive; a shorter body or an embedded NUL is offline).
bool IsServerOnline(int httpStatus, const ByteBuffer& body);

// snprintf into a fixed buffer; false (and an empty text) when the result would be cut.
bool FormatText(char* out, size_t cap, const char* format, ...)
#if defined(__clang__)
    __attribute__((format(printf, 3, 4)))
#elif defined(__GNUC__)
    __attribute__((format(gnu_printf, 3, 4))) // mingw's printf checks would be Microsoft's
#endif
    ;
