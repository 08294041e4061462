// HttpRequestToFile: a download streamed through one fixed buffer into "<target>.part",
// checked while it arrives, continued from where an earlier run stopped when the server's
// validator and the expected body still fit, and moved over the target only when whole.
#include "net/http_download.h"

#include <cstring>
#include <memory>
#include <new>

#include "base/paths.h"
#include "base/text.h"
#include "crc32/crc32.h"
#include "crypto/sha256_overlap.h"
#include "net/atomic_write.h"
#include "net/http_exchange_win.h"
#include "net/resume_record.h"

namespace {

// Bytes gathered before each write to the ".part" file: the one buffer of a download (two
// when a signed SHA-256 is checked: one is hashed on a second thread while the other fills).
constexpr DWORD kWriteBufferSize = 1u << 20;

// The running checks over every byte of the body, those of an earlier run included. A
// further check of the content belongs here and in ExpectedBody.
struct BodyDigest {
    uint32_t CrcRegister;
    uint64_t Length;   // bytes of the body fed so far
    Sha256Overlap Sha; // of every buffer handed over; open while ShaOpen
    bool ShaOpen;
};

struct Download {
    const ExpectedBody* Expected;
    const char* TargetPath;
    char PartPath[kPathCapacity];
    char ResumePath[kPathCapacity];
    HANDLE Part;
    size_t FoldersMade; // where the folders this call made begin in PartPath (as
                        // CreateFoldersAlong returns it); its length when it made none
    bool Resuming;      // a request for the rest goes out; Record and Offset hold
    bool Resumable;     // a record beside the ".part" describes the bytes in it
    ResumeRecord Record;
    uint64_t Offset; // bytes in the ".part" before this exchange's body
    BodyDigest Digest;
    unsigned char* Buffer; // kWriteBufferSize bytes, being filled
    unsigned char* Spare;  // the other buffer, being hashed (null without a signed digest)
    DWORD Filled;
};

void EndDigest(Download* d) {
    if (d->Digest.ShaOpen) {
        Sha256OverlapAbandon(&d->Digest.Sha);
        d->Digest.ShaOpen = false;
    }
}

void StartDigest(Download* d) {
    EndDigest(d);
    d->Digest.CrcRegister = 0xFFFFFFFFu;
    d->Digest.Length = 0;
    // A hash that cannot be had leaves the digest closed: the body is then refused.
    d->Digest.ShaOpen = d->Expected->HasDigest && Sha256OverlapBegin(&d->Digest.Sha);
}

// Each piece as it arrives, while it is still in the cache: the CRC-32 and the length.
void FeedDigest(Download* d, const void* data, size_t length) {
    if (d->Expected->HasCrc) {
        d->Digest.CrcRegister = Crc32Update(d->Digest.CrcRegister, data, length);
    }
    d->Digest.Length += length;
}

// The filled buffer, written or read already, goes to the SHA-256 thread and the other one
// is filled next.
void HandOverBuffer(Download* d) {
    if (d->Digest.ShaOpen && d->Filled > 0) {
        Sha256OverlapHand(&d->Digest.Sha, d->Buffer, d->Filled);
        unsigned char* hashed = d->Buffer;
        d->Buffer = d->Spare;
        d->Spare = hashed;
    }
    d->Filled = 0;
}

// Whether continuing a body needs the bytes already on disk read again into the digest.
bool DigestNeedsPrefix(const ExpectedBody& expected) {
    return expected.HasCrc || expected.HasDigest;
}

// The last word before a body may replace its target; the buffer's unfilled rest holds
// the body's last bytes, not handed over yet.
bool DigestAccepts(Download* d) {
    const ExpectedBody& expected = *d->Expected;
    if (expected.HasCrc && (d->Digest.CrcRegister ^ 0xFFFFFFFFu) != expected.Crc) {
        return false;
    }
    if (!expected.HasDigest) {
        return true;
    }
    unsigned char digest[kSha256DigestSize];
    const bool hashed =
        d->Digest.ShaOpen && Sha256OverlapFinish(&d->Digest.Sha, d->Buffer, d->Filled, digest);
    d->Digest.ShaOpen = false;
    return hashed && d->Digest.Length == expected.Size &&
           memcmp(digest, expected.Sha256, kSha256DigestSize) == 0;
}

enum class BodyEnd { Complete, Cut, TooLong, WriteFailed };

bool ReadRecord(const char* path, ResumeRecord* record) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    char text[kResumeRecordCapacity];
    DWORD read = 0;
    const BOOL ok = ReadFile(file, text, sizeof text, &read, nullptr);
    CloseHandle(file);
    return ok && read < sizeof text && ParseResumeRecord(text, read, record);
}

