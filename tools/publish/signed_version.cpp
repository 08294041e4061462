// The signed list in a published tree, on the operator's libcrypto (common/signing.h).
#include "signed_version.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "common/signing.h"
#include "publish_files.h"
#include "tree_versions.h"

namespace {

constexpr char kSequenceRecord[] = ".qelt-publish.sequence";
constexpr char kPackageServed[] = "downloads/Qelt-Data.exe";
// LinkTree leaves out names with a suffix; a version holds none with this one.
constexpr char kNeverInAVersion[] = "#qelt-new";

bool ReadWhole(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::stringstream bytes;
    bytes << in.rdbuf();
    *text = bytes.str();
    return !in.bad();
}

// How many of keys signed list in signatures, and whether every signature is by one of them.
size_t KeysThatSigned(const std::string& list, const std::string& signatures,
                      const std::vector<EVP_PKEY*>& keys, bool* allByKeys) {
    std::vector<ListSignature> parsed;
    *allByKeys = false;
    if (!ParseSignatures(signatures.data(), signatures.size(), &parsed)) {
        return 0;
    }
    std::vector<bool> used(parsed.size(), false);
    size_t signers = 0;
    for (EVP_PKEY* key : keys) {
        unsigned char publicKey[kUpdateKeySize];
        bool signedIt = false;
        for (size_t i = 0; i < parsed.size() && PublicUpdateKey(key, publicKey); ++i) {
            if (VerifyBytes(publicKey, list, parsed[i])) {
                used[i] = true;
                signedIt = true;
            }
        }
        signers += signedIt;
    }
    *allByKeys = std::find(used.begin(), used.end(), false) == used.end();
    return signers;
}

bool SignedByOneOf(const std::string& list, const std::string& signatures,
                   const std::vector<EVP_PKEY*>& keys) {
    bool allByKeys = false;
    return KeysThatSigned(list, signatures, keys, &allByKeys) > 0;
}

} // namespace

bool IssuedSequence(const std::string& tree, const LiveVersion& live, uint64_t* highest,
                    std::string* error) {
    *highest = live.HasList ? live.Signed.Sequence : 0;
    std::string record;
    if (ReadWhole(tree + "/" + kSequenceRecord, &record)) {
        uint64_t recorded = 0;
        if (!ParseSequenceRecord(record.data(), record.size(), &recorded)) {
            *error = tree + "/" + kSequenceRecord +
                     " is damaged: write the highest sequence number published into it";
            return false;
        }
        *highest = std::max(*highest, recorded);
    }
    for (int number : VersionNumbers(tree)) {
        std::string list;
        SignedList parsed;
        if (ReadWhole(VersionDir(tree, number) + "/" + kSignedListTreePath, &list) &&
            ParseSignedList(list.data(), list.size(), "", &parsed)) {
            *highest = std::max(*highest, parsed.Sequence);
        }
    }
    return true;
}

