// The update manifest: the server's list of client files with their CRC-32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Longest manifest path, in bytes.
constexpr size_t kManifestPathMax = 200;

constexpr size_t kSha256Size = 32;

struct ManifestEntry {
    std::string Path; // relative path exactly as written (either separator kept)
    uint32_t Crc;     // expected CRC-32 of the whole file
    // From a signed list only: the exact size and SHA-256 a download must have as well.
    bool HasDigest = false;
    uint64_t Size = 0;
    unsigned char Sha256[kSha256Size] = {};
};

// Turns a manifest body into its entries, in line order. Never fails: a line that breaks
// a rule is skipped. launcherDir is only used for the length rule of the local path.
std::vector<ManifestEntry> ParseManifest(const void* body, size_t length, const char* launcherDir);

// Reads a checksum text the way the manifest defines it (hexadecimal, optional sign and
// 0x prefix, stops at the first non-digit, saturates at 0xFFFFFFFF).
uint32_t ParseManifestChecksum(const char* text, size_t length);

// The five path rules, in order. dirLength is strlen(LauncherDir).
bool ManifestPathAccepted(const std::string& path, size_t dirLength);
