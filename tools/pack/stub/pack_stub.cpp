// The extractor at the front of every game data package (Qelt-Data.exe): started as
// "PKG" -o"DIR" -y, it unpacks the files appended to its own program file into DIR. Names
// are checked before anything is written; each file goes to a temporary beside its target
// and is checked against its CRC-32; only when every file checked out are they renamed into
// place, the files they replace kept aside until the last one is in. Any failure leaves
// DIR as it was: renames undone, temporaries and the folders it made removed.
//   exit 0 every file in place, 2 bad command line, 3 damaged or truncated package or a
//   name Windows cannot keep, 4 a file could not be written or put in place
#include <windows.h>

#include <shellapi.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "common/name_rules.h"
#include "pack_format.h"

namespace {

enum ExitCode { kExtracted = 0, kUsage = 2, kDamaged = 3, kWriteFailed = 4 };

constexpr DWORD kPieceSize = 256 * 1024;
constexpr uint64_t kIndexMax = 64ull << 20;
constexpr wchar_t kTempSuffix[] = L"#qelt-part";
constexpr wchar_t kAsideSuffix[] = L"#qelt-old"; // '#' is never in a stored name

struct Job {
    PackEntry Entry;
    std::wstring Target;
    bool TempWritten = false;
    bool Placed = false;   // the new file is at Target
    bool SetAside = false; // the file it replaced waits at Target + kAsideSuffix
};

bool ReadAt(HANDLE file, uint64_t offset, void* buffer, DWORD length) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) {
        return false;
    }
    char* out = static_cast<char*>(buffer);
    while (length > 0) {
        DWORD got = 0;
        if (!ReadFile(file, out, length, &got, nullptr) || got == 0) {
            return false;
        }
        out += got;
        length -= got;
    }
    return true;
}

bool WriteAll(HANDLE file, const unsigned char* data, DWORD length) {
    while (length > 0) {
        DWORD written = 0;
        if (!WriteFile(file, data, length, &written, nullptr) || written == 0) {
            return false;
        }
        data += written;
        length -= written;
    }
    return true;
}

std::wstring Widen(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                      static_cast<int>(utf8.size()), nullptr, 0);
    if (n <= 0) {
        return std::wstring();
    }
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                        &wide[0], n);
    return wide;
}

// Windows' own upper-casing, the one its file systems compare names with (file-system
// casing: no LCMAP_LINGUISTIC_CASING), as a key for the shared collision check. A key
// rather than CompareStringOrdinal's yes or no, so one sorted pass finds every pair.
std::string UpperCaseKey(const std::string& utf8) {
    const std::wstring wide = Widen(utf8);
    if (wide.empty()) {
        return utf8; // not UTF-8: refused by NameProblem already
    }
    std::wstring upper(wide.size(), L'\0');
    const int n = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.c_str(),
                                static_cast<int>(wide.size()), &upper[0],
                                static_cast<int>(upper.size()), nullptr, nullptr, 0);
    if (n <= 0) {
        return utf8;
    }
    return std::string(reinterpret_cast<const char*>(upper.data()),
                       static_cast<size_t>(n) * sizeof(wchar_t));
}

// Creates the folders above target that are missing, below root; notes each one made.
bool MakeParents(const std::wstring& root, const std::wstring& target,
                 std::vector<std::wstring>* made) {
    for (size_t i = root.size() + 1; i < target.size(); ++i) {
        if (target[i] != L'\\') {
            continue;
        }
        const std::wstring dir = target.substr(0, i);
        if (CreateDirectoryW(dir.c_str(), nullptr)) {
            made->push_back(dir);
        } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
            return false;
        }
    }
    return true;
}

