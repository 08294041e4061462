// trust_ca.exe: makes this Wine prefix (or Windows machine) trust a test certificate
// authority for HTTPS, through the CryptoAPI's local-machine Root store, or forgets it.
//   trust_ca add CA.pem      (first drops older certificates with the same subject)
//   trust_ca remove CA.pem
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr long kMaxPem = 64 * 1024;

bool ReadPem(const char* path, std::vector<char>* text) {
    FILE* file = fopen(path, "rb");
    if (file == nullptr) {
        return false;
    }
    text->resize(kMaxPem + 1);
    const size_t n = fread(text->data(), 1, kMaxPem + 1, file);
    fclose(file);
    if (n == 0 || n > static_cast<size_t>(kMaxPem)) {
        return false;
    }
    text->resize(n);
    return true;
}

PCCERT_CONTEXT LoadCertificate(const char* path) {
    std::vector<char> pem;
    if (!ReadPem(path, &pem)) {
        fprintf(stderr, "cannot read %s (at most %ld bytes)\n", path, kMaxPem);
        return nullptr;
    }
    DWORD size = 0;
    const DWORD length = static_cast<DWORD>(pem.size());
    if (!CryptStringToBinaryA(pem.data(), length, CRYPT_STRING_BASE64HEADER, nullptr, &size,
                              nullptr, nullptr)) {
        fprintf(stderr, "%s holds no PEM certificate\n", path);
        return nullptr;
    }
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(pem.data(), length, CRYPT_STRING_BASE64HEADER, der.data(), &size,
                              nullptr, nullptr)) {
        return nullptr;
    }
    PCCERT_CONTEXT certificate = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), size);
    if (certificate == nullptr) {
        fprintf(stderr, "%s is not a certificate (error %lu)\n", path, GetLastError());
    }
    return certificate;
}

// Deletes every certificate of store that matches; returns how many went.
int DeleteMatching(HCERTSTORE store, DWORD findType, const void* findValue) {
    int deleted = 0;
    PCCERT_CONTEXT found = nullptr;
    while ((found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, findType, findValue,
                                               found)) != nullptr) {
        // Deleting frees the context it is given; the search goes on from a copy.
        if (CertDeleteCertificateFromStore(CertDuplicateCertificateContext(found))) {
            ++deleted;
        }
    }
    return deleted;
}

} // namespace

int main(int argc, char** argv) {
    const bool add = argc == 3 && strcmp(argv[1], "add") == 0;
    const bool remove = argc == 3 && strcmp(argv[1], "remove") == 0;
    if (!add && !remove) {
        fprintf(stderr, "usage: trust_ca add|remove CA.pem\n");
        return 2;
    }
    PCCERT_CONTEXT certificate = LoadCertificate(argv[2]);
    if (certificate == nullptr) {
        return 1;
    }
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (store == nullptr) {
        fprintf(stderr, "cannot open the Root store (error %lu)\n", GetLastError());
        CertFreeCertificateContext(certificate);
        return 1;
    }
    bool ok = true;
    if (add) {
        // A run that ended early may have left an older authority of the same name.
        DeleteMatching(store, CERT_FIND_SUBJECT_NAME, &certificate->pCertInfo->Subject);
        ok = CertAddCertificateContextToStore(store, certificate, CERT_STORE_ADD_REPLACE_EXISTING,
                                              nullptr) != FALSE;
        if (!ok) {
            fprintf(stderr, "cannot add the certificate (error %lu)\n", GetLastError());
        }
    } else {
        DeleteMatching(store, CERT_FIND_EXISTING, certificate);
    }
    CertCloseStore(store, 0);
    CertFreeCertificateContext(certificate);
    printf("%s %s\n", add ? "trusted" : "removed", argv[2]);
    return ok ? 0 : 1;
}
