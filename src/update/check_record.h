// The quick check's record of the client files the launcher has verified or written, and
// the rules that let a file count as current, or as changed, without opening it. The
// format and the rules are platform-free (check_record.cpp); reading the folders and the
// record's file is Win32 (check_record_win.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "net/byte_buffer.h"
#include "update/manifest.h"

// Times count as the platform's file times do: 100-ns ticks since 1601, UTC.
constexpr uint64_t kTicksPerSecond = 10000000;
// Damage that keeps a file's size and write time (a failing disk) is found within this.
constexpr uint64_t kFullCheckIntervalTicks = 7 * 24 * 3600 * kTicksPerSecond;

// What identifies the launcher build that wrote a record: a record from another build is
// not trusted.
struct LauncherBuild {
    uint32_t Words[4];
};

// What a folder listing tells of a file without opening it. FileId is 0 where the volume
// gives none; WriteTime 0 means the volume gave no time.
struct FileStamp {
    uint64_t Size;
    uint64_t WriteTime;
    uint64_t FileId;
};

struct CheckRecordEntry {
    std::string Path; // the manifest path, exactly as written
    FileStamp Stamp;  // as listed before the file was read, or after it was written
    uint32_t Crc;     // the CRC-32 the file had then
};

struct CheckRecord {
    LauncherBuild Build;
    uint64_t FullCheckTime; // when the last check that read every file began
    uint64_t WrittenTime;   // when the record was written
    std::vector<CheckRecordEntry> Entries;
};

// False when data is not a whole, undamaged record of this format.
bool ParseCheckRecord(const void* data, size_t length, CheckRecord* record);

// The record's bytes in out (replaced). False when memory runs out.
bool SerialiseCheckRecord(const CheckRecord& record, ByteBuffer* out);

// A record is not trusted at all when another build wrote it, when it is dated after now
// (the clock went back) or when its last full check is kFullCheckIntervalTicks old.
bool NeedsFullCheck(const CheckRecord& record, const LauncherBuild& build, uint64_t now);

enum class QuickVerdict : unsigned char { Read, Current, Changed };

// What the record says of a file, given what the listing found (either may be null) and the
// manifest's CRC-32. The stamps must agree, and the file must have been written more than
// racyTicks before the record was: a file written within a time stamp's granularity before
// the record could have changed again without its stamp changing. Then the recorded CRC-32
// decides: equal to the manifest's, Current; otherwise Changed. Anything else is Read.
QuickVerdict JudgeUnopened(const CheckRecordEntry* recorded, const FileStamp* listed,
                           uint32_t manifestCrc, uint64_t recordWrittenTime, uint64_t racyTicks);

// --- The quick check of one run, on the platform (check_record_win.cpp) ---

// What reading and checksumming a file found.
struct FileRead {
    bool Opened;
    uint32_t Crc;
};

// One run's quick check; the per-entry lists are indexed like the manifest's entries.
struct QuickCheck {
    bool FullCheck;                                // no usable record: every file is read
    std::vector<QuickVerdict> Verdicts;            // Read for each file that must be opened
    std::vector<FileStamp> Stamps;                 // as listed, before any file was read
    std::vector<unsigned char> Listed;             // whether the listing found the file
    std::vector<const CheckRecordEntry*> Recorded; // in Previous, or null
    LauncherBuild Build;
    uint64_t StartTime;
    CheckRecord Previous; // the record as loaded, when it is used
    CheckRecord Record;   // what this run knows: written, or to be written
    std::unordered_map<std::string, size_t> RecordPaths; // Record's entries by path
    bool Unsaved;
    unsigned long long SavedTick;
};

// Loads the record from the launcher's folder, lists the folders of the entries (one pass
// each, never opening a file) and judges every entry.
void StartQuickCheck(const std::vector<ManifestEntry>& entries, QuickCheck* quick);

// After the check phase, with what was read of each entry judged Read: writes the record of
// every file this run has verified, unless nothing in it changed.
void RecordCheckPhase(const std::vector<ManifestEntry>& entries, const std::vector<FileRead>& reads,
                      QuickCheck* quick);

// After a downloaded file was written. While downloads go on the record is written at most
// once per kRecordSpacingMs: each writing costs the whole record.
void RecordDownload(const ManifestEntry& entry, QuickCheck* quick);
constexpr unsigned kRecordSpacingMs = 1000;

// At the end of the download phase, whatever its outcome: writes what is not written yet.
void FinishQuickCheck(QuickCheck* quick);

// The identity of the running program's build, from its image header.
LauncherBuild RunningLauncherBuild();
