// Reading the live version and its record.
#include "live_version.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/hex_digit.h"
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

// Record lines: CRC-32 (hex), size, inode, modification time (ns), SHA-256 (hex, "-" when
// not signed), TAB-separated, then the served path. A damaged record, or one of an older
// publisher without the SHA-256 field, vouches for nothing: every file is read instead.
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
            used <= 0) {
            return {};
        }
        const size_t digestStart = static_cast<size_t>(used);
        const size_t tab = line.find('\t', digestStart);
        if (tab == std::string::npos || tab + 1 >= line.size()) {
            return {};
        }
        const std::string digest = line.substr(digestStart, tab - digestStart);
        entry.Hashed = digest != "-";
        if (entry.Hashed &&
            !ReadHexBytes(digest.data(), digest.size(), entry.Sha256, kSha256Size)) {
            return {};
        }
        entry.Crc = crc;
        entry.Identity.Size = size;
        entry.Identity.Inode = inode;
        entry.Identity.MtimeNs = mtime;
        record[line.substr(tab + 1)] = entry;
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
    live->HasList = ReadSmallFile(tree + "/" + kSignedListTreePath, &live->List);
    if (live->HasList) {
        ReadSmallFile(tree + "/" + kSignaturesTreePath, &live->Signatures);
        if (!ParseSignedList(live->List.data(), live->List.size(), "", &live->Signed)) {
            *error = tree + "/" + kSignedListTreePath +
                     " is not a signed list: its sequence number cannot be known; restore it "
                     "from a backup of the tree";
            return false;
        }
    }
    return true;
}

bool LiveHolds(const LiveVersion& live, const std::string& served, const FileIdentity& identity,
               uint32_t crc, const unsigned char* sha256, bool* wasRead, Progress* progress) {
    const auto recorded = live.Record.find(served);
    if (recorded != live.Record.end() && recorded->second.Identity == identity &&
        (sha256 == nullptr || recorded->second.Hashed)) {
        return recorded->second.Crc == crc &&
               (sha256 == nullptr || memcmp(recorded->second.Sha256, sha256, kSha256Size) == 0);
    }
    *wasRead = true;
    uint32_t liveCrc = 0;
    unsigned char liveSha256[kSha256Size];
    FileError ignored;
    return ReadFile(live.Tree + "/" + served, identity.Size, "", &liveCrc, nullptr, progress,
                    &ignored, sha256 != nullptr ? liveSha256 : nullptr) &&
           liveCrc == crc && (sha256 == nullptr || memcmp(liveSha256, sha256, kSha256Size) == 0);
}

std::string RecordText(const std::vector<VersionFile>& files) {
    std::string text;
    for (const VersionFile& file : files) {
        char line[128];
        snprintf(line, sizeof line, "%08X\t%" PRIu64 "\t%" PRIu64 "\t%" PRId64 "\t",
                 static_cast<unsigned>(file.Crc), file.Identity.Size, file.Identity.Inode,
                 file.Identity.MtimeNs);
        text += line;
        if (file.Hashed) {
            AppendHexBytes(&text, file.Sha256, kSha256Size);
        } else {
            text += '-';
        }
        text += "\t" + file.Served + "\n";
    }
    return text;
}
