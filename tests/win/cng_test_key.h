// P-256 key pairs made by CNG for the Win32 tests, which sign with their private half.
#pragma once

#include <windows.h>

#include <bcrypt.h>

#include "crypto/signature.h"

struct CngTestKey {
    unsigned char Public[kP256PublicKeySize] = {};
    BCRYPT_KEY_HANDLE Handle = nullptr;
};

// A new key pair; false when CNG cannot make one.
bool MakeCngTestKey(CngTestKey* key);
void DestroyCngTestKey(CngTestKey* key);
// r || s over a SHA-256 digest.
bool SignWithCngTestKey(const CngTestKey& key, const unsigned char digest[kP256DigestSize],
                        unsigned char signature[kP256SignatureSize]);
