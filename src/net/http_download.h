// A file download streamed to disk: HttpRequest's form for bodies of any size. The body goes
// through one fixed buffer into "<target>.part", is checked on the way, and replaces the
// target only when it is whole and accepted; memory stays the same whatever the size. A
// download cut short is continued by a later call for the same target and the same expected
// body, from where it stopped.
#pragma once

#include <cstdint>

#include "crypto/sha256.h"

// What a body must be before it may replace its target. Every check of the content lives
// here and in the digest kept while the body arrives (http_download_win.cpp).
struct ExpectedBody {
    bool HasCrc;  // the manifest's CRC-32 is known (not for an unsigned game data package)
    uint32_t Crc; // that CRC-32
    // From a signed list: the body's exact size and SHA-256, which the operator's key vouches
    // for (a CRC-32 can be matched at will).
    bool HasDigest = false;
    uint64_t Size = 0;
    unsigned char Sha256[kSha256DigestSize] = {};
};

enum class DownloadResult {
    Written,     // the target holds the whole, accepted body; nothing is left beside it
    NotReceived, // no answer, a status other than 200 (or 206 to a resume), or a body cut
                 // short; what arrived stays for a later call when it can be resumed
    Refused,     // the body is not the expected one (arrived whole, or longer or announced
                 // with another size than the signed one); deleted, with the resume data, so
                 // it is never continued
    WriteFailed, // the ".part" file could not be written, flushed or moved over the target
};

// GET of url into targetPath (at most kPathCapacity - 6 characters, so its ".part" fits),
// creating the folders along it (removed again when nothing is left in them). Shows
// "Dang tai ..." with progressLabel as HttpRequest does, the percentage counting the whole
// file when it continues an earlier one, and keeps to the download rate limit. The target
// is changed only by the final rename.
//
// Resuming: when the body comes with a Content-Length and a validator (strong ETag, else
// Last-Modified), "<target>.qres" records the expected body, the length and the validator
// while "<target>.part" fills. A later call with the same expectation asks for the rest
// ("Range: bytes=N-" with "If-Range"): a 206 continues the file, a 200 starts it over. A
// ".part" whose record does not fit the expectation is deleted, never joined.
DownloadResult HttpRequestToFile(const char* url, const char* targetPath,
                                 const ExpectedBody& expected, const char* progressLabel);
