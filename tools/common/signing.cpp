// Signing with OpenSSL 3's libcrypto. Every object is freed on every path; the private
// key's PEM text only passes through memory that libcrypto wipes when it is freed.
#include "common/signing.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>

#include "common/write_all.h"

namespace {

constexpr char kCurve[] = "prime256v1"; // OpenSSL's name of P-256
constexpr size_t kCoordinateSize = 32;

template <typename T, void (*Free)(T*)> struct Freer {
    void operator()(T* object) const { Free(object); }
};
void FreeBio(BIO* bio) {
    BIO_free(bio);
}
using BioPtr = std::unique_ptr<BIO, Freer<BIO, FreeBio>>;
using PkeyContextPtr = std::unique_ptr<EVP_PKEY_CTX, Freer<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using DigestContextPtr = std::unique_ptr<EVP_MD_CTX, Freer<EVP_MD_CTX, EVP_MD_CTX_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, Freer<BIGNUM, BN_free>>;
using EcdsaSigPtr = std::unique_ptr<ECDSA_SIG, Freer<ECDSA_SIG, ECDSA_SIG_free>>;
using ParamBuildPtr = std::unique_ptr<OSSL_PARAM_BLD, Freer<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>>;
using ParamsPtr = std::unique_ptr<OSSL_PARAM, Freer<OSSL_PARAM, OSSL_PARAM_free>>;

std::string LibcryptoError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) {
        return "libcrypto failed";
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

bool IsP256(EVP_PKEY* key) {
    char group[64];
    size_t length = 0;
    return EVP_PKEY_is_a(key, "EC") &&
           EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                          &length) == 1 &&
           strcmp(group, kCurve) == 0;
}

// The folder of path, flushed so that the new file's name survives a crash as its bytes do.
void SyncFolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

// The unencrypted PKCS#8 PEM text of key, in memory that is wiped when freed.
BioPtr PrivateKeyPem(EVP_PKEY* key) {
    BioPtr pem(BIO_new(BIO_s_secmem()));
    if (!pem ||
        PEM_write_bio_PKCS8PrivateKey(pem.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        return nullptr;
    }
    return pem;
}

// A passphrase prompt would stop an unattended publish: a protected key is refused instead.
int NoPassphrase(char*, int, int, void*) {
    return -1;
}

SigningKey KeyFromPublicPoint(const unsigned char publicKey[kUpdateKeySize]) {
    unsigned char point[1 + kUpdateKeySize];
    point[0] = 0x04; // uncompressed: X then Y
    memcpy(point + 1, publicKey, kUpdateKeySize);
    ParamBuildPtr build(OSSL_PARAM_BLD_new());
    if (!build ||
        OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, kCurve, 0) != 1 ||
        OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, point,
                                         sizeof point) != 1) {
        return nullptr;
    }
    ParamsPtr params(OSSL_PARAM_BLD_to_param(build.get()));
    PkeyContextPtr context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* key = nullptr;
    if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
        EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
        ERR_clear_error();
        return nullptr;
    }
    return SigningKey(key);
}

} // namespace

void SigningKeyFree::operator()(EVP_PKEY* key) const {
    EVP_PKEY_free(key);
}

SigningKey GenerateSigningKey(const std::string& path, std::string* error) {
    SigningKey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", kCurve));
    BioPtr pem = key ? PrivateKeyPem(key.get()) : nullptr;
    if (!pem) {
        *error = "cannot make a P-256 key: " + LibcryptoError();
        return nullptr;
    }
    // O_EXCL with O_NOFOLLOW: never over an existing file, never through a link.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = "cannot create " + path + ": " + strerror(errno);
        return nullptr;
    }
    char* text = nullptr;
    const long length = BIO_get_mem_data(pem.get(), &text);
    bool written = length > 0 && WriteAll(fd, text, static_cast<size_t>(length)) && fsync(fd) == 0;
    int failure = errno;
    if (close(fd) != 0 && written) {
        written = false;
        failure = errno;
    }
    if (!written) {
        *error = "cannot write " + path + ": " + strerror(failure);
        unlink(path.c_str());
        return nullptr;
    }
    SyncFolderOf(path);
    return key;
}

SigningKey LoadSigningKey(const std::string& path, std::string* error) {
    BioPtr file(BIO_new_file(path.c_str(), "r"));
    if (!file) {
        *error = "cannot read " + path + ": " + strerror(errno);
        ERR_clear_error();
        return nullptr;
    }
    SigningKey key(PEM_read_bio_PrivateKey(file.get(), nullptr, NoPassphrase, nullptr));
    if (!key) {
        *error = path + " holds no private key without a passphrase: " + LibcryptoError();
        return nullptr;
    }
    if (!IsP256(key.get())) {
        *error = path + " is not a P-256 (prime256v1) EC key";
        ERR_clear_error();
        return nullptr;
    }
    return key;
}

