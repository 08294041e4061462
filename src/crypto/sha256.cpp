// SHA-256 on CNG: the algorithm provider is opened once for the process (it is never
// closed, like the rest of the launcher's process-wide state); each digest has its own
// hash object, destroyed when it is finished or abandoned.
#include "crypto/sha256.h"

#include <windows.h>

#include <bcrypt.h>

namespace {

// BCryptHashData takes a 32-bit length: longer pieces go in parts of this size.
constexpr size_t kMaxPiece = 1u << 30;

BCRYPT_ALG_HANDLE Sha256Provider() {
    // Opened on first use, by whichever thread hashes first; C++ makes that race-free.
    static const BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE opened = nullptr;
        if (!BCRYPT_SUCCESS(
                BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
            opened = nullptr;
        }
        return opened;
    }();
    return provider;
}

} // namespace

bool Sha256Begin(Sha256Hash* hash) {
    hash->Handle = nullptr;
    BCRYPT_ALG_HANDLE provider = Sha256Provider();
    BCRYPT_HASH_HANDLE handle = nullptr;
    // No object buffer: CNG allocates the hash object itself (Windows 7 and later).
    if (provider == nullptr ||
        !BCRYPT_SUCCESS(BCryptCreateHash(provider, &handle, nullptr, 0, nullptr, 0, 0))) {
        return false;
    }
    hash->Handle = handle;
    return true;
}

bool Sha256Add(Sha256Hash* hash, const void* data, size_t length) {
    if (hash->Handle == nullptr) {
        return false;
    }
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    while (length > 0) {
        const size_t piece = length < kMaxPiece ? length : kMaxPiece;
        // CNG does not write the input; its prototype just lacks the const.
        if (!BCRYPT_SUCCESS(BCryptHashData(hash->Handle, const_cast<unsigned char*>(bytes),
                                           static_cast<ULONG>(piece), 0))) {
            return false;
        }
        bytes += piece;
        length -= piece;
    }
    return true;
}

bool Sha256Finish(Sha256Hash* hash, unsigned char digest[kSha256DigestSize]) {
    if (hash->Handle == nullptr) {
        return false;
    }
    const bool finished =
        BCRYPT_SUCCESS(BCryptFinishHash(hash->Handle, digest, kSha256DigestSize, 0));
    Sha256Abandon(hash);
    return finished;
}

void Sha256Abandon(Sha256Hash* hash) {
    if (hash->Handle != nullptr) {
        BCryptDestroyHash(hash->Handle);
        hash->Handle = nullptr;
    }
}

bool Sha256Of(const void* data, size_t length, unsigned char digest[kSha256DigestSize]) {
    Sha256Hash hash;
    if (!Sha256Begin(&hash)) {
        return false;
    }
    if (!Sha256Add(&hash, data, length)) {
        Sha256Abandon(&hash);
        return false;
    }
    return Sha256Finish(&hash, digest);
}
