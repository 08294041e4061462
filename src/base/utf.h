// UTF-8 and UTF-16 conversion without the platform.
#pragma once

#include <cstddef>

// UTF-16 to UTF-8 as WideCharToMultiByte(CP_UTF8, 0) does: lone surrogates become U+FFFD.
// Converts up to and including the terminator; false when out (cap bytes) is too small.
bool Utf16ToUtf8(const char16_t* text, char* out, size_t cap);

// UTF-8 to UTF-16 as MultiByteToWideChar(CP_UTF8, 0) does: each maximal ill-formed
// subsequence becomes U+FFFD. Converts up to and including the first NUL byte; false when
// out (cap units) is too small.
bool Utf8ToUtf16(const char* text, char16_t* out, size_t cap);
