// Bounded 8-bit text in fixed buffers. Composing text has one idiom, FormatText, which
// refuses a result that does not fit instead of cutting it into a different text.
#pragma once

#include <cstddef>
#include <cstdint>

// A status-line text (8-bit, shown through SetStatus), terminator included.
constexpr size_t kStatusTextCapacity = 512;

// printf-style formatting into out (cap bytes). Returns false, leaving out empty, when the
// result would not fit or the format fails; nothing is ever written past cap.
bool FormatText(char* out, size_t cap, const char* format, ...)
#if defined(__clang__)
    __attribute__((format(printf, 3, 4)))
#elif defined(__GNUC__)
    __attribute__((format(gnu_printf, 3, 4))) // mingw's printf checks would be Microsoft's
#endif
    ;

// Writes "<a><b>" into out, or returns false with out empty when it does not fit.
bool ConcatBounded(char* out, size_t cap, const char* a, const char* b);

// Copies src into dst, cutting it to cap - 1 bytes; always terminates (cap > 0). Only for
// values whose field is defined to cut them (settings, the launcher's file name).
void CopyBounded(char* dst, size_t cap, const char* src);

// A whole decimal number: digits only (no sign, no blanks), at least one, and no more than
// fits in 64 bits. False, value untouched, for anything else.
bool ParseWholeNumber(const char* text, uint64_t* value);