bool WriteRecord(const char* path, const ResumeRecord& record) {
    char text[kResumeRecordCapacity];
    if (!FormatResumeRecord(record, text, sizeof text)) {
        return false;
    }
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const DWORD length = static_cast<DWORD>(strlen(text));
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text, length, &written, nullptr);
    CloseHandle(file);
    return ok && written == length;
}

bool RecordFits(const ResumeRecord& record, const ExpectedBody& expected) {
    return record.HasCrc == expected.HasCrc && (!expected.HasCrc || record.Crc == expected.Crc) &&
           record.HasDigest == expected.HasDigest &&
           (!expected.HasDigest ||
            (record.Size == expected.Size &&
             memcmp(record.Sha256, expected.Sha256, kSha256DigestSize) == 0));
}

void ClosePart(Download* d) {
    if (d->Part != INVALID_HANDLE_VALUE) {
        CloseHandle(d->Part);
        d->Part = INVALID_HANDLE_VALUE;
    }
}

// Deletes the ".part" file and its record: what they hold must never be continued. Folders
// made for them go too: no file was written.
void DiscardPart(Download* d) {
    ClosePart(d);
    DeleteFileA(d->PartPath);
    DeleteFileA(d->ResumePath);
    RemoveFoldersAlong(d->PartPath, d->FoldersMade);
    d->FoldersMade = strlen(d->PartPath);
}

// After a download that did not end whole: keeps what can be continued, deletes the rest.
void KeepPart(Download* d) {
    if (d->Resumable) {
        ClosePart(d);
    } else {
        DiscardPart(d);
    }
}

// Feeds the first length bytes of the open ".part" into the digest.
bool DigestPrefix(Download* d, uint64_t length) {
    uint64_t done = 0;
    while (done < length) {
        const uint64_t left = length - done;
        const DWORD piece = left < kWriteBufferSize ? static_cast<DWORD>(left) : kWriteBufferSize;
        DWORD read = 0;
        if (!ReadFile(d->Part, d->Buffer, piece, &read, nullptr) || read != piece) {
            return false;
        }
        FeedDigest(d, d->Buffer, read);
        d->Filled = read;
        HandOverBuffer(d);
        done += read;
    }
    return true;
}

// Takes up an earlier run's ".part" when its record fits the expected body and it holds
// part, not all, of the recorded length; otherwise deletes both.
void PrepareResume(Download* d) {
    StartDigest(d);
    ResumeRecord record;
    if (ReadRecord(d->ResumePath, &record) && RecordFits(record, *d->Expected)) {
        d->Part = CreateFileA(d->PartPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        LARGE_INTEGER size;
        if (d->Part != INVALID_HANDLE_VALUE && GetFileSizeEx(d->Part, &size) && size.QuadPart > 0 &&
            static_cast<uint64_t>(size.QuadPart) < record.Size &&
            (!DigestNeedsPrefix(*d->Expected) ||
             DigestPrefix(d, static_cast<uint64_t>(size.QuadPart)))) {
            d->Record = record;
            d->Offset = static_cast<uint64_t>(size.QuadPart);
            d->Resuming = true;
            d->Resumable = true;
            return;
        }
    }
    DiscardPart(d);
    StartDigest(d);
}

bool SendGet(HINTERNET request, const Download& d) {
    if (!d.Resuming) {
        return WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                  WINHTTP_NO_REQUEST_DATA, 0, 0, 0) != FALSE;
    }
    char headers[kValidatorCapacity + 64];
    if (!FormatText(headers, sizeof headers, "Range: bytes=%llu-\r\nIf-Range: %s\r\n",
                    static_cast<unsigned long long>(d.Offset), d.Record.Validator)) {
        return false;
    }
    // Printable ASCII throughout: the validator was checked when it was recorded.
    wchar_t wide[sizeof headers];
    size_t i = 0;
    for (; headers[i] != '\0'; ++i) {
        wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(headers[i]));
    }
    wide[i] = L'\0';
    return WinHttpSendRequest(request, wide, static_cast<DWORD>(-1), WINHTTP_NO_REQUEST_DATA, 0, 0,
                              0) != FALSE;
}

