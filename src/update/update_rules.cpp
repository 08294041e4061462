// Platform-free decisions of the update run.
#include "update/update_rules.h"

#include <cstdint>
#include <cstring>

bool CommandLineHasUpdated(const char* commandLine) {
    return commandLine != nullptr && strstr(commandLine, kUpdatedWord) != nullptr;
}

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
