// File operations of the publisher: reading with a CRC-32, copying, linking, flushing and
// removing, each reporting why it failed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "progress.h"
#include "publish.h"

// Why an operation failed, and whether the fault was in writing the tree (full disk, no
// permission) rather than in reading the client.
struct FileError {
    std::string Text;
    bool InTree = false;
};

// Reads src whole, computing its CRC-32 and, given sha256 (kSha256Size bytes), its SHA-256
// in the same read; copies it to dst (created, flushed to disk) unless dst is empty, and
// then fills *written with the copy's identity. Fails when src cannot be read or does not
// have expectedSize bytes (it changed while being read), or dst cannot be written; a failed
// copy is removed.
bool ReadFile(const std::string& src, uint64_t expectedSize, const std::string& dst, uint32_t* crc,
              FileIdentity* written, Progress* progress, FileError* error,
              unsigned char* sha256 = nullptr);

// Creates path with text, flushed to disk.
bool WriteTextFile(const std::string& path, const std::string& text, FileError* error);

// The identity of the regular file at path (links not followed at the end); false when
// there is none.
bool IdentityOf(const std::string& path, FileIdentity* identity);

bool SyncPath(const std::string& path);

// Flushes every path, a few at a time; false with the first failure in *failed.
bool SyncPaths(const std::vector<std::string>& paths, std::string* failed);

// Creates a folder and its parents; remembers each one it made.
bool MakeDirs(const std::string& path, std::vector<std::string>* made);

// Removes path and everything below it, links not followed.
void RemoveTree(const std::string& path);

std::string FolderOf(const std::string& path);

// Makes dst hold every regular file below src (src itself may be a link) as a hard link,
// or a copy where no link can be made; names ending in skipSuffix, and names dst has
// already, are left out. Notes each folder made.
bool LinkTree(const std::string& src, const std::string& dst, const std::string& skipSuffix,
              std::vector<std::string>* made, FileError* error);
