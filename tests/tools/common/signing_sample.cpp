// Writes a freshly signed list and its variants into a folder, with the operator's own
// signing code, for the launcher's CNG code to check under Wine (signing_agreement.sh).
// Nothing here is kept: every run makes new keys.
//   key.pem, other.pem   the private keys (made by GenerateSigningKey)
//   key.txt, other.txt   their UpdateKey values
//   files.txt            a signed list
//   files.sig            signed by key; other.sig by other; rotation.sig by other, then key
//   short-r.sig, short-s.sig  signed by key, r resp. s with a leading zero byte
#include <cstdio>
#include <fstream>
#include <string>

#include "common/signing.h"

namespace {

bool Write(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    return static_cast<bool>(out.flush());
}

// Signs until the byte at index is zero (once in 256 tries on average).
bool SignWithLeadingZero(EVP_PKEY* key, const std::string& data, size_t index, std::string* line) {
    for (int tries = 0; tries < 20000; ++tries) {
        ListSignature signature;
        if (!SignBytes(key, data, &signature)) {
            return false;
        }
        if (signature.Bytes[index] == 0) {
            *line = FormatSignatureLine(signature);
            return true;
        }
    }
    return false;
}

std::string UpdateKeyText(EVP_PKEY* key) {
    unsigned char publicKey[kUpdateKeySize];
    return PublicUpdateKey(key, publicKey) ? FormatUpdateKey(publicKey) : "";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: signing_sample DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::string error;
    if (!GenerateSigningKey(dir + "/key.pem", &error) ||
        !GenerateSigningKey(dir + "/other.pem", &error)) {
        fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    SigningKey key = LoadSigningKey(dir + "/key.pem", &error);
    SigningKey other = key ? LoadSigningKey(dir + "/other.pem", &error) : nullptr;
    if (!other) {
        fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }

    SignedList list;
    list.Sequence = 12;
    list.CreatedUnix = 1709251199;
    list.HasPackage = true;
    list.PackageSize = 700000;
    const char* paths[] = {"Launcher.exe", "data/map1.att", "data/sub dir/readme.txt"};
    for (const char* path : paths) {
        SignedListEntry entry;
        entry.Path = path;
        entry.Size = list.Entries.size() * 1000;
        entry.Crc = static_cast<uint32_t>(entry.Size * 2654435761u);
        Sha256Stream hash;
        hash.Add(path, std::char_traits<char>::length(path));
        if (!hash.Finish(entry.Sha256)) {
            return 1;
        }
        list.Entries.push_back(entry);
    }
    std::string bytes;
    std::string bySigner;
    std::string byOther;
    std::string shortR;
    std::string shortS;
    if (!SignList(list, {key.get()}, &bytes, &bySigner, &error) ||
        !SignList(list, {other.get()}, &bytes, &byOther, &error) ||
        !SignWithLeadingZero(key.get(), bytes, 0, &shortR) ||
        !SignWithLeadingZero(key.get(), bytes, kListSignatureSize / 2, &shortS)) {
        fprintf(stderr, "signing failed %s\n", error.c_str());
        return 1;
    }
    const bool written = Write(dir + "/key.txt", UpdateKeyText(key.get())) &&
                         Write(dir + "/other.txt", UpdateKeyText(other.get())) &&
                         Write(dir + "/files.txt", bytes) && Write(dir + "/files.sig", bySigner) &&
                         Write(dir + "/other.sig", byOther) &&
                         Write(dir + "/rotation.sig", byOther + bySigner) &&
                         Write(dir + "/short-r.sig", shortR) && Write(dir + "/short-s.sig", shortS);
    return written ? 0 : 1;
}
