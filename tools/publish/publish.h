// What the parts of qelt-publish share: its options, exit codes and the files of a publish.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "update/manifest.h"

typedef struct evp_pkey_st EVP_PKEY;

enum ExitCode { kPublished = 0, kRefused = 1, kUsage = 2, kWriteFailed = 3 };

// Says each problem and that nothing was published; kRefused.
int Refuse(const std::vector<std::string>& problems);
// Says what failed and that the live version is unchanged; kWriteFailed.
int WriteFailed(const std::string& error);

constexpr int kDefaultKeep = 3; // versions in the tree after a publish: two to roll back to

struct Options {
    std::string Client;
    std::string Tree;
    std::string Package;
    std::string Status;
    std::vector<std::string> Sign; // key files; every one signs the list
    std::string Keygen;            // --keygen: the key file to make
    int Keep = kDefaultKeep;
    bool DryRun = false;
    bool Rollback = false;
};

// Which file is which, as it stands on disk.
struct FileIdentity {
    uint64_t Size = 0;
    uint64_t Inode = 0;
    int64_t MtimeNs = 0;
    bool operator==(const FileIdentity& o) const {
        return Size == o.Size && Inode == o.Inode && MtimeNs == o.MtimeNs;
    }
};

// One file of the new version: a client file under patch/, or the package under downloads/.
struct VersionFile {
    std::string Source;       // where it is read from
    std::string Served;       // relative to the version: "patch/<path>" or "downloads/..."
    std::string ManifestPath; // "" for the package
    uint64_t Size = 0;
    uint32_t Crc = 0;
    bool Listed = false;   // the live manifest lists it
    bool InLive = false;   // the live version holds these very bytes: linked, not copied
    bool Copied = false;   // already copied into the new version
    FileIdentity Identity; // of the file in the new version (live file when InLive)
    bool Hashed = false;   // Sha256 holds its SHA-256 (a signed publish)
    unsigned char Sha256[kSha256Size] = {};
};

// A signed publish: the keys that sign the list, and the sequence number it gets.
struct Signing {
    std::vector<EVP_PKEY*> Keys;
    uint64_t Sequence = 0;
};