// A 200: the body starts over in an empty ".part", recorded for a later run when the
// server names its length and a validator.
bool StartOver(Download* d, HINTERNET request, bool announced, uint64_t length) {
    // The old record must never describe the new bytes, not even for a moment.
    DeleteFileA(d->ResumePath);
    d->Resuming = false;
    d->Resumable = false;
    d->Offset = 0;
    StartDigest(d);
    if (d->Part != INVALID_HANDLE_VALUE) {
        LARGE_INTEGER start = {};
        if (!SetFilePointerEx(d->Part, start, nullptr, FILE_BEGIN) || !SetEndOfFile(d->Part)) {
            return false;
        }
    } else {
        d->FoldersMade = CreateFoldersAlong(d->PartPath);
        d->Part = CreateFileA(d->PartPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        if (d->Part == INVALID_HANDLE_VALUE) {
            return false;
        }
    }
    char etag[kValidatorCapacity];
    char modified[kValidatorCapacity];
    ResponseHeader(request, L"ETag", etag, sizeof etag);
    ResponseHeader(request, L"Last-Modified", modified, sizeof modified);
    ResumeRecord record = {};
    if (announced && length > 0 &&
        ChooseValidator(etag, modified, record.Validator, sizeof record.Validator)) {
        record.HasCrc = d->Expected->HasCrc;
        record.Crc = d->Expected->Crc;
        record.HasDigest = d->Expected->HasDigest;
        memcpy(record.Sha256, d->Expected->Sha256, kSha256DigestSize);
        record.Size = length;
        d->Resumable = WriteRecord(d->ResumePath, record);
    }
    return true;
}

// A 206: the rest of exactly the recorded body, from exactly where the ".part" ends.
bool ContinuesPart(Download* d, HINTERNET request, bool announced, uint64_t length) {
    char range[96];
    uint64_t first = 0;
    uint64_t last = 0;
    uint64_t complete = 0;
    LARGE_INTEGER end = {};
    end.QuadPart = static_cast<LONGLONG>(d->Offset);
    return ResponseHeader(request, L"Content-Range", range, sizeof range) &&
           ParseContentRange(range, &first, &last, &complete) && first == d->Offset &&
           complete == d->Record.Size && last + 1 == complete &&
           (!announced || length == complete - first) &&
           SetFilePointerEx(d->Part, end, nullptr, FILE_BEGIN);
}

// Writes the filled part of the buffer; it stays filled for the digest.
bool WriteBuffered(Download* d) {
    if (d->Filled == 0) {
        return true;
    }
    DWORD written = 0;
    return WriteFile(d->Part, d->Buffer, d->Filled, &written, nullptr) && written == d->Filled;
}

// Reads the body into the ".part" through the buffer. end: the body's last byte + 1 when
// known (0 when not), counted from the start of the whole file. A body longer than its
// signed size is cut off as soon as it is.
BodyEnd StreamBody(Download* d, HINTERNET request, uint64_t end, BodyMeter* meter) {
    uint64_t position = d->Offset;
    bool cut = false;
    const ExpectedBody& expected = *d->Expected;
    for (;;) {
        const DWORD piece = BodyPieceSize(*meter);
        const DWORD room = kWriteBufferSize - d->Filled;
        DWORD count = 0;
        if (!WinHttpReadData(request, d->Buffer + d->Filled, piece < room ? piece : room, &count)) {
            cut = true;
            break;
        }
        if (count == 0) {
            break;
        }
        FeedDigest(d, d->Buffer + d->Filled, count);
        d->Filled += count;
        position += count;
        if (expected.HasDigest && position > expected.Size) {
            return BodyEnd::TooLong;
        }
        if (d->Filled == kWriteBufferSize) {
            if (!WriteBuffered(d)) {
                return BodyEnd::WriteFailed;
            }
            HandOverBuffer(d);
        }
        MeterPiece(meter, count);
    }
    // What arrived before a cut is kept: the next run continues after it.
    if (!WriteBuffered(d)) {
        return BodyEnd::WriteFailed;
    }
    if (end != 0 && position > end) {
        return BodyEnd::TooLong;
    }
    return cut || (end != 0 && position < end) ? BodyEnd::Cut : BodyEnd::Complete;
}

// The answer to anything but the body asked for is read as HttpRequest reads it (the same
// progress shows) and dropped.
void DrainBody(Download* d, HINTERNET request, uint64_t total, const char* label) {
    BodyMeter meter;
    StartBodyMeter(&meter, label, total, 0, true);
    DWORD count = 0;
    while (WinHttpReadData(request, d->Buffer, BodyPieceSize(meter), &count) && count > 0) {
        MeterPiece(&meter, count);
    }
}

DownloadResult Finish(Download* d) {
    if (!DigestAccepts(d)) {
        DiscardPart(d);
        return DownloadResult::Refused;
    }
    // Without its record a ".part" is never continued, so a crash from here on can only
    // cost a new download, never join anything.
    DeleteFileA(d->ResumePath);
    const bool committed = CommitPartFile(d->Part, d->PartPath, d->TargetPath);
    d->Part = INVALID_HANDLE_VALUE; // closed by the commit, whatever it did
    return committed ? DownloadResult::Written : DownloadResult::WriteFailed;
}

DownloadResult Transfer(Download* d, HINTERNET request, const char* label) {
    if (!SendGet(request, *d) || !WinHttpReceiveResponse(request, nullptr)) {
        KeepPart(d);
        return DownloadResult::NotReceived;
    }
    const DWORD status = ResponseStatus(request);
    uint64_t length = 0;
    const bool announced = ResponseLength(request, &length);
    uint64_t end = announced ? length : 0;
    if (status == 206 && d->Resuming) {
        if (!ContinuesPart(d, request, announced, length)) {
            DiscardPart(d);
            return DownloadResult::NotReceived;
        }
        end = d->Record.Size;
    } else if (status == 200) {
        // Announced with another size than the signed one: not the expected body.
        if (d->Expected->HasDigest && announced && length != d->Expected->Size) {
            DiscardPart(d);
            return DownloadResult::Refused;
        }
        if (!StartOver(d, request, announced, length)) {
            DiscardPart(d);
            return DownloadResult::WriteFailed;
        }
    } else {
        // A range the server cannot satisfy would be asked for again and again.
        if (status == 416) {
            DiscardPart(d);
        } else {
            KeepPart(d);
        }
        DrainBody(d, request, announced ? length : 0, label);
        return DownloadResult::NotReceived;
    }

    BodyMeter meter;
    StartBodyMeter(&meter, label, end, d->Offset, true);
    switch (StreamBody(d, request, end, &meter)) {
    case BodyEnd::WriteFailed: DiscardPart(d); return DownloadResult::WriteFailed;
    case BodyEnd::TooLong:
        DiscardPart(d);
        return d->Expected->HasDigest ? DownloadResult::Refused : DownloadResult::NotReceived;
    case BodyEnd::Cut: KeepPart(d); return DownloadResult::NotReceived;
    case BodyEnd::Complete: break;
    }
    return Finish(d);
}

} // namespace

