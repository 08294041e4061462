// SHA-256 of a stream handed over one buffer at a time and computed on a second thread, so
// that hashing a download overlaps reading it: the caller fills one buffer while the other
// is hashed.
#pragma once

#include <cstddef>

#include "crypto/sha256.h"

// One digest in progress. Sha256OverlapBegin opens it; Sha256OverlapFinish or
// Sha256OverlapAbandon closes it (and its thread), and every path that began one must reach
// one of them.
struct Sha256Overlap {
    Sha256Hash Hash;
    void* Thread = nullptr; // started with the first buffer handed over; null until then
    void* Work = nullptr;   // auto-reset event: a buffer, or the stop, waits for the thread
    void* Idle = nullptr;   // auto-reset event: the thread has hashed the buffer it was given
    const void* Data = nullptr;
    size_t Length = 0;
    bool Busy = false;   // a buffer was handed over and the thread has not reported it hashed
    bool Stop = false;   // the thread ends at its next wake-up
    bool Failed = false; // a piece could not be hashed: the digest is lost
};

// False, with nothing open, when no hash can be had.
bool Sha256OverlapBegin(Sha256Overlap* hash);

// Waits until the buffer handed over before is hashed, then hands over this one and
// returns: data must stay unchanged until the next call on hash. Hashes here when no thread
// can be had.
void Sha256OverlapHand(Sha256Overlap* hash, const void* data, size_t length);

// Hashes the last piece here once the thread is done, writes the digest of everything and
// closes. False when any piece could not be hashed.
bool Sha256OverlapFinish(Sha256Overlap* hash, const void* last, size_t lastLength,
                         unsigned char digest[kSha256DigestSize]);

// Waits for the thread, ends it and closes without a result; nothing when not open.
void Sha256OverlapAbandon(Sha256Overlap* hash);
