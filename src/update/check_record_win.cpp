// The quick check on the platform: the record's file, one listing pass per folder, and
// what a run adds to the record.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string_view>

#include "base/paths.h"
#include "net/atomic_write.h"
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

// Written atomically (temporary, flushed, renamed): a crash leaves the old record or the
// new one, never a mixture (which the check would refuse anyway).
bool SaveRecord(CheckRecord* record) {
    char path[kPathCapacity];
    record->WrittenTime = TicksNow();
    ByteBuffer bytes;
    return RecordPath(path, sizeof path) && SerialiseCheckRecord(*record, &bytes) &&
           WriteFileAtomic(path, bytes);
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

// Folders are listed by the worker and one more thread: under Wine each listed file costs
// two system calls (stat and the DOS attributes), and two listings at once take little more
// than one.
constexpr int kListingThreads = 2;

struct Listing {
    std::vector<Folder>* Folders;
    bool Utf8;
    volatile LONG Next; // the next folder to take
};

DWORD WINAPI ListFolders(LPVOID param) {
    Listing& listing = *static_cast<Listing*>(param);
    for (;;) {
        const size_t i = static_cast<size_t>(InterlockedIncrement(&listing.Next) - 1);
        if (i >= listing.Folders->size()) {
            return 0;
        }
        ListFolder((*listing.Folders)[i], listing.Utf8);
    }
}

// Lists every folder the entries lie in, once, and notes what it found for each entry.
void ListEntries(const std::vector<ManifestEntry>& entries, QuickCheck* quick) {
    std::vector<Folder> folders;
    std::unordered_map<std::string, size_t> folderIndex;
    std::vector<size_t> folderOf(entries.size(), SIZE_MAX);
    std::vector<size_t> slotOf(entries.size(), SIZE_MAX);
    // Folders are told apart by the entry's text before its last separator, formed into a
    // local path once per folder; a manifest lists a folder's files together, so most
    // entries share the last one's. A folder spelt two ways is listed twice, harmlessly.
    std::string_view lastDir;
    size_t folder = SIZE_MAX;
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::string_view path = entries[i].Path;
        const size_t nameStart = path.find_last_of("/\\") + 1; // npos + 1 is 0
        const std::string_view dir = path.substr(0, nameStart);
        if (folder == SIZE_MAX || dir != lastDir) {
            lastDir = dir;
            auto placed = folderIndex.emplace(std::string(dir), folders.size());
            if (placed.second) {
                char localPath[kPathCapacity];
                folders.emplace_back();
                // "<LauncherDir>\<dir>" less its last separator: the folder itself. Left
                // empty when it does not fit, so that nothing in it is listed.
                if (LocalPathOf(localPath, sizeof localPath, g_Launcher.LauncherDir,
                                placed.first->first.c_str())) {
                    folders.back().Path.assign(localPath, strlen(localPath) - 1);
                }
            }
            folder = placed.first->second;
        }
        Folder& in = folders[folder];
        auto name = in.Names.emplace(path.substr(nameStart), in.Slots.size());
        if (name.second) {
            in.Slots.push_back(NameSlot());
        }
        folderOf[i] = folder;
        slotOf[i] = name.first->second;
    }

    Listing listing = {&folders, GetACP() == CP_UTF8, 0};
    HANDLE helpers[kListingThreads - 1] = {};
    DWORD started = 0;
    for (int t = 0; t < kListingThreads - 1 && folders.size() > 1; ++t) {
        helpers[started] = CreateThread(nullptr, 0, ListFolders, &listing, 0, nullptr);
        if (helpers[started] != nullptr) {
            ++started;
        }
    }
    ListFolders(&listing);
    if (started > 0) {
        WaitForMultipleObjects(started, helpers, TRUE, INFINITE);
    }
    for (DWORD t = 0; t < started; ++t) {
        CloseHandle(helpers[t]);
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

    // The record lists the files in the order of the manifest it was made from, which is
    // usually this one: an entry is looked for at its own place first.
    const std::vector<CheckRecordEntry>& previous = quick->Previous.Entries;
    std::unordered_map<std::string_view, const CheckRecordEntry*> recorded;
    const uint64_t racyTicks = static_cast<uint64_t>(g_UpdateTimings.RacyWindowMs) * 10000;
    quick->Verdicts.assign(entries.size(), QuickVerdict::Read);
    quick->Recorded.assign(entries.size(), nullptr);
    for (size_t i = 0; i < entries.size(); ++i) {
        const CheckRecordEntry* found = nullptr;
        if (i < previous.size() && previous[i].Path == entries[i].Path) {
            found = &previous[i];
        } else {
            if (recorded.empty()) {
                recorded.reserve(previous.size());
                for (const CheckRecordEntry& entry : previous) {
                    recorded.emplace(entry.Path, &entry); // a path twice: the first counts
                }
            }
            auto at = recorded.find(entries[i].Path);
            found = at != recorded.end() ? at->second : nullptr;
        }
        if (found == nullptr) {
            continue;
        }
        quick->Recorded[i] = found;
        quick->Verdicts[i] = JudgeUnopened(found, quick->Listed[i] ? &quick->Stamps[i] : nullptr,
                                           entries[i].Crc, quick->Previous.WrittenTime, racyTicks);
    }
}

void RecordCheckPhase(const std::vector<ManifestEntry>& entries, const std::vector<FileRead>& reads,
                      QuickCheck* quick) {
    CheckRecord& record = quick->Record;
    quick->RecordPaths.clear();
    // Nothing read and every entry vouched for by the record at its own place: the record
    // on disk already says all of this, and writing it would cost more than the check did.
    bool unchanged = !quick->FullCheck && entries.size() == quick->Previous.Entries.size();
    for (size_t i = 0; i < entries.size() && unchanged; ++i) {
        unchanged = quick->Verdicts[i] != QuickVerdict::Read &&
                    quick->Recorded[i] == &quick->Previous.Entries[i];
    }
    if (unchanged) {
        record = std::move(quick->Previous);
        return;
    }
    record.Build = quick->Build;
    record.FullCheckTime = quick->FullCheck ? quick->StartTime : quick->Previous.FullCheckTime;
    record.Entries.clear();
    record.Entries.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        if (quick->Verdicts[i] != QuickVerdict::Read) {
            record.Entries.push_back(*quick->Recorded[i]); // its stamp was just listed again
        } else if (reads[i].Opened && quick->Listed[i]) {
            record.Entries.push_back(
                CheckRecordEntry{entries[i].Path, quick->Stamps[i], reads[i].Crc});
        }
    }
    Save(quick);
}

void RecordDownload(const ManifestEntry& entry, QuickCheck* quick) {
    char localPath[kPathCapacity];
    FileStamp stamp;
    if (!LocalPathOf(localPath, sizeof localPath, g_Launcher.LauncherDir, entry.Path.c_str()) ||
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
