// The game data package: the extractor program, then each file deflated (zlib format) one
// after the other, then an index of the files, then a fixed trailer that finds the index.
//
//   trailer (32 bytes, at the very end, little-endian):
//     u64 index offset   u64 index length   u32 file count   u32 CRC-32 of the index
//     "QELTPAK1"
//   index entry, one per file, in order:
//     u16 path length   path (UTF-8, '/' separators)   u64 size   u32 CRC-32 of the content
//     u64 offset of its deflated data   u64 length of its deflated data
//
// A package cut short loses its trailer; one altered anywhere fails the index CRC, the
// deflate stream or the content CRC.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr char kPackMagic[8] = {'Q', 'E', 'L', 'T', 'P', 'A', 'K', '1'};
constexpr size_t kPackTrailerSize = 32;
constexpr size_t kPackPathMax = 200;

struct PackEntry {
    std::string Path;
    uint64_t Size = 0;
    uint32_t Crc = 0;
    uint64_t Offset = 0;
    uint64_t Packed = 0;
};

struct PackTrailer {
    uint64_t IndexOffset = 0;
    uint64_t IndexLength = 0;
    uint32_t FileCount = 0;
    uint32_t IndexCrc = 0;
};

inline void PutLe(std::string* out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

inline uint64_t GetLe(const unsigned char* in, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = (value << 8) | in[i];
    }
    return value;
}

inline void AppendPackEntry(std::string* index, const PackEntry& entry) {
    PutLe(index, entry.Path.size(), 2);
    index->append(entry.Path);
    PutLe(index, entry.Size, 8);
    PutLe(index, entry.Crc, 4);
    PutLe(index, entry.Offset, 8);
    PutLe(index, entry.Packed, 8);
}

// Reads the entry at *pos of the index; false when it runs past the end.
inline bool ReadPackEntry(const std::string& index, size_t* pos, PackEntry* entry) {
    const unsigned char* data = reinterpret_cast<const unsigned char*>(index.data());
    if (index.size() - *pos < 2) {
        return false;
    }
    const size_t pathLength = static_cast<size_t>(GetLe(data + *pos, 2));
    if (index.size() - *pos - 2 < pathLength + 28) {
        return false;
    }
    const unsigned char* p = data + *pos + 2;
    entry->Path.assign(reinterpret_cast<const char*>(p), pathLength);
    p += pathLength;
    entry->Size = GetLe(p, 8);
    entry->Crc = static_cast<uint32_t>(GetLe(p + 8, 4));
    entry->Offset = GetLe(p + 12, 8);
    entry->Packed = GetLe(p + 20, 8);
    *pos += 2 + pathLength + 28;
    return true;
}

inline std::string EncodePackTrailer(const PackTrailer& trailer) {
    std::string out;
    PutLe(&out, trailer.IndexOffset, 8);
    PutLe(&out, trailer.IndexLength, 8);
    PutLe(&out, trailer.FileCount, 4);
    PutLe(&out, trailer.IndexCrc, 4);
    out.append(kPackMagic, sizeof kPackMagic);
    return out;
}

// False when the bytes are no trailer.
inline bool DecodePackTrailer(const unsigned char* in, PackTrailer* trailer) {
    for (size_t i = 0; i < sizeof kPackMagic; ++i) {
        if (in[24 + i] != static_cast<unsigned char>(kPackMagic[i])) {
            return false;
        }
    }
    trailer->IndexOffset = GetLe(in, 8);
    trailer->IndexLength = GetLe(in + 8, 8);
    trailer->FileCount = static_cast<uint32_t>(GetLe(in + 16, 4));
    trailer->IndexCrc = static_cast<uint32_t>(GetLe(in + 20, 4));
    return true;
}

// Whether a stored path stays inside the output folder: relative, '/' separators only, no
// empty, "." or ".." component, no drive or stream ':'. '#' marks the extractor's own
// temporaries, so it is never in a stored name.
inline bool PackPathSafe(const std::string& path) {
    if (path.empty() || path.size() > kPackPathMax || path.find('\\') != std::string::npos ||
        path.find(':') != std::string::npos || path.find('#') != std::string::npos ||
        path.find('\0') != std::string::npos) {
        return false;
    }
    size_t start = 0;
    for (;;) {
        const size_t slash = path.find('/', start);
        const std::string part =
            path.substr(start, slash == std::string::npos ? slash : slash - start);
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        if (slash == std::string::npos) {
            return true;
        }
        start = slash + 1;
    }
}
