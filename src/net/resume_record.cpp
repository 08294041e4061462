// Resume records and the response headers a continued download depends on.
#include "net/resume_record.h"

#include <cstring>
#include <string>

#include "base/hex_digit.h"
#include "base/text.h"

namespace {

constexpr char kFirstLine[] = "qelt-resume 2";

bool IsPrintable(const char* text) {
    for (const char* p = text; *p; ++p) {
        if (*p < 0x20 || *p > 0x7E) {
            return false;
        }
    }
    return true;
}

// Takes the next line of [*cursor, end) without its '\n' into line (cap bytes); false when
// there is no complete line or it does not fit.
bool NextLine(const char** cursor, const char* end, char* line, size_t cap) {
    const char* start = *cursor;
    const char* newline = static_cast<const char*>(memchr(start, '\n', end - start));
    if (newline == nullptr || static_cast<size_t>(newline - start) >= cap) {
        return false;
    }
    memcpy(line, start, newline - start);
    line[newline - start] = '\0';
    *cursor = newline + 1;
    return true;
}

// The value after "<key> " on a line, or null when the line is another key.
const char* ValueOf(const char* line, const char* key) {
    const size_t keyLength = strlen(key);
    if (strncmp(line, key, keyLength) != 0 || line[keyLength] != ' ') {
        return nullptr;
    }
    return line + keyLength + 1;
}

// The record writes lower-case digits only; anything else is not a record it wrote.
int LowerHexDigit(char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

bool ParseHex32(const char* text, uint32_t* value) {
    if (strlen(text) != 8) {
        return false;
    }
    uint32_t number = 0;
    for (const char* p = text; *p; ++p) {
        const int digit = LowerHexDigit(*p);
        if (digit < 0) {
            return false;
        }
        number = number << 4 | static_cast<uint32_t>(digit);
    }
    *value = number;
    return true;
}

// A number of the header that runs up to the first character of stop.
bool TakeNumber(const char** cursor, char stop, uint64_t* value) {
    const char* end = strchr(*cursor, stop);
    char digits[24];
    if (end == nullptr || static_cast<size_t>(end - *cursor) >= sizeof digits) {
        return false;
    }
    memcpy(digits, *cursor, end - *cursor);
    digits[end - *cursor] = '\0';
    *cursor = end + 1;
    return ParseWholeNumber(digits, value);
}

} // namespace

bool FormatResumeRecord(const ResumeRecord& record, char* out, size_t cap) {
    char crc[16] = "-";
    if (record.HasCrc) {
        FormatText(crc, sizeof crc, "%08x", static_cast<unsigned>(record.Crc));
    }
    std::string digest = "-";
    if (record.HasDigest) {
        digest.clear();
        AppendHexBytes(&digest, record.Sha256, kSha256DigestSize);
    }
    if (record.Validator[0] == '\0' || !IsPrintable(record.Validator)) {
        if (cap > 0) {
            out[0] = '\0';
        }
        return false;
    }
    return FormatText(out, cap, "%s\ncrc %s\nsha256 %s\nsize %llu\nvalidator %s\nend\n", kFirstLine,
                      crc, digest.c_str(), static_cast<unsigned long long>(record.Size),
                      record.Validator);
}

bool ParseResumeRecord(const char* text, size_t length, ResumeRecord* record) {
    const char* cursor = text;
    const char* end = text + length;
    char line[kResumeRecordCapacity];
    ResumeRecord read = {};
    const char* value;
    uint64_t size = 0;
    if (!NextLine(&cursor, end, line, sizeof line) || strcmp(line, kFirstLine) != 0) {
        return false;
    }
    if (!NextLine(&cursor, end, line, sizeof line) || (value = ValueOf(line, "crc")) == nullptr) {
        return false;
    }
    read.HasCrc = strcmp(value, "-") != 0;
    if (read.HasCrc && !ParseHex32(value, &read.Crc)) {
        return false;
    }
    if (!NextLine(&cursor, end, line, sizeof line) ||
        (value = ValueOf(line, "sha256")) == nullptr) {
        return false;
    }
    read.HasDigest = strcmp(value, "-") != 0;
    if (read.HasDigest && !ReadHexBytes(value, strlen(value), read.Sha256, kSha256DigestSize)) {
        return false;
    }
    if (!NextLine(&cursor, end, line, sizeof line) || (value = ValueOf(line, "size")) == nullptr ||
        !ParseWholeNumber(value, &size) || size == 0) {
        return false;
    }
    read.Size = size;
    if (!NextLine(&cursor, end, line, sizeof line) ||
        (value = ValueOf(line, "validator")) == nullptr || *value == '\0' || !IsPrintable(value) ||
        strlen(value) >= sizeof read.Validator) {
        return false;
    }
    memcpy(read.Validator, value, strlen(value) + 1);
    if (!NextLine(&cursor, end, line, sizeof line) || strcmp(line, "end") != 0 || cursor != end) {
        return false;
    }
    *record = read;
    return true;
}

bool ChooseValidator(const char* etag, const char* lastModified, char* out, size_t cap) {
    // A strong entity tag is a quoted string; "W/" marks a weak one.
    const size_t tagLength = strlen(etag);
    if (tagLength >= 2 && etag[0] == '"' && etag[tagLength - 1] == '"' && IsPrintable(etag) &&
        FormatText(out, cap, "%s", etag)) {
        return true;
    }
    if (lastModified[0] != '\0' && IsPrintable(lastModified) &&
        FormatText(out, cap, "%s", lastModified)) {
        return true;
    }
    if (cap > 0) {
        out[0] = '\0';
    }
    return false;
}

bool ParseContentRange(const char* value, uint64_t* first, uint64_t* last, uint64_t* complete) {
    constexpr char kUnit[] = "bytes ";
    if (strncmp(value, kUnit, sizeof kUnit - 1) != 0) {
        return false;
    }
    const char* cursor = value + sizeof kUnit - 1;
    uint64_t a = 0;
    uint64_t b = 0;
    uint64_t c = 0;
    if (!TakeNumber(&cursor, '-', &a) || !TakeNumber(&cursor, '/', &b) ||
        !ParseWholeNumber(cursor, &c) || a > b || b >= c) {
        return false;
    }
    *first = a;
    *last = b;
    *complete = c;
    return true;
}
