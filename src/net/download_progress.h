// Progress figures and the status text shown while a download of announced size runs.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr char kDownloadStatusFormat[] = "Dang tai %s - %d%% cua %d KB";
constexpr size_t kStatusTextCapacity = 512; // 511 characters and the terminator

// received * 100 / total in unsigned 64-bit arithmetic, truncated; the low 32 bits as the
// position. total must not be 0.
int DownloadPercent(uint64_t received, uint32_t total);

// The announced size in KiB, rounded up, in 32-bit arithmetic.
int DownloadKilobytes(uint32_t total);

// "Dang tai <label> - <percent>% cua <kb> KB", cut to cap - 1 bytes.
void FormatDownloadStatus(char* out, size_t cap, const char* label, int percent, int kilobytes);
