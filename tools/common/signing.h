// The operator's side of signed updates, on OpenSSL's libcrypto: the P-256 signing key
// (made, stored, read), the public key line for Launcher.ini, SHA-256 in pieces, and the
// signed list with its signature file, which the launcher checks with CNG.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "update/signed_list.h"

typedef struct evp_pkey_st EVP_PKEY;
typedef struct evp_md_ctx_st EVP_MD_CTX;

struct SigningKeyFree {
    void operator()(EVP_PKEY* key) const;
};
using SigningKey = std::unique_ptr<EVP_PKEY, SigningKeyFree>;

// Makes a new P-256 key and writes it to path as unencrypted PEM (PKCS#8) with mode 0600,
// never over anything that exists there (a link included). Null, with *error saying why and
// no file left behind, when it cannot.
SigningKey GenerateSigningKey(const std::string& path, std::string* error);

// Reads a P-256 private key from a PEM file. Null with *error for anything else (another
// curve or algorithm, a key protected by a passphrase, no key at all).
SigningKey LoadSigningKey(const std::string& path, std::string* error);

// The public key as Launcher.ini takes it (ParseUpdateKey), and its line "UpdateKey=<key>".
bool PublicUpdateKey(EVP_PKEY* key, unsigned char publicKey[kUpdateKeySize]);
std::string UpdateKeyLine(EVP_PKEY* key);

// SHA-256 over pieces, so a file can be hashed in the same read as its CRC-32.
class Sha256Stream {
  public:
    Sha256Stream();
    ~Sha256Stream();
    Sha256Stream(const Sha256Stream&) = delete;
    Sha256Stream& operator=(const Sha256Stream&) = delete;
    void Add(const void* data, size_t length);
    // The digest of everything added; false if libcrypto failed at any point.
    bool Finish(unsigned char digest[kSha256Size]);

  private:
    EVP_MD_CTX* context_;
    bool failed_;
};

// ECDSA P-256 over the SHA-256 of data, as r || s (libcrypto gives DER; the launcher's CNG
// takes the two numbers side by side, each padded to 32 bytes).
bool SignBytes(EVP_PKEY* key, const std::string& data, ListSignature* signature);
// The check a launcher makes, for tests and for checking a publish: the key as
// Launcher.ini holds it.
bool VerifyBytes(const unsigned char publicKey[kUpdateKeySize], const std::string& data,
                 const ListSignature& signature);

// The list's bytes and its signature file, one signature per key in the order given (a key
// change signs with the old key and the new). The bytes are read back by the launcher's own
// parser first, so nothing is signed that a launcher would refuse. False with *error.
bool SignList(const SignedList& list, const std::vector<EVP_PKEY*>& keys, std::string* listBytes,
              std::string* signatures, std::string* error);
