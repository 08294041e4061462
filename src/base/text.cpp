// Bounded text: the one formatting idiom and the copies built on it.
#include "base/text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

bool FormatText(char* out, size_t cap, const char* format, ...) {
    if (cap == 0) {
        return false;
    }
    va_list args;
    va_start(args, format);
    int n = vsnprintf(out, cap, format, args);
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= cap) {
        out[0] = '\0';
        return false;
    }
    return true;
}

bool ConcatBounded(char* out, size_t cap, const char* a, const char* b) {
    return FormatText(out, cap, "%s%s", a, b);
}

void CopyBounded(char* dst, size_t cap, const char* src) {
    if (cap == 0) {
        return;
    }
    size_t n = strnlen(src, cap - 1);
    memcpy(dst, src, n);
    dst[n] = '\0';
}

bool ParseWholeNumber(const char* text, uint64_t* value) {
    if (*text == '\0') {
        return false;
    }
    uint64_t number = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
        const unsigned digit = static_cast<unsigned>(*p - '0');
        if (number > (UINT64_MAX - digit) / 10) {
            return false;
        }
        number = number * 10 + digit;
    }
    *value = number;
    return true;
}
