// Hexadecimal digits: the server's percent-decoding, and the digests, keys and signatures
// written as text (the signed list, the resume record, the publisher's record).
#pragma once

#include <cstddef>
#include <string>

// 0-15, or -1 when c is not a hexadecimal digit (either letter case).
inline int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Exactly 2 * count digits (length bytes of text, either case) into count bytes; out is
// left alone when they are not.
inline bool ReadHexBytes(const char* text, size_t length, unsigned char* out, size_t count) {
    if (length != 2 * count) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (HexValue(text[i]) < 0) {
            return false;
        }
    }
    for (size_t i = 0; i < count; ++i) {
        out[i] = static_cast<unsigned char>(HexValue(text[2 * i]) * 16 + HexValue(text[2 * i + 1]));
    }
    return true;
}

// count bytes as 2 * count lower-case digits.
inline void AppendHexBytes(std::string* out, const unsigned char* bytes, size_t count) {
    static const char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < count; ++i) {
        out->push_back(kDigits[bytes[i] >> 4]);
        out->push_back(kDigits[bytes[i] & 15]);
    }
}
