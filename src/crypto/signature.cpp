// VerifyP256Signature: the public key is imported for each check (a few microseconds, and
// no key object outlives the call); the algorithm provider is opened once for the process.
#include "crypto/signature.h"

#include <windows.h>

#include <bcrypt.h>

#include <cstring>

namespace {

BCRYPT_ALG_HANDLE EcdsaP256Provider() {
    static const BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE opened = nullptr;
        if (!BCRYPT_SUCCESS(
                BCryptOpenAlgorithmProvider(&opened, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
            opened = nullptr;
        }
        return opened;
    }();
    return provider;
}

// BCRYPT_ECCPUBLIC_BLOB: the header, then X and Y.
struct P256PublicBlob {
    BCRYPT_ECCKEY_BLOB Header;
    unsigned char Point[kP256PublicKeySize];
};

} // namespace

bool VerifyP256Signature(const unsigned char publicKey[kP256PublicKeySize],
                         const unsigned char digest[kP256DigestSize],
                         const unsigned char signature[kP256SignatureSize]) {
    BCRYPT_ALG_HANDLE provider = EcdsaP256Provider();
    if (provider == nullptr) {
        return false;
    }
    P256PublicBlob blob;
    blob.Header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    blob.Header.cbKey = kP256PublicKeySize / 2;
    memcpy(blob.Point, publicKey, kP256PublicKeySize);
    static_assert(sizeof blob == sizeof(BCRYPT_ECCKEY_BLOB) + kP256PublicKeySize,
                  "the blob is the header and the point, without padding");
    BCRYPT_KEY_HANDLE key = nullptr;
    if (!BCRYPT_SUCCESS(BCryptImportKeyPair(provider, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key,
                                            reinterpret_cast<unsigned char*>(&blob), sizeof blob,
                                            0))) {
        return false;
    }
    // CNG reads digest and signature only; its prototype lacks the const.
    const NTSTATUS status =
        BCryptVerifySignature(key, nullptr, const_cast<unsigned char*>(digest), kP256DigestSize,
                              const_cast<unsigned char*>(signature), kP256SignatureSize, 0);
    BCryptDestroyKey(key);
    return BCRYPT_SUCCESS(status);
}
