// What a download cut short leaves beside its ".part" file so that a later run may continue
// it: the content it belongs to, its whole length and the server's validator of it. Kept as
// a few lines of text in "<target>.qres"; whatever does not read back whole means "start over".
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/sha256.h"

constexpr char kPartSuffix[] = ".part";
// As long as ".part", so it fits wherever the ".part" name fits.
constexpr char kResumeSuffix[] = ".qres";

// An ETag or an HTTP date, terminator included.
constexpr size_t kValidatorCapacity = 128;
// The text form of the longest record, terminator included.
constexpr size_t kResumeRecordCapacity = 320;

struct ResumeRecord {
    bool HasCrc;    // the body's expected CRC-32 is known
    uint32_t Crc;   // that CRC-32
    bool HasDigest; // its signed SHA-256 is known (Size is the signed one)
    unsigned char Sha256[kSha256DigestSize];
    uint64_t Size;                      // the whole body's length in bytes
    char Validator[kValidatorCapacity]; // sent back in If-Range; never empty in a record
};

// The record as text:
//   qelt-resume 2
//   crc 1a2b3c4d        ("crc -" without a CRC-32)
//   sha256 <64 hex>     ("sha256 -" without a signed digest)
//   size 123456
//   validator "5f3a-19"  (the rest of the line)
//   end
// False, out empty, when it does not fit or the record has no validator.
bool FormatResumeRecord(const ResumeRecord& record, char* out, size_t cap);

// Reads exactly that form back. False for anything else, including a text cut short by a
// crash (no "end" line), a validator with control characters, and a size of 0.
bool ParseResumeRecord(const char* text, size_t length, ResumeRecord* record);

// The validator an If-Range may carry: a strong ETag, else a Last-Modified date (a weak
// ETag cannot be compared strongly, which If-Range needs). Either must be printable ASCII
// and fit. Writes "" and returns false when neither qualifies.
bool ChooseValidator(const char* etag, const char* lastModified, char* out, size_t cap);

// "bytes <first>-<last>/<complete>" of a 206 answer, with first <= last < complete.
bool ParseContentRange(const char* value, uint64_t* first, uint64_t* last, uint64_t* complete);
