// Signature check of the signed list with CNG, and the sequence record on disk.
#include "update/signed_list_win.h"

#include <windows.h>

#include <vector>

#include "base/paths.h"
#include "crypto/sha256.h"
#include "crypto/signature.h"
#include "net/atomic_write.h"
#include "update/state_files.h"

static_assert(kSha256Size == kSha256DigestSize && kSha256Size == kP256DigestSize &&
                  kUpdateKeySize == kP256PublicKeySize && kListSignatureSize == kP256SignatureSize,
              "the list's fields are what the crypto layer takes");

namespace {

// Longest record: 20 digits and LF; one more byte tells an overlong file from a full one.
constexpr DWORD kSequenceRecordRead = 22;

} // namespace

bool SignedListVerifies(const unsigned char key[kUpdateKeySize], const void* list,
                        size_t listLength, const void* signatures, size_t signaturesLength) {
    std::vector<ListSignature> parsed;
    unsigned char digest[kSha256Size];
    if (listLength > kSignedListMaxBytes ||
        !ParseSignatures(signatures, signaturesLength, &parsed) ||
        !Sha256Of(list, listLength, digest)) {
        return false;
    }
    for (const ListSignature& signature : parsed) {
        if (VerifyP256Signature(key, digest, signature.Bytes)) {
            return true;
        }
    }
    return false;
}

bool ReadAcceptedSequence(const char* launcherDir, uint64_t* sequence) {
    char path[kPathCapacity];
    if (!JoinPath(path, sizeof path, launcherDir, kUpdateSequenceName)) {
        return false;
    }
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            *sequence = 0;
            return true;
        }
        return false;
    }
    char record[kSequenceRecordRead];
    DWORD length = 0;
    const bool read = ReadFile(file, record, sizeof record, &length, nullptr) != FALSE;
    CloseHandle(file);
    return read && ParseSequenceRecord(record, length, sequence);
}

bool WriteAcceptedSequence(const char* launcherDir, uint64_t sequence) {
    char path[kPathCapacity];
    if (!JoinPath(path, sizeof path, launcherDir, kUpdateSequenceName)) {
        return false;
    }
    const std::string record = FormatSequenceRecord(sequence);
    return WriteFileAtomic(path, ByteBuffer(record.begin(), record.end()));
}