// Inflates one file from the package into its temporary; returns kExtracted, kDamaged or
// kWriteFailed.
int ExtractToTemp(HANDLE package, const Job& job, std::vector<unsigned char>* in,
                  std::vector<unsigned char>* out) {
    const std::wstring temp = job.Target + kTempSuffix;
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return kWriteFailed;
    }
    z_stream stream = {};
    if (inflateInit(&stream) != Z_OK) {
        CloseHandle(file);
        return kWriteFailed;
    }
    int result = kExtracted;
    uint64_t packedLeft = job.Entry.Packed;
    uint64_t offset = job.Entry.Offset;
    uint64_t written = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    int z = Z_OK;
    while (result == kExtracted && z != Z_STREAM_END) {
        if (stream.avail_in == 0 && packedLeft > 0) {
            const DWORD piece =
                packedLeft < kPieceSize ? static_cast<DWORD>(packedLeft) : kPieceSize;
            if (!ReadAt(package, offset, in->data(), piece)) {
                result = kDamaged;
                break;
            }
            offset += piece;
            packedLeft -= piece;
            stream.next_in = in->data();
            stream.avail_in = piece;
        }
        stream.next_out = out->data();
        stream.avail_out = kPieceSize;
        // With all input given, no progress (Z_BUF_ERROR) means the stream was cut short.
        z = inflate(&stream, Z_NO_FLUSH);
        if (z != Z_OK && z != Z_STREAM_END) {
            result = kDamaged;
            break;
        }
        const DWORD produced = kPieceSize - stream.avail_out;
        written += produced;
        if (written > job.Entry.Size) {
            result = kDamaged;
            break;
        }
        crc = crc32(crc, out->data(), produced);
        if (!WriteAll(file, out->data(), produced)) {
            result = kWriteFailed;
        }
    }
    inflateEnd(&stream);
    if (result == kExtracted &&
        (packedLeft != 0 || stream.avail_in != 0 || written != job.Entry.Size ||
         static_cast<uint32_t>(crc) != job.Entry.Crc)) {
        result = kDamaged;
    }
    if (result == kExtracted && !FlushFileBuffers(file)) {
        result = kWriteFailed;
    }
    if (!CloseHandle(file) && result == kExtracted) {
        result = kWriteFailed;
    }
    return result;
}

// Reads and checks the trailer and the index: every path safe, every range inside the
// package.
bool ReadIndex(HANDLE package, std::vector<PackEntry>* entries) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(package, &size) || size.QuadPart < static_cast<LONGLONG>(kPackTrailerSize)) {
        return false;
    }
    const uint64_t total = static_cast<uint64_t>(size.QuadPart);
    unsigned char raw[kPackTrailerSize];
    PackTrailer trailer;
    if (!ReadAt(package, total - kPackTrailerSize, raw, kPackTrailerSize) ||
        !DecodePackTrailer(raw, &trailer) || trailer.IndexLength > kIndexMax ||
        trailer.IndexOffset > total - kPackTrailerSize ||
        trailer.IndexLength != total - kPackTrailerSize - trailer.IndexOffset) {
        return false;
    }
    std::string index(static_cast<size_t>(trailer.IndexLength), '\0');
    if (!index.empty() &&
        !ReadAt(package, trailer.IndexOffset, &index[0], static_cast<DWORD>(index.size()))) {
        return false;
    }
    if (static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(index.data()),
                                    static_cast<uInt>(index.size()))) != trailer.IndexCrc) {
        return false;
    }
    size_t pos = 0;
    for (uint32_t i = 0; i < trailer.FileCount; ++i) {
        PackEntry entry;
        if (!ReadPackEntry(index, &pos, &entry) || entry.Offset > trailer.IndexOffset ||
            entry.Packed > trailer.IndexOffset - entry.Offset) {
            return false;
        }
        entries->push_back(entry);
    }
    return pos == index.size();
}

// Moves every checked temporary over its target. A file already there is first moved aside,
// so that a failure later on can put it back; a folder or a read-only file there fails.
int PutInPlace(std::vector<Job>* jobs) {
    for (Job& job : *jobs) {
        const DWORD attributes = GetFileAttributesW(job.Target.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0 ||
                !MoveFileExW(job.Target.c_str(), (job.Target + kAsideSuffix).c_str(),
                             MOVEFILE_REPLACE_EXISTING)) {
                return kWriteFailed;
            }
            job.SetAside = true;
        }
        if (!MoveFileExW((job.Target + kTempSuffix).c_str(), job.Target.c_str(),
                         MOVEFILE_WRITE_THROUGH)) {
            return kWriteFailed;
        }
        job.TempWritten = false;
        job.Placed = true;
    }
    return kExtracted;
}

