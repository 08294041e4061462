// Progress arithmetic and text of a download, kept apart from WinHTTP so it is testable.
#include "net/download_progress.h"

#include <cstdio>

int DownloadPercent(uint64_t received, uint32_t total) {
    uint64_t percent = received * 100u / total;
    return static_cast<int>(static_cast<uint32_t>(percent));
}

int DownloadKilobytes(uint32_t total) {
    uint32_t kilobytes = (total + 1023u) >> 10;
    return static_cast<int>(kilobytes);
}

void FormatDownloadStatus(char* out, size_t cap, const char* label, int percent, int kilobytes) {
    if (cap == 0) {
        return;
    }
    if (snprintf(out, cap, kDownloadStatusFormat, label, percent, kilobytes) < 0) {
        out[0] = '\0';
    }
}
