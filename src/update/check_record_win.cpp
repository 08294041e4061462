// The quick check on the platform: the record's file, one listing pass per folder, and
// what a run adds to the record.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string_view>

#include "base/paths.h"
#include "base/text.h"
#include "system/launcher_state.h"
#include "update/check_record.h"
#include "update/state_files.h"
#include "update/update_timings.h"

namespace {

// A record of a million files is a few tens of MiB; anything larger is not ours.
constexpr LONGLONG kLongestRecord = 256LL << 20;

uint64_t TicksOf(const FILETIME& time) {
    return static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

uint64_t TicksNow() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return TicksOf(now);
}

bool RecordPath(char* out, size_t cap) {
    return JoinPath(out, cap, g_Launcher.LauncherDir, kQuickCheckRecordName);
}

bool LoadRecord(CheckRecord* record) {
    char path[kPathCapacity];
    if (!RecordPath(path, sizeof path)) {
        return false;
    }
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    LARGE_INTEGER size;
    ByteBuffer bytes;
    bool read = GetFileSizeEx(file, &size) && size.QuadPart <= kLongestRecord &&
                ReserveBytes(bytes, static_cast<size_t>(size.QuadPart));
    if (read) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        read = ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
               got == bytes.size();
    }
    CloseHandle(file);
    return read && ParseCheckRecord(bytes.data(), bytes.size(), record);
}

