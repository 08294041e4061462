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
#include "update/file_checksum.h"
#include "update/self_update.h"
#include "update/signed_update.h"
#include "update/update_rules.h"
#include "update/update_texts.h"

namespace {

bool NeedsDownload(const ManifestEntry& entry) {
    char localPath[kPathCapacity];
    if (!LocalPathOf(localPath, sizeof localPath, g_Launcher.LauncherDir, entry.Path.c_str())) {
        return true;
    }
    uint32_t checksum = 0;
    return !FileChecksum(localPath, &checksum) || checksum != entry.Crc;
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
    CRITICAL_SECTION Lock;
    CONDITION_VARIABLE VerdictReady; // the worker waits for the next verdict
    CONDITION_VARIABLE SlotFree;     // readers wait until they are not too far ahead
    size_t NextToCheck;              // the next entry a reader takes
    size_t Taken;                    // verdicts the worker has taken
    unsigned char Verdicts[kCheckAhead];
};

DWORD WINAPI CheckReader(LPVOID param) {
    CheckAhead& ahead = *static_cast<CheckAhead*>(param);
    const size_t count = ahead.Entries->size();
    EnterCriticalSection(&ahead.Lock);
    for (;;) {
        while (ahead.NextToCheck < count && ahead.NextToCheck >= ahead.Taken + kCheckAhead) {
            SleepConditionVariableCS(&ahead.SlotFree, &ahead.Lock, INFINITE);
        }
        if (ahead.NextToCheck >= count) {
            break;
        }
        const size_t i = ahead.NextToCheck++;
        LeaveCriticalSection(&ahead.Lock);
        const bool changed = NeedsDownload((*ahead.Entries)[i]);
        EnterCriticalSection(&ahead.Lock);
        ahead.Verdicts[i % kCheckAhead] = changed ? kVerdictChanged : kVerdictCurrent;
        WakeConditionVariable(&ahead.VerdictReady);
    }
    LeaveCriticalSection(&ahead.Lock);
    return 0;
}

bool TakeVerdict(CheckAhead& ahead, size_t i) {
    EnterCriticalSection(&ahead.Lock);
    unsigned char& slot = ahead.Verdicts[i % kCheckAhead];
    while (slot == kVerdictPending) {
        SleepConditionVariableCS(&ahead.VerdictReady, &ahead.Lock, INFINITE);
    }
    const bool changed = slot == kVerdictChanged;
    slot = kVerdictPending;
    ahead.Taken = i + 1;
    WakeAllConditionVariable(&ahead.SlotFree);
    LeaveCriticalSection(&ahead.Lock);
    return changed;
}

void CheckPhase(const std::vector<ManifestEntry>& entries, std::vector<ManifestEntry>* list) {
    CheckAhead ahead = {};
    ahead.Entries = &entries;
    InitializeCriticalSection(&ahead.Lock);
    InitializeConditionVariable(&ahead.VerdictReady);
    InitializeConditionVariable(&ahead.SlotFree);
    HANDLE readers[kCheckReaders] = {};
    int started = 0;
    for (int r = 0; r < kCheckReaders && entries.size() > 1; ++r) {
        readers[started] = CreateThread(nullptr, 0, CheckReader, &ahead, 0, nullptr);
        if (readers[started] != nullptr) {
            ++started;
        }
    }

    const int count = static_cast<int>(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        char text[kStatusTextCapacity];
        FormatText(text, sizeof text, kFormatCheckingFile, entries[i].Path.c_str(),
                   static_cast<int>(i) + 1, count);
        SetStatus(text);
        SetProgress(CheckPhaseProgress(i, entries.size()));
        // Without a reader (one entry, or no thread to be had) the worker checks itself.
        const bool changed = started > 0 ? TakeVerdict(ahead, i) : NeedsDownload(entries[i]);
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
    CheckPhase(entries, downloadList);

    size_t launcher = FindLauncherEntry(*downloadList);
    if (launcher < downloadList->size()) {
        if (SelfUpdateLauncher((*downloadList)[launcher])) {
            return PatchResult::Restarting;
        }
        downloadList->erase(downloadList->begin() + static_cast<ptrdiff_t>(launcher));
    }

    const int count = static_cast<int>(downloadList->size());
    for (int k = 0; k < count; ++k) {
        PatchResult result = DownloadOne((*downloadList)[static_cast<size_t>(k)], k + 1, count);
        if (result != PatchResult::Finished) {
            return result;
        }
    }
    return PatchResult::Finished;
}
