// The version players are served now, as the publisher reads it: through the served folders
// TREE/launcher, TREE/patch and TREE/downloads, whatever they are (an older publisher's
// real folders, or links into TREE/current).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "progress.h"
#include "publish.h"
#include "update/signed_list.h"

struct RecordEntry {
    uint32_t Crc = 0;
    FileIdentity Identity;
    bool Hashed = false; // a signed publish wrote its SHA-256 too
    unsigned char Sha256[kSha256Size] = {};
};

struct LiveVersion {
    std::string Tree;
    int Number = 0;         // the version TREE/current names; 0 when none
    bool Versioned = false; // served through this publisher's links into TREE/current
    std::map<std::string, RecordEntry> Record; // served path -> as the publisher wrote it
    std::map<std::string, uint32_t> Listed;    // the live manifest: path -> CRC-32
    std::string Manifest;
    bool HasStatus = false;
    std::string Status;
    bool HasList = false;   // a signed publish made it: launcher/files.txt
    std::string List;       // its bytes
    std::string Signatures; // launcher/files.sig ("" when missing)
    SignedList Signed;      // the list read
};

// Reads what is live in tree. False, with the reason, when TREE/current is damaged or the
// live signed list cannot be read (its sequence number must never be lost).
bool ReadLiveVersion(const std::string& tree, LiveVersion* live, std::string* error);

// Whether the live file at served (relative to a version, "patch/..."), found with
// identity (size included), holds the bytes with CRC-32 crc and, given sha256, that
// SHA-256. The record vouches for a file only while it keeps the identity recorded (and
// records a SHA-256 when one is asked for); otherwise the file is read, and *wasRead set.
bool LiveHolds(const LiveVersion& live, const std::string& served, const FileIdentity& identity,
               uint32_t crc, const unsigned char* sha256, bool* wasRead, Progress* progress);

// The record of a version: one line per file the publisher wrote or linked into it.
std::string RecordText(const std::vector<VersionFile>& files);