bool RecordIssuedSequence(const std::string& tree, uint64_t sequence, std::string* error) {
    const std::string path = tree + "/" + kSequenceRecord;
    const std::string temporary = path + ".new";
    FileError failure;
    if (!WriteTextFile(temporary, FormatSequenceRecord(sequence), &failure)) {
        unlink(temporary.c_str());
        *error = failure.Text;
        return false;
    }
    if (rename(temporary.c_str(), path.c_str()) != 0 || !SyncPath(tree)) {
        *error = "cannot record the sequence number in " + path + ": " + strerror(errno);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

SignedList ListOfFiles(const std::vector<VersionFile>& files, uint64_t sequence) {
    SignedList list;
    list.Sequence = sequence;
    list.CreatedUnix = static_cast<uint64_t>(time(nullptr));
    for (const VersionFile& file : files) {
        if (file.ManifestPath.empty()) {
            list.HasPackage = true;
            list.PackageSize = file.Size;
            memcpy(list.PackageSha256, file.Sha256, kSha256Size);
            continue;
        }
        SignedListEntry entry;
        entry.Path = file.ManifestPath;
        entry.Size = file.Size;
        entry.Crc = file.Crc;
        memcpy(entry.Sha256, file.Sha256, kSha256Size);
        list.Entries.push_back(entry);
    }
    return list;
}

bool CarryPackage(const LiveVersion& live, const std::vector<EVP_PKEY*>& keys, SignedList* list,
                  std::string* error) {
    const std::string path = live.Tree + "/" + kPackageServed;
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return true;
    }
    list->HasPackage = true;
    list->PackageSize = static_cast<uint64_t>(st.st_size);
    if (live.HasList && live.Signed.HasPackage && live.Signed.PackageSize == list->PackageSize &&
        SignedByOneOf(live.List, live.Signatures, keys)) {
        memcpy(list->PackageSha256, live.Signed.PackageSha256, kSha256Size);
        return true;
    }
    fprintf(stderr,
            "qelt-publish: warning: signing %s as the tree holds it (no list signed by these "
            "keys vouches for it); give --package to sign your own copy\n",
            path.c_str());
    uint32_t crc = 0;
    Progress quiet;
    quiet.Terminal = false;
    FileError failure;
    if (!ReadFile(path, list->PackageSize, "", &crc, nullptr, &quiet, &failure,
                  list->PackageSha256)) {
        *error = failure.Text;
        return false;
    }
    return true;
}

bool LiveListIsSame(const LiveVersion& live, SignedList list, const std::vector<EVP_PKEY*>& keys) {
    if (!live.HasList) {
        return false;
    }
    list.Sequence = live.Signed.Sequence;
    list.CreatedUnix = live.Signed.CreatedUnix;
    bool allByKeys = false;
    return FormatSignedList(list) == live.List &&
           KeysThatSigned(live.List, live.Signatures, keys, &allByKeys) == keys.size() && allByKeys;
}

bool WriteSignedList(const std::string& stage, const SignedList& list,
                     const std::vector<EVP_PKEY*>& keys, std::string* error) {
    std::string bytes;
    std::string signatures;
    FileError failure;
    if (!SignList(list, keys, &bytes, &signatures, error)) {
        return false;
    }
    if (!WriteTextFile(stage + "/" + kSignedListTreePath, bytes, &failure) ||
        !WriteTextFile(stage + "/" + kSignaturesTreePath, signatures, &failure)) {
        *error = failure.Text;
        return false;
    }
    return true;
}

int MakeResignedVersion(const std::string& tree, int previous, int number, uint64_t sequence,
                        const std::vector<EVP_PKEY*>& keys, std::string* error) {
    const std::string from = VersionDir(tree, previous);
    std::string list;
    std::string signatures;
    SignedList parsed;
    if (!ReadWhole(from + "/" + kSignedListTreePath, &list) ||
        !ParseSignedList(list.data(), list.size(), "", &parsed)) {
        *error = "version " + std::to_string(previous) +
                 " has no signed list: publish its files again with --sign instead";
        return kRefused;
    }
    ReadWhole(from + "/" + kSignaturesTreePath, &signatures);
    if (!SignedByOneOf(list, signatures, keys)) {
        *error = "the list of version " + std::to_string(previous) +
                 " is signed by none of the keys given: it is not signed again";
        return kRefused;
    }
    std::string stage;
    if (!MakeStage(tree, &stage, error)) {
        return kWriteFailed;
    }
    parsed.Sequence = sequence;
    parsed.CreatedUnix = static_cast<uint64_t>(time(nullptr));
    std::vector<std::string> dirs;
    FileError failure;
    // The new list first: linking leaves out the names the stage has already.
    bool made = MakeDirs(stage + "/launcher", &dirs);
    if (!made) {
        *error = "cannot create " + stage + "/launcher: " + strerror(errno);
    }
    made = made && WriteSignedList(stage, parsed, keys, error);
    for (const char* folder : kServedFolders) {
        if (made && !LinkTree(from + "/" + folder, stage + "/" + folder, kNeverInAVersion, &dirs,
                              &failure)) {
            *error = failure.Text;
            made = false;
        }
    }
    const std::string record = from + "/" + kRecordName;
    if (made && link(record.c_str(), (stage + "/" + kRecordName).c_str()) != 0 && errno != ENOENT) {
        *error = "cannot link " + record + ": " + strerror(errno);
        made = false;
    }
    if (!made) {
        RemoveTree(stage);
        return kWriteFailed;
    }
    dirs.push_back(stage + "/launcher");
    return FinishVersion(tree, stage, dirs, number, error) ? kPublished : kWriteFailed;
}
