// trust_ca.exe: makes this Wine prefix (or Windows user) trust a test certificate authority
// for HTTPS, through the CryptoAPI's Root store of the current user, or forgets it.
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

// Deletes every certificate of store that matches. The matches are collected first and
// deleted after the search: deleting while searching a collection store does not end
// under Wine. Bounded, since a Root store holds a few hundred certificates at most.
void DeleteMatching(HCERTSTORE store, DWORD findType, const void* findValue) {
    constexpr size_t kMaxMatches = 64;
    std::vector<PCCERT_CONTEXT> matches;
    PCCERT_CONTEXT found = nullptr;
    while (matches.size() < kMaxMatches &&
           (found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, findType, findValue,
                                               found)) != nullptr) {
        matches.push_back(CertDuplicateCertificateContext(found));
    }
    if (found != nullptr) {
        CertFreeCertificateContext(found);
    }
    for (PCCERT_CONTEXT match : matches) {
        CertDeleteCertificateFromStore(match); // frees match, whatever the result
    }
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
    // The user's own registry part of Root: Wine rebuilds the machine's part from the host's
    // authorities in every process, dropping any other, and a write through the combined
    // system store lands there.
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                                     CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
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
