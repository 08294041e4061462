// Progress arithmetic and text of a download, kept apart from WinHTTP so it is testable.
#include "net/http_request.h"

#include "base/text.h"

int DownloadPercent(uint64_t received, uint64_t total) {
    uint64_t percent = received * 100u / total;
    return static_cast<int>(static_cast<uint32_t>(percent));
}

int DownloadKilobytes(uint64_t total) {
    // In 64 bits: a 32-bit sum would wrap to 0 KB just below 4 GiB.
    uint64_t kilobytes = total / 1024u + (total % 1024u != 0 ? 1u : 0u);
    return static_cast<int>(kilobytes);
}

bool FormatDownloadStatus(char* out, size_t cap, const char* label, int percent, int kilobytes) {
    return FormatText(out, cap, kDownloadStatusFormat, label, percent, kilobytes);
}