DownloadResult HttpRequestToFile(const char* url, const char* targetPath,
                                 const ExpectedBody& expected, const char* progressLabel) {
    Download d = {};
    d.Expected = &expected;
    d.TargetPath = targetPath;
    d.Part = INVALID_HANDLE_VALUE;
    if (!ConcatBounded(d.PartPath, sizeof d.PartPath, targetPath, kPartSuffix) ||
        !ConcatBounded(d.ResumePath, sizeof d.ResumePath, targetPath, kResumeSuffix)) {
        return DownloadResult::WriteFailed;
    }
    d.FoldersMade = strlen(d.PartPath);
    const size_t buffers = expected.HasDigest ? 2 : 1;
    std::unique_ptr<unsigned char[]> buffer(
        new (std::nothrow) unsigned char[buffers * kWriteBufferSize]);
    if (!buffer) {
        return DownloadResult::NotReceived;
    }
    d.Buffer = buffer.get();
    d.Spare = buffers == 2 ? buffer.get() + kWriteBufferSize : nullptr;
    PrepareResume(&d);

    HttpExchange exchange;
    DownloadResult result = DownloadResult::NotReceived;
    if (OpenHttpExchange(url, L"GET", &exchange)) {
        result = Transfer(&d, exchange.Request, progressLabel);
        CloseHttpExchange(&exchange);
    } else {
        KeepPart(&d);
    }
    // The hashing thread may still hold a buffer: it ends before the buffers go.
    EndDigest(&d);
    return result;
}
