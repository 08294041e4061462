// Platform-free decisions of the update run.
#include "update/update_rules.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

int CheckPhaseProgress(size_t index, size_t count) {
    if (count == 0) {
        return 0;
    }
    return static_cast<int>((100u * (static_cast<uint64_t>(index) + 1u)) / count);
}

bool IsServerOnline(int httpStatus, const ByteBuffer& body) {
    static const char kOnline[] = "online";
    if (httpStatus != 200 || body.size() < sizeof kOnline - 1) {
        return false;
    }
    return memcmp(body.data(), kOnline, sizeof kOnline - 1) == 0;
}

bool FormatText(char* out, size_t cap, const char* format, ...) {
    if (cap == 0) {
        return false;
    }
    va_list args;
    va_start(args, format);
    int n = vsnprintf(out, cap, format, args);
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= cap) {
        out[0] = '\0';
        return false;
    }
    return true;
}