// Takes back everything a failed extraction did, last step first: placed files removed,
// replaced ones put back, temporaries deleted, the folders it made removed.
void Undo(std::vector<Job>* jobs, const std::vector<std::wstring>& madeDirs) {
    for (auto job = jobs->rbegin(); job != jobs->rend(); ++job) {
        if (job->Placed) {
            DeleteFileW(job->Target.c_str());
        }
        if (job->SetAside) {
            MoveFileExW((job->Target + kAsideSuffix).c_str(), job->Target.c_str(), 0);
        }
        if (job->TempWritten) {
            DeleteFileW((job->Target + kTempSuffix).c_str());
        }
    }
    for (auto dir = madeDirs.rbegin(); dir != madeDirs.rend(); ++dir) {
        RemoveDirectoryW(dir->c_str());
    }
}

int Extract(const std::wstring& outDir) {
    std::vector<wchar_t> self(32768);
    const DWORD n = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    if (n == 0 || n >= self.size()) {
        return kDamaged;
    }
    HANDLE package = CreateFileW(self.data(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (package == INVALID_HANDLE_VALUE) {
        return kDamaged;
    }
    std::vector<PackEntry> entries;
    std::vector<Job> jobs;
    bool safe = ReadIndex(package, &entries);
    std::wstring root = outDir;
    while (root.size() > 1 && (root.back() == L'\\' || root.back() == L'/')) {
        root.pop_back();
    }
    // Every name is checked before anything is written: one Windows cannot keep apart or
    // create would otherwise fail half way, or land as another name.
    std::vector<std::string> paths;
    for (const PackEntry& entry : entries) {
        std::wstring relative = Widen(entry.Path);
        safe = safe && PackPathSafe(entry.Path) && NameProblem(entry.Path).empty() &&
               !relative.empty();
        for (wchar_t& c : relative) {
            c = c == L'/' ? L'\\' : c;
        }
        jobs.push_back(Job{entry, root + L"\\" + relative});
        paths.push_back(entry.Path);
    }
    if (!safe || !CaseCollisions(paths, UpperCaseKey).empty()) {
        CloseHandle(package);
        return kDamaged;
    }

    std::vector<std::wstring> madeDirs;
    if (CreateDirectoryW(root.c_str(), nullptr)) {
        madeDirs.push_back(root);
    }
    std::vector<unsigned char> in(kPieceSize);
    std::vector<unsigned char> out(kPieceSize);
    int result = kExtracted;
    for (Job& job : jobs) {
        if (!MakeParents(root, job.Target, &madeDirs)) {
            result = kWriteFailed;
            break;
        }
        job.TempWritten = true;
        result = ExtractToTemp(package, job, &in, &out);
        if (result != kExtracted) {
            break;
        }
    }
    CloseHandle(package);
    if (result == kExtracted) {
        result = PutInPlace(&jobs);
    }
    if (result != kExtracted) {
        Undo(&jobs, madeDirs);
        return result;
    }
    for (const Job& job : jobs) {
        if (job.SetAside) {
            DeleteFileW((job.Target + kAsideSuffix).c_str());
        }
    }
    return kExtracted;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr) {
        return kUsage;
    }
    std::wstring outDir;
    bool usable = true;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"-y") {
            continue; // nothing is ever asked
        }
        if (arg.size() > 2 && arg.compare(0, 2, L"-o") == 0) {
            outDir = arg.substr(2);
        } else {
            usable = false;
        }
    }
    LocalFree(argv);
    if (!usable || outDir.empty()) {
        return kUsage;
    }
    return Extract(outDir);
}
