// Progress arithmetic and text of a download, kept apart from WinHTTP so it is testable.
#include "net/http_request.h"

#include "base/text.h"

int DownloadPercent(uint64_t received, uint32_t total) {
    uint64_t percent = received * 100u / total;
    return static_cast<int>(static_cast<uint32_t>(percent));
}

int DownloadKilobytes(uint32_t total) {
    uint32_t kilobytes = (total + 1023u) >> 10;
    return static_cast<int>(kilobytes);
}

bool FormatDownloadStatus(char* out, size_t cap, const char* label, int percent, int kilobytes) {
    return FormatText(out, cap, kDownloadStatusFormat, label, percent, kilobytes);
}
