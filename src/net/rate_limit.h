// The download rate limit of Launcher.ini: its value and the arithmetic that holds a body
// to it, kept apart from WinHTTP so it is testable.
#pragma once

#include <cstdint>

// DownloadLimitKBps: a whole number of KiB per second. 0 means no limit, and so does
// anything that is not a whole number or does not fit in 32 bits.
uint32_t ParseDownloadLimit(const char* value);

// How long to wait, in milliseconds, after bytes arrived in elapsedMs, so that the bytes
// so far took at least as long as kibPerSecond allows (rounded up). 0 when no wait is due.
uint64_t RateLimitWaitMs(uint64_t bytes, uint64_t elapsedMs, uint32_t kibPerSecond);

// The most one read may bring under the limit: a quarter of a second's bytes, so the rate
// holds evenly, but at least 1 KiB and at most maxPiece.
uint32_t RateLimitPieceSize(uint32_t kibPerSecond, uint32_t maxPiece);