// Temporary, flushed, then moved over the old record: a crash leaves the old record or the
// new one, never a mixture (which the check would refuse anyway).
bool SaveRecord(CheckRecord* record) {
    char path[kPathCapacity];
    char partPath[kPathCapacity];
    record->WrittenTime = TicksNow();
    ByteBuffer bytes;
    if (!RecordPath(path, sizeof path) ||
        !ConcatBounded(partPath, sizeof partPath, path, ".part") ||
        !SerialiseCheckRecord(*record, &bytes) || bytes.size() > static_cast<size_t>(MAXDWORD)) {
        return false;
    }
    HANDLE file = CreateFileA(partPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    bool saved =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size() && FlushFileBuffers(file);
    CloseHandle(file);
    saved =
        saved && MoveFileExA(partPath, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!saved) {
        DeleteFileA(partPath);
    }
    return saved;
}

// Names compare as Windows compares them where that is certain: ASCII letters without
// regard to case in an all-ASCII name, every other name byte for byte. A name the folder
// holds twice under one key (a case-sensitive folder) is not used.
bool AllAscii(std::string_view name) {
    for (char c : name) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

char FoldAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

struct NameHash {
    size_t operator()(std::string_view name) const {
        const bool fold = AllAscii(name);
        size_t hash = 14695981039346656037ull & SIZE_MAX;
        for (char c : name) {
            hash = (hash ^ static_cast<unsigned char>(fold ? FoldAscii(c) : c)) * 1099511628211ull;
        }
        return hash;
    }
};

struct NameEqual {
    bool operator()(std::string_view a, std::string_view b) const {
        if (a.size() != b.size()) {
            return false;
        }
        if (!AllAscii(a) || !AllAscii(b)) {
            return a == b;
        }
        for (size_t i = 0; i < a.size(); ++i) {
            if (FoldAscii(a[i]) != FoldAscii(b[i])) {
                return false;
            }
        }
        return true;
    }
};

// One name of a folder that manifest entries refer to, and what the listing found for it.
struct NameSlot {
    FileStamp Stamp;
    unsigned Found; // how many listed names had its key
    bool Regular;   // a file, not a folder or a link
};

struct Folder {
    std::string Path;
    std::unordered_map<std::string_view, size_t, NameHash, NameEqual> Names; // to slots
    std::vector<NameSlot> Slots;
};

// One pass over the folder through its handle: names, sizes, write times and file IDs of
// every file, without opening any of them.
void ListFolder(Folder& folder, bool utf8) {
    HANDLE dir = CreateFileA(folder.Path.c_str(), FILE_LIST_DIRECTORY,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (dir == INVALID_HANDLE_VALUE) {
        return;
    }
    alignas(LONGLONG) unsigned char buffer[65536];
    char name[1024];
    FILE_INFO_BY_HANDLE_CLASS pass = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(dir, pass, buffer, sizeof buffer)) {
        pass = FileIdBothDirectoryInfo;
        for (size_t at = 0;;) {
            const FILE_ID_BOTH_DIR_INFO* info =
                reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer + at);
            // A name that does not convert exactly cannot be a manifest name.
            BOOL lossy = FALSE;
            const int length =
                WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, info->FileName,
                                    static_cast<int>(info->FileNameLength / sizeof(WCHAR)), name,
                                    sizeof name, nullptr, utf8 ? nullptr : &lossy);
            auto slot = length > 0 && !lossy
                            ? folder.Names.find(std::string_view(name, static_cast<size_t>(length)))
                            : folder.Names.end();
            if (slot != folder.Names.end()) {
                NameSlot& found = folder.Slots[slot->second];
                ++found.Found;
                found.Regular = (info->FileAttributes &
                                 (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
                found.Stamp.Size = static_cast<uint64_t>(info->EndOfFile.QuadPart);
                found.Stamp.WriteTime = static_cast<uint64_t>(info->LastWriteTime.QuadPart);
                found.Stamp.FileId = static_cast<uint64_t>(info->FileId.QuadPart);
            }
            if (info->NextEntryOffset == 0) {
                break;
            }
            at += info->NextEntryOffset;
        }
    }
    CloseHandle(dir);
}

// Lists every folder the entries lie in, once, and notes what it found for each entry.
void ListEntries(const std::vector<ManifestEntry>& entries, QuickCheck* quick) {
    std::vector<Folder> folders;
    std::unordered_map<std::string, size_t> folderIndex;
    std::vector<size_t> folderOf(entries.size(), SIZE_MAX);
    std::vector<size_t> slotOf(entries.size(), SIZE_MAX);
    for (size_t i = 0; i < entries.size(); ++i) {
        char localPath[kPathCapacity];
        if (!LocalPathOf(g_Launcher.LauncherDir, entries[i].Path.c_str(), localPath,
                         sizeof localPath)) {
            continue;
        }
        const char* slash = strrchr(localPath, '\\');
        std::string folderPath(localPath, static_cast<size_t>(slash - localPath));
        auto placed = folderIndex.emplace(std::move(folderPath), folders.size());
        if (placed.second) {
            folders.emplace_back();
            folders.back().Path = placed.first->first;
        }
        Folder& folder = folders[placed.first->second];
        const std::string& path = entries[i].Path;
        const size_t nameStart = path.find_last_of("/\\") + 1; // npos + 1 is 0
        auto name =
            folder.Names.emplace(std::string_view(path).substr(nameStart), folder.Slots.size());
        if (name.second) {
            folder.Slots.push_back(NameSlot());
        }
        folderOf[i] = placed.first->second;
        slotOf[i] = name.first->second;
    }

    const bool utf8 = GetACP() == CP_UTF8;
    for (Folder& folder : folders) {
        ListFolder(folder, utf8);
    }

    quick->Stamps.assign(entries.size(), FileStamp());
    quick->Listed.assign(entries.size(), 0);
    for (size_t i = 0; i < entries.size(); ++i) {
        if (folderOf[i] == SIZE_MAX) {
            continue;
        }
        const NameSlot& slot = folders[folderOf[i]].Slots[slotOf[i]];
        quick->Listed[i] = slot.Found == 1 && slot.Regular;
        quick->Stamps[i] = slot.Stamp;
    }
}

// Size, write time and file ID of a file the launcher has just written, through a handle
// that reads nothing.
bool StampOf(const char* path, FileStamp* stamp) {
    HANDLE file = CreateFileA(path, FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool got = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    if (got) {
        stamp->Size = static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
        stamp->WriteTime = TicksOf(info.ftLastWriteTime);
        stamp->FileId = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    }
    return got;
}

bool SameEntries(const std::vector<CheckRecordEntry>& a, const std::vector<CheckRecordEntry>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].Path != b[i].Path || a[i].Crc != b[i].Crc ||
            memcmp(&a[i].Stamp, &b[i].Stamp, sizeof a[i].Stamp) != 0) {
            return false;
        }
    }
    return true;
}

void Save(QuickCheck* quick) {
    SaveRecord(&quick->Record); // failing, the record on disk stays as true as it was
    quick->Unsaved = false;
    quick->SavedTick = GetTickCount64();
}

} // namespace

