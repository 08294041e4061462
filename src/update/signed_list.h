// The signed file list: what an operator's key vouches for (every client file's size, CRC-32
// and SHA-256, the first-run package's size and SHA-256, a sequence number), the file of
// signatures beside it, the public key a launcher holds, and the record of the last
// sequence number a launcher accepted. Parsing and writing; checking the signatures is
// platform code (signed_list_win.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "update/manifest.h"

// Where a published tree holds them, below UpdateUrl.
constexpr char kSignedListTreePath[] = "launcher/files.txt";
constexpr char kSignaturesTreePath[] = "launcher/files.sig";

constexpr size_t kUpdateKeySize = 64;     // P-256 public point X || Y, big-endian
constexpr size_t kListSignatureSize = 64; // ECDSA r || s, big-endian

// Bounds of what a launcher takes in, so that a hostile server cannot make it hold more.
constexpr size_t kSignedListMaxBytes = 32u << 20;
constexpr size_t kSignedListMaxLine = 512; // LF included
constexpr size_t kSignedListMaxFiles = 100000;
constexpr size_t kSignaturesMaxBytes = 4096;
constexpr size_t kSignaturesMaxLines = 8;

struct SignedListEntry {
    std::string Path; // relative, '/' separators, as in the manifest and the patch URL
    uint64_t Size = 0;
    uint32_t Crc = 0;
    unsigned char Sha256[kSha256Size] = {};
};

struct SignedList {
    uint64_t Sequence = 0;
    uint64_t CreatedUnix = 0; // seconds since 1970-01-01 UTC
    bool HasPackage = false;  // the first-run package's size and digest follow
    uint64_t PackageSize = 0;
    unsigned char PackageSha256[kSha256Size] = {};
    std::vector<SignedListEntry> Entries; // ascending byte-wise by path
};

struct ListSignature {
    unsigned char Bytes[kListSignatureSize];
};

// Reads a list as published. False, list untouched, when anything in it breaks a rule: the
// list is refused whole. A well-formed path that is too long below launcherDir (as the
// manifest's length rule counts it) is left out of list->Entries, as the manifest skips it.
bool ParseSignedList(const void* body, size_t length, const char* launcherDir, SignedList* list);

// The list's bytes: one text per list, entries sorted by path. Writes what ParseSignedList
// reads back, provided every field obeys its rules (CreatedUnix within years 1970-9999).
std::string FormatSignedList(SignedList list);

// The P-256 signatures of a signature file, in file order; lines of other algorithms are
// passed over. False when the file breaks a rule or holds no P-256 signature.
bool ParseSignatures(const void* body, size_t length, std::vector<ListSignature>* signatures);
std::string FormatSignatureLine(const ListSignature& signature);

// UpdateKey in Launcher.ini: 128 hexadecimal digits, either case, nothing else.
bool ParseUpdateKey(const char* text, unsigned char key[kUpdateKeySize]);
std::string FormatUpdateKey(const unsigned char key[kUpdateKeySize]);

// The last accepted sequence number as the launcher keeps it: decimal digits and LF.
bool ParseSequenceRecord(const void* body, size_t length, uint64_t* sequence);
std::string FormatSequenceRecord(uint64_t sequence);
