// The quick-check record, and when it may stand in for reading a file.
//
// Format, every number little-endian:
//
//   "QELTCHK1"                 8 bytes: the format and its version
//   build                      4 x u32: the launcher build that wrote it
//   full check time            u64: when the last check that read every file began
//   written time               u64: when the record was written
//   entry count                u32
//   entry count times:
//     path length              u16, 1 to 200
//     path                     that many bytes, no NUL: the manifest path as written
//     size, write time, file id  3 x u64
//     crc                      u32: the file's CRC-32
//   check                      u32: CRC-32 of every byte before it
//
// Nothing may follow the check. A record that breaks any of this, or whose full check
// time is after its written time, is damaged and not used at all.
#include "update/check_record.h"

#include <cstring>

#include "crc32/crc32.h"
#include "update/manifest.h"

namespace {

constexpr char kMagic[8] = {'Q', 'E', 'L', 'T', 'C', 'H', 'K', '1'};
constexpr size_t kHeaderSize = sizeof kMagic + 4 * 4 + 8 + 8 + 4;
constexpr size_t kEntryFixedSize = 2 + 3 * 8 + 4;
constexpr size_t kCheckSize = 4;

// Reading walks a cursor over the bytes; callers test the length first.
struct Cursor {
    const unsigned char* At;
    size_t Left;
};

const unsigned char* TakeBytes(Cursor& in, size_t n) {
    const unsigned char* at = in.At;
    in.At += n;
    in.Left -= n;
    return at;
}

uint64_t TakeNumber(Cursor& in, size_t bytes) {
    const unsigned char* at = TakeBytes(in, bytes);
    uint64_t value = 0;
    for (size_t i = bytes; i-- > 0;) {
        value = value << 8 | at[i];
    }
    return value;
}

void PutNumber(unsigned char*& at, uint64_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) {
        *at++ = static_cast<unsigned char>(value >> (8 * i));
    }
}

bool SameStamp(const FileStamp& a, const FileStamp& b) {
    return a.Size == b.Size && a.WriteTime == b.WriteTime && a.FileId == b.FileId;
}

} // namespace

bool ParseCheckRecord(const void* data, size_t length, CheckRecord* record) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    if (length < kHeaderSize + kCheckSize || memcmp(bytes, kMagic, sizeof kMagic) != 0) {
        return false;
    }
    const size_t body = length - kCheckSize;
    Cursor check = {bytes + body, kCheckSize};
    if (BufferChecksum(bytes, body) != TakeNumber(check, kCheckSize)) {
        return false;
    }
    Cursor in = {bytes + sizeof kMagic, body - sizeof kMagic};
    CheckRecord parsed;
    for (uint32_t& word : parsed.Build.Words) {
        word = static_cast<uint32_t>(TakeNumber(in, 4));
    }
    parsed.FullCheckTime = TakeNumber(in, 8);
    parsed.WrittenTime = TakeNumber(in, 8);
    const uint64_t count = TakeNumber(in, 4);
    // Every entry takes at least its fixed part and one path byte: a count the bytes
    // cannot hold is damage, not a reason to reserve memory for it.
    if (parsed.FullCheckTime > parsed.WrittenTime || count > in.Left / (kEntryFixedSize + 1)) {
        return false;
    }
    parsed.Entries.resize(static_cast<size_t>(count));
    for (CheckRecordEntry& entry : parsed.Entries) {
        if (in.Left < 2) {
            return false;
        }
        const size_t pathLength = static_cast<size_t>(TakeNumber(in, 2));
        if (pathLength == 0 || pathLength > kManifestPathMax ||
            in.Left < pathLength + kEntryFixedSize - 2) {
            return false;
        }
        const char* path = reinterpret_cast<const char*>(TakeBytes(in, pathLength));
        if (memchr(path, '\0', pathLength) != nullptr) {
            return false;
        }
        entry.Path.assign(path, pathLength);
        entry.Stamp.Size = TakeNumber(in, 8);
        entry.Stamp.WriteTime = TakeNumber(in, 8);
        entry.Stamp.FileId = TakeNumber(in, 8);
        entry.Crc = static_cast<uint32_t>(TakeNumber(in, 4));
    }
    if (in.Left != 0) {
        return false;
    }
    *record = std::move(parsed);
    return true;
}

bool SerialiseCheckRecord(const CheckRecord& record, ByteBuffer* out) {
    size_t size = kHeaderSize + kCheckSize;
    for (const CheckRecordEntry& entry : record.Entries) {
        size += kEntryFixedSize + entry.Path.size();
    }
    ByteBuffer bytes;
    if (!ReserveBytes(bytes, size)) {
        return false;
    }
    bytes.resize(size);
    unsigned char* at = bytes.data();
    memcpy(at, kMagic, sizeof kMagic);
    at += sizeof kMagic;
    for (uint32_t word : record.Build.Words) {
        PutNumber(at, word, 4);
    }
    PutNumber(at, record.FullCheckTime, 8);
    PutNumber(at, record.WrittenTime, 8);
    PutNumber(at, record.Entries.size(), 4);
    for (const CheckRecordEntry& entry : record.Entries) {
        PutNumber(at, entry.Path.size(), 2);
        memcpy(at, entry.Path.data(), entry.Path.size());
        at += entry.Path.size();
        PutNumber(at, entry.Stamp.Size, 8);
        PutNumber(at, entry.Stamp.WriteTime, 8);
        PutNumber(at, entry.Stamp.FileId, 8);
        PutNumber(at, entry.Crc, 4);
    }
    PutNumber(at, BufferChecksum(bytes.data(), size - kCheckSize), 4);
    out->swap(bytes);
    return true;
}

bool NeedsFullCheck(const CheckRecord& record, const LauncherBuild& build, uint64_t now) {
    return memcmp(record.Build.Words, build.Words, sizeof build.Words) != 0 ||
           now < record.WrittenTime || now - record.FullCheckTime >= kFullCheckIntervalTicks;
}

QuickVerdict JudgeUnopened(const CheckRecordEntry* recorded, const FileStamp* listed,
                           uint32_t manifestCrc, uint64_t recordWrittenTime, uint64_t racyTicks) {
    if (recorded == nullptr || listed == nullptr || listed->WriteTime == 0 ||
        !SameStamp(recorded->Stamp, *listed)) {
        return QuickVerdict::Read;
    }
    // Written too close before the record (or after it, by a clock ahead of ours).
    if (recordWrittenTime < racyTicks || listed->WriteTime > recordWrittenTime - racyTicks) {
        return QuickVerdict::Read;
    }
    return recorded->Crc == manifestCrc ? QuickVerdict::Current : QuickVerdict::Changed;
}
