// The platform half of the signed list: checking its signatures with the system's crypto,
// and keeping the last sequence number the launcher accepted in its own folder.
#pragma once

#include <cstddef>
#include <cstdint>

#include "update/signed_list.h"

// True when the signature file holds a P-256 signature by key over the SHA-256 of the
// list's exact bytes (any one of its signatures will do). False for a list or signature
// file beyond their bounds or malformed signature file.
bool SignedListVerifies(const unsigned char key[kUpdateKeySize], const void* list,
                        size_t listLength, const void* signatures, size_t signaturesLength);

// The last accepted sequence number, from kUpdateSequenceName in launcherDir; 0 when the
// file does not exist (no signed list accepted yet). False when it exists but cannot be
// read or holds no record.
bool ReadAcceptedSequence(const char* launcherDir, uint64_t* sequence);
// Replaces the record atomically: afterwards it holds sequence, or the old record is kept.
bool WriteAcceptedSequence(const char* launcherDir, uint64_t sequence);
