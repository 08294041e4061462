// UTF-8 and UTF-16 conversion without the platform, giving what the platform's own
// conversion gives (ill-formed input becomes U+FFFD in the same places).
#include "base/utf.h"

#include <cstdint>

namespace {

// Appends the UTF-8 form of one code point; false when it does not fit.
bool PutUtf8(uint32_t cp, char* out, size_t cap, size_t* n) {
    unsigned char bytes[4];
    size_t count;
    if (cp < 0x80) {
        bytes[0] = static_cast<unsigned char>(cp);
        count = 1;
    } else if (cp < 0x800) {
        bytes[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        bytes[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        count = 2;
    } else if (cp < 0x10000) {
        bytes[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        bytes[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        bytes[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        count = 3;
    } else {
        bytes[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
        bytes[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
        bytes[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        bytes[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        count = 4;
    }
    if (*n + count > cap) {
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        out[(*n)++] = static_cast<char>(bytes[i]);
    }
    return true;
}

bool PutUtf16(uint32_t cp, char16_t* out, size_t cap, size_t* n) {
    if (cp < 0x10000) {
        if (*n + 1 > cap) {
            return false;
        }
        out[(*n)++] = static_cast<char16_t>(cp);
        return true;
    }
    if (*n + 2 > cap) {
        return false;
    }
    cp -= 0x10000;
    out[(*n)++] = static_cast<char16_t>(0xD800 + (cp >> 10));
    out[(*n)++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    return true;
}

// Length of the well-formed UTF-8 sequence at s, or of its maximal ill-formed prefix
// (at least 1) with *valid false. The terminator is never consumed as a trail byte.
size_t DecodeUtf8(const unsigned char* s, uint32_t* cp, bool* valid) {
    const unsigned char b = s[0];
    *valid = false;
    if (b < 0x80) {
        *cp = b;
        *valid = true;
        return 1;
    }
    size_t need;
    uint32_t value;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        need = 1;
        value = b & 0x1Fu;
    } else if (b >= 0xE0 && b <= 0xEF) {
        need = 2;
        value = b & 0x0Fu;
        if (b == 0xE0) {
            lo = 0xA0;
        } else if (b == 0xED) {
            hi = 0x9F; // no surrogates
        }
    } else if (b >= 0xF0 && b <= 0xF4) {
        need = 3;
        value = b & 0x07u;
        if (b == 0xF0) {
            lo = 0x90;
        } else if (b == 0xF4) {
            hi = 0x8F;
        }
    } else {
        return 1;
    }
    for (size_t i = 1; i <= need; ++i) {
        const unsigned char t = s[i];
        if (t < lo || t > hi) {
            return i;
        }
        lo = 0x80;
        hi = 0xBF;
        value = (value << 6) | (t & 0x3Fu);
    }
    *cp = value;
    *valid = true;
    return need + 1;
}

} // namespace

bool Utf16ToUtf8(const char16_t* text, char* out, size_t cap) {
    size_t n = 0;
    for (size_t i = 0;; ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (!PutUtf8(cp, out, cap, &n)) {
            return false;
        }
        if (cp == 0) {
            return true;
        }
    }
}

bool Utf8ToUtf16(const char* text, char16_t* out, size_t cap) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    size_t n = 0;
    for (;;) {
        uint32_t cp = 0;
        bool valid = false;
        size_t used = DecodeUtf8(s, &cp, &valid);
        if (!PutUtf16(valid ? cp : 0xFFFDu, out, cap, &n)) {
            return false;
        }
        if (valid && cp == 0) {
            return true;
        }
        s += used;
    }
}
