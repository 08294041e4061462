// The patch loop: check every entry by CRC-32, hand a changed launcher to the self-update,
// then download, verify and write every other changed file, stopping at the first failure.
#include "update/patch_loop.h"

#include <windows.h>

#include "base/paths.h"
#include "base/text.h"
#include "crc32/crc32.h"
#include "net/atomic_write.h"
#include "net/http_request.h"
#include "system/launcher_state.h"
#include "ui/window_ops.h"
#include "update/file_checksum.h"
#include "update/self_update.h"
#include "update/update_rules.h"
#include "update/update_texts.h"

namespace {

bool NeedsDownload(const ManifestEntry& entry) {
    char localPath[kPathCapacity];
    if (!LocalPathOf(g_Launcher.LauncherDir, entry.Path.c_str(), localPath, sizeof localPath)) {
        return true;
    }
    uint32_t checksum = 0;
    return !FileChecksum(localPath, &checksum) || checksum != entry.Crc;
}

void CheckPhase(const std::vector<ManifestEntry>& entries, std::vector<ManifestEntry>* list) {
    const int count = static_cast<int>(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        char text[kStatusTextCapacity];
        FormatText(text, sizeof text, kFormatCheckingFile, entries[i].Path.c_str(),
                   static_cast<int>(i) + 1, count);
        SetStatus(text);
        SetProgress(CheckPhaseProgress(i, entries.size()));
        if (NeedsDownload(entries[i])) {
            list->push_back(entries[i]);
        }
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
    FormatText(label, sizeof label, kFormatPatchLabel, entry.Path.c_str(), position, count);
    SetProgress(0);
    ByteBuffer body;
    int status = 0;
    if (FormatText(url, sizeof url, kFormatPatchUrl, g_Launcher.Config.UpdateUrl,
                   entry.Path.c_str())) {
        status = HttpRequest(url, body, label, nullptr);
    }
    // A 200 is not proof of the right bytes: a proxy's page, a stale file on the server or a
    // chunked body cut short all arrive as 200. Only the manifest's checksum may replace a
    // player's file.
    if (status != 200 || BufferChecksum(body.data(), body.size()) != entry.Crc) {
        FormatText(text, sizeof text, kFormatDownloadFailed, entry.Path.c_str());
        SetStatus(text);
        return PatchResult::DownloadFailed;
    }
    char localPath[kPathCapacity];
    bool written =
        LocalPathOf(g_Launcher.LauncherDir, entry.Path.c_str(), localPath, sizeof localPath);
    if (written) {
        CreateFoldersAlong(localPath);
        written = WriteFileAtomic(localPath, body);
    }
    if (!written) {
        FormatText(text, sizeof text, kFormatWriteFailed, entry.Path.c_str());
        SetStatus(text);
        return PatchResult::WriteFailed;
    }
    return PatchResult::Finished;
}

} // namespace

PatchResult RunPatchLoop(const std::vector<ManifestEntry>& entries,
                         std::vector<ManifestEntry>* downloadList) {
    downloadList->clear();
    CheckPhase(entries, downloadList);

    size_t launcher = FindLauncherEntry(*downloadList);
    if (launcher < downloadList->size()) {
        if (SelfUpdateLauncher((*downloadList)[launcher].Crc)) {
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
