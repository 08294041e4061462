// Download rate limit: reading the setting, the wait after each piece, the piece size.
#include "net/rate_limit.h"

#include "base/text.h"

uint32_t ParseDownloadLimit(const char* value) {
    uint64_t number = 0;
    if (!ParseWholeNumber(value, &number) || number > UINT32_MAX) {
        return 0;
    }
    return static_cast<uint32_t>(number);
}

uint64_t RateLimitWaitMs(uint64_t bytes, uint64_t elapsedMs, uint32_t kibPerSecond) {
    if (kibPerSecond == 0) {
        return 0;
    }
    const uint64_t rate = static_cast<uint64_t>(kibPerSecond) * 1024u; // bytes per second
    // bytes * 1000 / rate, rounded up, without the product's overflow.
    const uint64_t due = bytes / rate * 1000u + (bytes % rate * 1000u + rate - 1) / rate;
    return due > elapsedMs ? due - elapsedMs : 0;
}

uint32_t RateLimitPieceSize(uint32_t kibPerSecond, uint32_t maxPiece) {
    if (kibPerSecond == 0) {
        return maxPiece;
    }
    const uint64_t quarter = static_cast<uint64_t>(kibPerSecond) * 1024u / 4u;
    const uint64_t piece = quarter < 1024u ? 1024u : quarter;
    return piece < maxPiece ? static_cast<uint32_t>(piece) : maxPiece;
}
