// Reading the live version and its record.
#include "live_version.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "publish_files.h"
#include "tree_versions.h"
#include "update/manifest.h"

namespace {

// A whole small file (manifest, status, record); false when there is none.
bool ReadSmallFile(const std::string& path, std::string* text) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    char piece[65536];
    size_t n = 0;
    while ((n = fread(piece, 1, sizeof piece, f)) > 0) {
        text->append(piece, n);
    }
    const bool ok = ferror(f) == 0;
    fclose(f);
    return ok;
}

// Record lines: CRC-32 (hex), size, inode, modification time (ns), TAB-separated, then the
// served path. A damaged record vouches for nothing: every file is read instead.
std::map<std::string, RecordEntry> ParseRecord(const std::string& text) {
    std::map<std::string, RecordEntry> record;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            return {};
        }
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        RecordEntry entry;
        unsigned crc = 0;
        uint64_t size = 0;
        uint64_t inode = 0;
        int64_t mtime = 0;
        int used = 0;
        if (sscanf(line.c_str(), "%8x\t%" SCNu64 "\t%" SCNu64 "\t%" SCNd64 "\t%n", &crc, &size,
                   &inode, &mtime, &used) != 4 ||
            used <= 0 || static_cast<size_t>(used) >= line.size()) {
            return {};
        }
        entry.Crc = crc;
        entry.Identity.Size = size;
        entry.Identity.Inode = inode;
        entry.Identity.MtimeNs = mtime;
        record[line.substr(static_cast<size_t>(used))] = entry;
    }
    return record;
}

} // namespace

bool ReadLiveVersion(const std::string& tree, LiveVersion* live, std::string* error) {
    live->Tree = tree;
    live->Number = CurrentVersion(tree);
    if (live->Number < 0) {
        *error = tree + "/current is not a link to a version in " + tree +
                 "/versions; restore it or remove it";
        return false;
    }
    live->Versioned = live->Number > 0 && ServedFoldersAreLinks(tree);
    std::string record;
    if (live->Versioned &&
        ReadSmallFile(VersionDir(tree, live->Number) + "/" + kRecordName, &record)) {
        live->Record = ParseRecord(record);
    }
    if (ReadSmallFile(tree + "/launcher/manifest.txt", &live->Manifest)) {
        const auto entries = ParseManifest(live->Manifest.data(), live->Manifest.size(), "");
        for (const ManifestEntry& entry : entries) {
            live->Listed[entry.Path] = entry.Crc;
        }
    }
    live->HasStatus = ReadSmallFile(tree + "/launcher/status", &live->Status);
    return true;
}

bool LiveHolds(const LiveVersion& live, const std::string& served, const FileIdentity& identity,
               uint32_t crc, bool* wasRead, Progress* progress) {
    const auto recorded = live.Record.find(served);
    if (recorded != live.Record.end() && recorded->second.Identity == identity) {
        return recorded->second.Crc == crc;
    }
    *wasRead = true;
    uint32_t liveCrc = 0;
    FileError ignored;
    return ReadFile(live.Tree + "/" + served, identity.Size, "", &liveCrc, nullptr, progress,
                    &ignored) &&
           liveCrc == crc;
}

std::string RecordText(const std::vector<VersionFile>& files) {
    std::string text;
    for (const VersionFile& file : files) {
        char line[128];
        snprintf(line, sizeof line, "%08X\t%" PRIu64 "\t%" PRIu64 "\t%" PRId64 "\t",
                 static_cast<unsigned>(file.Crc), file.Identity.Size, file.Identity.Inode,
                 file.Identity.MtimeNs);
        text += line + file.Served + "\n";
    }
    return text;
}
