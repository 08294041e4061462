// The patch loop: check every entry by CRC-32, hand a changed launcher to the self-update,
// then download every other changed file, verified on its way to disk, stopping at the
// first failure.
#include "update/patch_loop.h"

#include <windows.h>

#include "base/paths.h"
#include "base/text.h"
#include "net/http_download.h"
#include "net/http_request.h"
#include "system/launcher_state.h"
#include "ui/window_ops.h"
#include "update/check_record.h"
#include "update/file_checksum.h"
#include "update/self_update.h"
#include "update/signed_update.h"
#include "update/update_rules.h"
#include "update/update_texts.h"

namespace {

FileRead ReadEntry(const ManifestEntry& entry) {
    char localPath[kPathCapacity];
    FileRead read = {false, 0};
    if (LocalPathOf(localPath, sizeof localPath, g_Launcher.LauncherDir, entry.Path.c_str())) {
        read.Opened = FileChecksum(localPath, &read.Crc);
    }
    return read;
}

bool Differs(const FileRead& read, const ManifestEntry& entry) {
    return !read.Opened || read.Crc != entry.Crc;
}

// Read-ahead of the check phase: reader threads open, read and checksum the files ahead of
// the worker, which shows each file's text in manifest order and then takes its verdict.
// On Wine most of a small file's cost is opening it, so the readers overlap those opens
// with each other and with the window updates. Memory: one 32 KiB buffer per reader and
// one byte per verdict in a ring of kCheckAhead.
constexpr int kCheckReaders = 2;
constexpr size_t kCheckAhead = 64;

enum : unsigned char { kVerdictPending, kVerdictCurrent, kVerdictChanged };

struct CheckAhead {
    const std::vector<ManifestEntry>* Entries;
    const std::vector<size_t>* ToRead; // the entries to read, in manifest order
    FileRead* Reads;                   // what each read found, by entry; may be null
    CRITICAL_SECTION Lock;
    CONDITION_VARIABLE VerdictReady; // the worker waits for the next verdict
    CONDITION_VARIABLE SlotFree;     // readers wait until they are not too far ahead
    size_t NextToCheck;              // the next of ToRead a reader takes
    size_t Taken;                    // verdicts the worker has taken
    unsigned char Verdicts[kCheckAhead];
};

bool CheckOne(CheckAhead& ahead, size_t entry) {
    const FileRead read = ReadEntry((*ahead.Entries)[entry]);
    if (ahead.Reads != nullptr) {
        ahead.Reads[entry] = read;
    }
    return Differs(read, (*ahead.Entries)[entry]);
}

DWORD WINAPI CheckReader(LPVOID param) {
    CheckAhead& ahead = *static_cast<CheckAhead*>(param);
    const size_t count = ahead.ToRead->size();
    EnterCriticalSection(&ahead.Lock);
    for (;;) {
        while (ahead.NextToCheck < count && ahead.NextToCheck >= ahead.Taken + kCheckAhead) {
            SleepConditionVariableCS(&ahead.SlotFree, &ahead.Lock, INFINITE);
        }
        if (ahead.NextToCheck >= count) {
            break;
        }
        const size_t k = ahead.NextToCheck++;
        LeaveCriticalSection(&ahead.Lock);
        const bool changed = CheckOne(ahead, (*ahead.ToRead)[k]);
        EnterCriticalSection(&ahead.Lock);
        ahead.Verdicts[k % kCheckAhead] = changed ? kVerdictChanged : kVerdictCurrent;
        WakeConditionVariable(&ahead.VerdictReady);
    }
    LeaveCriticalSection(&ahead.Lock);
    return 0;
}

bool TakeVerdict(CheckAhead& ahead, size_t k) {
    EnterCriticalSection(&ahead.Lock);
    unsigned char& slot = ahead.Verdicts[k % kCheckAhead];
    while (slot == kVerdictPending) {
        SleepConditionVariableCS(&ahead.VerdictReady, &ahead.Lock, INFINITE);
    }
    const bool changed = slot == kVerdictChanged;
    slot = kVerdictPending;
    ahead.Taken = k + 1;
    WakeAllConditionVariable(&ahead.SlotFree);
    LeaveCriticalSection(&ahead.Lock);
    return changed;
}

// With a quick check, only the entries it could not judge unopened are read; the texts and
// the bar still go through every entry.
void CheckPhase(const std::vector<ManifestEntry>& entries, QuickCheck* quick,
                std::vector<ManifestEntry>* list) {
    std::vector<size_t> toRead;
    std::vector<FileRead> reads;
    if (quick != nullptr) {
        StartQuickCheck(entries, quick);
        reads.assign(entries.size(), FileRead{false, 0});
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        if (quick == nullptr || quick->Verdicts[i] == QuickVerdict::Read) {
            toRead.push_back(i);
        }
    }

    CheckAhead ahead = {};
    ahead.Entries = &entries;
    ahead.ToRead = &toRead;
    ahead.Reads = quick != nullptr ? reads.data() : nullptr;
    InitializeCriticalSection(&ahead.Lock);
    InitializeConditionVariable(&ahead.VerdictReady);
    InitializeConditionVariable(&ahead.SlotFree);
    HANDLE readers[kCheckReaders] = {};
    int started = 0;
    for (int r = 0; r < kCheckReaders && toRead.size() > 1; ++r) {
        readers[started] = CreateThread(nullptr, 0, CheckReader, &ahead, 0, nullptr);
        if (readers[started] != nullptr) {
            ++started;
        }
    }

    const int count = static_cast<int>(entries.size());
    size_t k = 0; // the next of toRead
    for (size_t i = 0; i < entries.size(); ++i) {
        char text[kStatusTextCapacity];
        FormatText(text, sizeof text, kFormatCheckingFile, entries[i].Path.c_str(),
                   static_cast<int>(i) + 1, count);
        SetStatus(text);
        SetProgress(CheckPhaseProgress(i, entries.size()));
        bool changed;
        if (k < toRead.size() && toRead[k] == i) {
            // Without a reader (one file to read, or no thread to be had) the worker reads.
            changed = started > 0 ? TakeVerdict(ahead, k) : CheckOne(ahead, i);
            ++k;
        } else {
            changed = quick->Verdicts[i] == QuickVerdict::Changed;
        }
        if (changed) {
            list->push_back(entries[i]);
        }
    }

    if (started > 0) {
        WaitForMultipleObjects(static_cast<DWORD>(started), readers, TRUE, INFINITE);
    }
    for (int r = 0; r < started; ++r) {
        CloseHandle(readers[r]);
    }
    DeleteCriticalSection(&ahead.Lock);
    if (quick != nullptr) {
        RecordCheckPhase(entries, reads, quick);
    }
}

// Only a top-level entry that names the launcher's own file matches.
size_t FindLauncherEntry(const std::vector<ManifestEntry>& list) {
    for (size_t i = 0; i < list.size(); ++i) {
        if (lstrcmpiA(list[i].Path.c_str(), g_Launcher.LauncherFileName) == 0) {
            return i;
        }
    }
    return list.size();
}

PatchResult DownloadOne(const ManifestEntry& entry, int position, int count) {
    char label[kStatusTextCapacity];
    char url[kUrlCapacity];
    char text[kStatusTextCapacity];
    char localPath[kPathCapacity];
    FormatText(label, sizeof label, kFormatPatchLabel, entry.Path.c_str(), position, count);
    SetProgress(0);
    if (!FormatText(url, sizeof url, kFormatPatchUrl, g_Launcher.Config.UpdateUrl,
                    entry.Path.c_str())) {
        FormatText(text, sizeof text, kFormatDownloadFailed, entry.Path.c_str());
        SetStatus(text);
        return PatchResult::DownloadFailed;
    }
    // A 200 is not proof of the right bytes: a proxy's page, a stale file on the server or a
    // chunked body cut short all arrive as 200. Only the manifest's checksum (and a signed
    // list's size and SHA-256) may replace a player's file.
    const ExpectedBody expected = ExpectedBodyOf(entry);
    DownloadResult result = DownloadResult::WriteFailed;
    if (LocalPathOf(localPath, sizeof localPath, g_Launcher.LauncherDir, entry.Path.c_str())) {
        result = HttpRequestToFile(url, localPath, expected, label);
    }
    switch (result) {
    case DownloadResult::Written: return PatchResult::Finished;
    case DownloadResult::NotReceived:
    case DownloadResult::Refused:
        FormatText(text, sizeof text, kFormatDownloadFailed, entry.Path.c_str());
        SetStatus(text);
        return PatchResult::DownloadFailed;
    case DownloadResult::WriteFailed: break;
    }
    FormatText(text, sizeof text, kFormatWriteFailed, entry.Path.c_str());
    SetStatus(text);
    return PatchResult::WriteFailed;
}

} // namespace

PatchResult RunPatchLoop(const std::vector<ManifestEntry>& entries,
                         std::vector<ManifestEntry>* downloadList) {
    downloadList->clear();
    QuickCheck quickCheck = {};
    QuickCheck* quick = g_Launcher.Config.QuickCheck ? &quickCheck : nullptr;
    CheckPhase(entries, quick, downloadList);

    size_t launcher = FindLauncherEntry(*downloadList);
    if (launcher < downloadList->size()) {
        if (SelfUpdateLauncher((*downloadList)[launcher])) {
            return PatchResult::Restarting;
        }
        downloadList->erase(downloadList->begin() + static_cast<ptrdiff_t>(launcher));
    }

    const int count = static_cast<int>(downloadList->size());
    PatchResult result = PatchResult::Finished;
    for (int k = 0; k < count && result == PatchResult::Finished; ++k) {
        const ManifestEntry& entry = (*downloadList)[static_cast<size_t>(k)];
        result = DownloadOne(entry, k + 1, count);
        if (quick != nullptr && result == PatchResult::Finished) {
            RecordDownload(entry, quick);
        }
    }
    if (quick != nullptr) {
        FinishQuickCheck(quick);
    }
    return result;
}
