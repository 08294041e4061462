// Checking an ECDSA P-256 signature with the system's own provider (CNG).
#pragma once

#include <cstddef>

constexpr size_t kP256PublicKeySize = 64; // X || Y, big-endian, 32 bytes each
constexpr size_t kP256SignatureSize = 64; // r || s, big-endian, 32 bytes each
constexpr size_t kP256DigestSize = 32;    // a SHA-256 digest

// True when signature is a valid signature of digest under publicKey. False for any other
// signature, for a key that is not a point of the curve, and when CNG cannot check.
bool VerifyP256Signature(const unsigned char publicKey[kP256PublicKeySize],
                         const unsigned char digest[kP256DigestSize],
                         const unsigned char signature[kP256SignatureSize]);
