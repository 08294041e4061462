// Signed file list, signature file, update key and sequence record: parsers and writers.
//
// The list (launcher/files.txt), 8-bit text, every line ended by LF (the last one too):
//
//   qelt-files 1
//   sequence <N>
//   created <YYYY-MM-DDTHH:MM:SSZ>
//   [package <SIZE> <SHA256>]
//   file <SIZE> <CRC32> <SHA256> <PATH>      (zero or more)
//
//   * Strict, because it decides what may replace a player's files: one line that breaks a
//     rule refuses the whole list. No CR, no empty line, no comment, no byte below 0x20 or
//     0x7F inside a line, fields separated by exactly one space.
//   * N and SIZE: decimal, 1 to 20 digits, no leading zero (except "0"), at most 2^64 - 1.
//     N grows with every publish into a tree; a launcher refuses one lower than it accepted.
//   * created: a real UTC date and time from 1970 on.
//   * CRC32: 8 hexadecimal digits; SHA256: 64; either letter case.
//   * PATH: the rest of the line, 1 to 200 bytes, '/' between folders, no '\', no empty
//     folder name, no name ending in a space or a dot (Windows would drop it and reach
//     another file), and the manifest's rules (not rooted, no ':', no ".."). Never one of
//     the launcher's own state files. Paths strictly ascending byte-wise (so no duplicate).
//   * Bounds: 32 MiB, 512 bytes a line (LF included), 100000 files.
//
// The signatures (launcher/files.sig), one line each, LF-ended, at most 8 lines and 4 KiB:
//
//   ecdsa-p256 <128 hex digits: r || s, 32 bytes each, big-endian>
//
//   ECDSA P-256 over the SHA-256 of the list's exact bytes. A list is taken when any of its
//   signatures verifies under the launcher's key, so during a key change a list carries one
//   signature by the old key and one by the new. A line "<name> <text>" with another
//   algorithm name ([a-z0-9-], at most 32 bytes) and printable text is passed over, so a
//   later algorithm can be added beside this one.
//
// UpdateKey: the public point X || Y as 128 hexadecimal digits. The sequence record
// (qelt-sequence.dat): the decimal number and LF.
#include "update/signed_list.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "base/hex_digit.h"
#include "update/manifest.h"
#include "update/state_files.h"

namespace {

using std::string_view;

constexpr char kListHeader[] = "qelt-files 1";
constexpr char kSignatureAlgorithm[] = "ecdsa-p256";
constexpr size_t kAlgorithmNameMax = 32;
constexpr size_t kUtcTimeLength = 20; // YYYY-MM-DDTHH:MM:SSZ

bool ReadHex(string_view text, unsigned char* out, size_t count) {
    return ReadHexBytes(text.data(), text.size(), out, count);
}

bool ReadDecimal(string_view text, uint64_t* value) {
    if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0')) {
        return false;
    }
    uint64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (result > (UINT64_MAX - digit) / 10) {
            return false;
        }
        result = result * 10 + digit;
    }
    *value = result;
    return true;
}

bool IsLeapYear(uint64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

uint64_t DaysInMonth(uint64_t year, uint64_t month) {
    static const unsigned char kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (year >= 1970).
uint64_t DaysSinceEpoch(uint64_t year, uint64_t month, uint64_t day) {
    uint64_t days = day - 1;
    for (uint64_t y = 1970; y < year; ++y) {
        days += IsLeapYear(y) ? 366 : 365;
    }
    for (uint64_t m = 1; m < month; ++m) {
        days += DaysInMonth(year, m);
    }
    return days;
}

bool ReadUtcTime(string_view text, uint64_t* seconds) {
    static const char kShape[] = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != kUtcTimeLength) {
        return false;
    }
    for (size_t i = 0; i < kUtcTimeLength; ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) {
            return false;
        }
    }
    // The shape above holds only digits where these fields are.
    auto field = [&](size_t at, size_t width) {
        uint64_t value = 0;
        for (size_t i = at; i < at + width; ++i) {
            value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        }
        return value;
    };
    const uint64_t year = field(0, 4), month = field(5, 2), day = field(8, 2);
    const uint64_t hour = field(11, 2), minute = field(14, 2), second = field(17, 2);
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
        hour > 23 || minute > 59 || second > 59) {
        return false;
    }
    *seconds = ((DaysSinceEpoch(year, month, day) * 24 + hour) * 60 + minute) * 60 + second;
    return true;
}

