// SHA-256 with the system's own provider (CNG), over pieces as they arrive, so that a body
// can be hashed while it streams in.
#pragma once

#include <cstddef>

constexpr size_t kSha256DigestSize = 32;

// One digest in progress. Sha256Begin opens it; Sha256Finish or Sha256Abandon closes it,
// and every path that began one must reach one of them.
struct Sha256Hash {
    void* Handle = nullptr; // the CNG hash object, null when closed
};

// False, with nothing open, when the provider cannot give a hash object.
bool Sha256Begin(Sha256Hash* hash);
// Adds the next piece, of any length (zero too). False when the hash cannot take it; the
// hash stays open for Sha256Abandon.
bool Sha256Add(Sha256Hash* hash, const void* data, size_t length);
// Writes the digest of everything added and closes the hash, also when it fails.
bool Sha256Finish(Sha256Hash* hash, unsigned char digest[kSha256DigestSize]);
// Closes the hash without a result; does nothing when it is not open.
void Sha256Abandon(Sha256Hash* hash);

// The digest of one buffer.
bool Sha256Of(const void* data, size_t length, unsigned char digest[kSha256DigestSize]);
