// CNG key pairs for the tests: the provider is opened once for the test program.
#include "cng_test_key.h"

#include <cstring>

namespace {

BCRYPT_ALG_HANDLE Provider() {
    static const BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE opened = nullptr;
        BCryptOpenAlgorithmProvider(&opened, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
        return opened;
    }();
    return provider;
}

} // namespace

bool MakeCngTestKey(CngTestKey* key) {
    if (Provider() == nullptr ||
        !BCRYPT_SUCCESS(BCryptGenerateKeyPair(Provider(), &key->Handle, 256, 0)) ||
        !BCRYPT_SUCCESS(BCryptFinalizeKeyPair(key->Handle, 0))) {
        return false;
    }
    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + kP256PublicKeySize];
    ULONG length = 0;
    if (!BCRYPT_SUCCESS(BCryptExportKey(key->Handle, nullptr, BCRYPT_ECCPUBLIC_BLOB, blob,
                                        sizeof blob, &length, 0)) ||
        length != sizeof blob) {
        return false;
    }
    memcpy(key->Public, blob + sizeof(BCRYPT_ECCKEY_BLOB), kP256PublicKeySize);
    return true;
}

void DestroyCngTestKey(CngTestKey* key) {
    if (key->Handle != nullptr) {
        BCryptDestroyKey(key->Handle);
        key->Handle = nullptr;
    }
}

bool SignWithCngTestKey(const CngTestKey& key, const unsigned char digest[kP256DigestSize],
                        unsigned char signature[kP256SignatureSize]) {
    ULONG length = 0;
    return BCRYPT_SUCCESS(BCryptSignHash(key.Handle, nullptr, const_cast<unsigned char*>(digest),
                                         kP256DigestSize, signature, kP256SignatureSize, &length,
                                         0)) &&
           length == kP256SignatureSize;
}