void AppendTwoDigits(std::string* out, uint64_t value) {
    out->push_back(static_cast<char>('0' + value / 10 % 10));
    out->push_back(static_cast<char>('0' + value % 10));
}

void AppendUtcTime(std::string* out, uint64_t seconds) {
    uint64_t days = seconds / 86400;
    uint64_t year = 1970;
    // Past year 9999 the text could not be read back anyway; the bound keeps this loop short.
    while (year < 9999 && days >= (IsLeapYear(year) ? 366u : 365u)) {
        days -= IsLeapYear(year) ? 366 : 365;
        ++year;
    }
    uint64_t month = 1;
    while (month < 12 && days >= DaysInMonth(year, month)) {
        days -= DaysInMonth(year, month);
        ++month;
    }
    *out += std::to_string(year);
    out->push_back('-');
    AppendTwoDigits(out, month);
    out->push_back('-');
    AppendTwoDigits(out, days + 1);
    out->push_back('T');
    AppendTwoDigits(out, seconds / 3600 % 24);
    out->push_back(':');
    AppendTwoDigits(out, seconds / 60 % 60);
    out->push_back(':');
    AppendTwoDigits(out, seconds % 60);
    out->push_back('Z');
}

// Steps through LF-ended lines no longer than maxLine (LF included) that hold no control
// byte. Next gives 1 with a line, 0 at the end, -1 for a line that breaks those rules.
struct LineReader {
    string_view Text;
    size_t MaxLine;
    size_t Pos = 0;

    int Next(string_view* line) {
        if (Pos == Text.size()) {
            return 0;
        }
        const size_t lf = Text.find('\n', Pos);
        if (lf == string_view::npos || lf - Pos + 1 > MaxLine) {
            return -1;
        }
        *line = Text.substr(Pos, lf - Pos);
        Pos = lf + 1;
        for (char c : *line) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                return -1;
            }
        }
        return 1;
    }
};

// Takes the text before the first space of *rest and the space; false without a space.
bool SplitField(string_view* rest, string_view* field) {
    const size_t space = rest->find(' ');
    if (space == string_view::npos) {
        return false;
    }
    *field = rest->substr(0, space);
    rest->remove_prefix(space + 1);
    return true;
}

// "<keyword> <rest>": the rest, when the line starts with that keyword and a space.
bool AfterKeyword(string_view line, string_view keyword, string_view* rest) {
    if (line.size() <= keyword.size() || line.substr(0, keyword.size()) != keyword ||
        line[keyword.size()] != ' ') {
        return false;
    }
    *rest = line.substr(keyword.size() + 1);
    return true;
}

bool WellFormedSignedPath(const std::string& path) {
    if (path.empty() || path.size() > kManifestPathMax || path.find('\\') != std::string::npos) {
        return false;
    }
    size_t start = 0;
    for (;;) {
        const size_t slash = std::min(path.find('/', start), path.size());
        if (slash == start || path[slash - 1] == ' ' || path[slash - 1] == '.') {
            return false;
        }
        if (slash == path.size()) {
            break;
        }
        start = slash + 1;
    }
    return ManifestPathAccepted(path, 0) && !IsLauncherStateFile(path.c_str());
}

bool ReadFileLine(string_view line, SignedListEntry* entry) {
    string_view rest;
    string_view sizeText;
    string_view crcText;
    string_view digestText;
    unsigned char crc[4];
    if (!AfterKeyword(line, "file", &rest) || !SplitField(&rest, &sizeText) ||
        !ReadDecimal(sizeText, &entry->Size) || !SplitField(&rest, &crcText) ||
        !ReadHex(crcText, crc, 4) || !SplitField(&rest, &digestText) ||
        !ReadHex(digestText, entry->Sha256, kSha256Size)) {
        return false;
    }
    entry->Crc = static_cast<uint32_t>(crc[0]) << 24 | static_cast<uint32_t>(crc[1]) << 16 |
                 static_cast<uint32_t>(crc[2]) << 8 | crc[3];
    entry->Path.assign(rest.data(), rest.size());
    return WellFormedSignedPath(entry->Path);
}

bool IsAlgorithmName(string_view name) {
    if (name.empty() || name.size() > kAlgorithmNameMax) {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
    });
}

} // namespace