bool PublicUpdateKey(EVP_PKEY* key, unsigned char publicKey[kUpdateKeySize]) {
    BIGNUM* x = nullptr;
    BIGNUM* y = nullptr;
    const bool got = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_X, &x) == 1 &&
                     EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_Y, &y) == 1;
    BignumPtr ownX(x);
    BignumPtr ownY(y);
    ERR_clear_error();
    return got && BN_bn2binpad(x, publicKey, kCoordinateSize) == kCoordinateSize &&
           BN_bn2binpad(y, publicKey + kCoordinateSize, kCoordinateSize) == kCoordinateSize;
}

std::string UpdateKeyLine(EVP_PKEY* key) {
    unsigned char publicKey[kUpdateKeySize];
    return PublicUpdateKey(key, publicKey) ? "UpdateKey=" + FormatUpdateKey(publicKey) : "";
}

Sha256Stream::Sha256Stream() : context_(EVP_MD_CTX_new()), failed_(false) {
    failed_ = context_ == nullptr || EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1;
}

Sha256Stream::~Sha256Stream() {
    EVP_MD_CTX_free(context_);
}

void Sha256Stream::Add(const void* data, size_t length) {
    failed_ = failed_ || EVP_DigestUpdate(context_, data, length) != 1;
}

bool Sha256Stream::Finish(unsigned char digest[kSha256Size]) {
    unsigned int length = 0;
    return !failed_ && EVP_DigestFinal_ex(context_, digest, &length) == 1 && length == kSha256Size;
}

bool SignBytes(EVP_PKEY* key, const std::string& data, ListSignature* signature) {
    DigestContextPtr context(EVP_MD_CTX_new());
    unsigned char der[128]; // a P-256 signature in DER is at most 72 bytes
    size_t derLength = sizeof der;
    if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key) != 1 ||
        EVP_DigestSign(context.get(), der, &derLength,
                       reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1) {
        ERR_clear_error();
        return false;
    }
    const unsigned char* read = der;
    EcdsaSigPtr parsed(d2i_ECDSA_SIG(nullptr, &read, static_cast<long>(derLength)));
    if (!parsed || read != der + derLength) {
        ERR_clear_error();
        return false;
    }
    const BIGNUM* r = nullptr;
    const BIGNUM* s = nullptr;
    ECDSA_SIG_get0(parsed.get(), &r, &s);
    return BN_bn2binpad(r, signature->Bytes, kCoordinateSize) == kCoordinateSize &&
           BN_bn2binpad(s, signature->Bytes + kCoordinateSize, kCoordinateSize) == kCoordinateSize;
}

bool VerifyBytes(const unsigned char publicKey[kUpdateKeySize], const std::string& data,
                 const ListSignature& signature) {
    SigningKey key = KeyFromPublicPoint(publicKey);
    EcdsaSigPtr parsed(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(signature.Bytes, kCoordinateSize, nullptr);
    BIGNUM* s = BN_bin2bn(signature.Bytes + kCoordinateSize, kCoordinateSize, nullptr);
    if (!parsed || !r || !s || ECDSA_SIG_set0(parsed.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        return false;
    }
    unsigned char* der = nullptr;
    const int derLength = i2d_ECDSA_SIG(parsed.get(), &der);
    DigestContextPtr context(EVP_MD_CTX_new());
    const bool verified =
        key && derLength > 0 && context &&
        EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
        EVP_DigestVerify(context.get(), der, static_cast<size_t>(derLength),
                         reinterpret_cast<const unsigned char*>(data.data()), data.size()) == 1;
    OPENSSL_free(der);
    ERR_clear_error();
    return verified;
}

bool SignList(const SignedList& list, const std::vector<EVP_PKEY*>& keys, std::string* listBytes,
              std::string* signatures, std::string* error) {
    const std::string bytes = FormatSignedList(list);
    SignedList readBack;
    if (!ParseSignedList(bytes.data(), bytes.size(), "", &readBack) ||
        readBack.Entries.size() != list.Entries.size()) {
        *error = "the list breaks a rule of the launcher's parser";
        return false;
    }
    if (keys.empty() || keys.size() > kSignaturesMaxLines) {
        *error = "a list is signed by 1 to " + std::to_string(kSignaturesMaxLines) + " keys";
        return false;
    }
    std::string lines;
    for (EVP_PKEY* key : keys) {
        ListSignature signature;
        if (!IsP256(key) || !SignBytes(key, bytes, &signature)) {
            *error = "signing failed: " + LibcryptoError();
            return false;
        }
        lines += FormatSignatureLine(signature);
    }
    *listBytes = bytes;
    *signatures = lines;
    return true;
}