LauncherBuild RunningLauncherBuild() {
    const unsigned char* image = reinterpret_cast<const unsigned char*>(GetModuleHandleA(nullptr));
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
    // The link time, and the image checksum and size, which follow the content.
    return LauncherBuild{{nt->FileHeader.Machine, nt->FileHeader.TimeDateStamp,
                          nt->OptionalHeader.CheckSum, nt->OptionalHeader.SizeOfImage}};
}

void StartQuickCheck(const std::vector<ManifestEntry>& entries, QuickCheck* quick) {
    quick->StartTime = TicksNow();
    quick->Build = RunningLauncherBuild();
    quick->FullCheck = !LoadRecord(&quick->Previous) ||
                       NeedsFullCheck(quick->Previous, quick->Build, quick->StartTime);
    if (quick->FullCheck) {
        quick->Previous = CheckRecord();
    }
    quick->Unsaved = false;
    quick->SavedTick = 0;

    ListEntries(entries, quick);

    std::unordered_map<std::string_view, const CheckRecordEntry*> recorded;
    recorded.reserve(quick->Previous.Entries.size());
    for (const CheckRecordEntry& entry : quick->Previous.Entries) {
        recorded.emplace(entry.Path, &entry);
    }
    const uint64_t racyTicks = static_cast<uint64_t>(g_UpdateTimings.RacyWindowMs) * 10000;
    quick->Verdicts.assign(entries.size(), QuickVerdict::Read);
    quick->Recorded.assign(entries.size(), nullptr);
    for (size_t i = 0; i < entries.size(); ++i) {
        auto found = recorded.find(entries[i].Path);
        if (found == recorded.end()) {
            continue;
        }
        quick->Recorded[i] = found->second;
        quick->Verdicts[i] =
            JudgeUnopened(found->second, quick->Listed[i] ? &quick->Stamps[i] : nullptr,
                          entries[i].Crc, quick->Previous.WrittenTime, racyTicks);
    }
}

void RecordCheckPhase(const std::vector<ManifestEntry>& entries, const std::vector<FileRead>& reads,
                      QuickCheck* quick) {
    CheckRecord& record = quick->Record;
    record.Build = quick->Build;
    record.FullCheckTime = quick->FullCheck ? quick->StartTime : quick->Previous.FullCheckTime;
    record.Entries.clear();
    record.Entries.reserve(entries.size());
    quick->RecordPaths.clear();
    bool anyRead = quick->FullCheck;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (quick->Verdicts[i] != QuickVerdict::Read) {
            record.Entries.push_back(*quick->Recorded[i]); // its stamp was just listed again
            continue;
        }
        anyRead = true;
        if (reads[i].Opened && quick->Listed[i]) {
            record.Entries.push_back(
                CheckRecordEntry{entries[i].Path, quick->Stamps[i], reads[i].Crc});
        }
    }
    // Nothing read and nothing new: the record on disk already says all of this, and
    // writing it costs more than the check did.
    if (anyRead || !SameEntries(record.Entries, quick->Previous.Entries)) {
        Save(quick);
    }
}

void RecordDownload(const ManifestEntry& entry, QuickCheck* quick) {
    char localPath[kPathCapacity];
    FileStamp stamp;
    if (!LocalPathOf(g_Launcher.LauncherDir, entry.Path.c_str(), localPath, sizeof localPath) ||
        !StampOf(localPath, &stamp)) {
        return; // the entry's old stamp no longer matches the file, so it will be read
    }
    CheckRecord& record = quick->Record;
    if (quick->RecordPaths.empty()) {
        // A path listed twice is one file: lookups and updates go to its first entry.
        for (size_t i = 0; i < record.Entries.size(); ++i) {
            quick->RecordPaths.emplace(record.Entries[i].Path, i);
        }
    }
    auto placed = quick->RecordPaths.emplace(entry.Path, record.Entries.size());
    if (placed.second) {
        record.Entries.push_back(CheckRecordEntry{entry.Path, stamp, entry.Crc});
    } else {
        record.Entries[placed.first->second].Stamp = stamp;
        record.Entries[placed.first->second].Crc = entry.Crc;
    }
    quick->Unsaved = true;
    if (GetTickCount64() - quick->SavedTick >= kRecordSpacingMs) {
        Save(quick);
    }
}

void FinishQuickCheck(QuickCheck* quick) {
    if (quick->Unsaved) {
        Save(quick);
    }
}