bool ParseSignedList(const void* body, size_t length, const char* launcherDir, SignedList* list) {
    if (length > kSignedListMaxBytes) {
        return false;
    }
    LineReader reader{string_view(static_cast<const char*>(body), length), kSignedListMaxLine};
    SignedList parsed;
    string_view line;
    string_view rest;
    if (reader.Next(&line) != 1 || line != kListHeader || reader.Next(&line) != 1 ||
        !AfterKeyword(line, "sequence", &rest) || !ReadDecimal(rest, &parsed.Sequence) ||
        reader.Next(&line) != 1 || !AfterKeyword(line, "created", &rest) ||
        !ReadUtcTime(rest, &parsed.CreatedUnix)) {
        return false;
    }
    const size_t dirLength = strlen(launcherDir);
    std::string previous;
    size_t files = 0;
    int next;
    while ((next = reader.Next(&line)) == 1) {
        if (files == 0 && !parsed.HasPackage && AfterKeyword(line, "package", &rest)) {
            string_view sizeText;
            if (!SplitField(&rest, &sizeText) || !ReadDecimal(sizeText, &parsed.PackageSize) ||
                !ReadHex(rest, parsed.PackageSha256, kSha256Size)) {
                return false;
            }
            parsed.HasPackage = true;
            continue;
        }
        SignedListEntry entry;
        if (++files > kSignedListMaxFiles || !ReadFileLine(line, &entry) ||
            (files > 1 && !(previous < entry.Path))) {
            return false;
        }
        previous = entry.Path;
        if (ManifestPathAccepted(entry.Path, dirLength)) {
            parsed.Entries.push_back(std::move(entry));
        }
    }
    if (next != 0) {
        return false;
    }
    *list = std::move(parsed);
    return true;
}

std::string FormatSignedList(SignedList list) {
    std::sort(list.Entries.begin(), list.Entries.end(),
              [](const SignedListEntry& a, const SignedListEntry& b) { return a.Path < b.Path; });
    std::string text = kListHeader;
    text += "\nsequence " + std::to_string(list.Sequence) + "\ncreated ";
    AppendUtcTime(&text, list.CreatedUnix);
    text += '\n';
    if (list.HasPackage) {
        text += "package " + std::to_string(list.PackageSize) + ' ';
        AppendHexBytes(&text, list.PackageSha256, kSha256Size);
        text += '\n';
    }
    for (const SignedListEntry& entry : list.Entries) {
        static const char kUpperHex[] = "0123456789ABCDEF";
        text += "file " + std::to_string(entry.Size) + ' ';
        for (int shift = 28; shift >= 0; shift -= 4) {
            text += kUpperHex[(entry.Crc >> shift) & 15];
        }
        text += ' ';
        AppendHexBytes(&text, entry.Sha256, kSha256Size);
        text += ' ' + entry.Path + '\n';
    }
    return text;
}

bool ParseSignatures(const void* body, size_t length, std::vector<ListSignature>* signatures) {
    if (length > kSignaturesMaxBytes) {
        return false;
    }
    LineReader reader{string_view(static_cast<const char*>(body), length), kSignaturesMaxBytes};
    std::vector<ListSignature> found;
    string_view line;
    size_t lines = 0;
    int next;
    while ((next = reader.Next(&line)) == 1) {
        string_view name;
        if (++lines > kSignaturesMaxLines || !SplitField(&line, &name) || !IsAlgorithmName(name) ||
            line.empty() || line.find(' ') != string_view::npos) {
            return false;
        }
        if (name == kSignatureAlgorithm) {
            ListSignature signature;
            if (!ReadHex(line, signature.Bytes, kListSignatureSize)) {
                return false;
            }
            found.push_back(signature);
        }
    }
    if (next != 0 || found.empty()) {
        return false;
    }
    *signatures = std::move(found);
    return true;
}

std::string FormatSignatureLine(const ListSignature& signature) {
    std::string line = kSignatureAlgorithm;
    line += ' ';
    AppendHexBytes(&line, signature.Bytes, kListSignatureSize);
    line += '\n';
    return line;
}

bool ParseUpdateKey(const char* text, unsigned char key[kUpdateKeySize]) {
    return ReadHex(string_view(text), key, kUpdateKeySize);
}

std::string FormatUpdateKey(const unsigned char key[kUpdateKeySize]) {
    std::string text;
    AppendHexBytes(&text, key, kUpdateKeySize);
    return text;
}

bool ParseSequenceRecord(const void* body, size_t length, uint64_t* sequence) {
    const string_view text(static_cast<const char*>(body), length);
    return !text.empty() && text.back() == '\n' &&
           ReadDecimal(text.substr(0, text.size() - 1), sequence);
}

std::string FormatSequenceRecord(uint64_t sequence) {
    return std::to_string(sequence) + '\n';
}
