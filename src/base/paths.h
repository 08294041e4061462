// Bounded string and path helpers shared by every subsystem: nothing is ever written past
// a buffer, and a path that does not fit is refused instead of being cut.
#pragma once

#include <cstddef>

constexpr size_t kPathCapacity = 260; // MAX_PATH, terminator included

// Copies src into dst, cutting it to cap - 1 bytes; always terminates (cap > 0).
void CopyBounded(char* dst, size_t cap, const char* src);

// Writes "<dir>\<name>" into out. Returns false, leaving out empty, when it does not fit.
bool JoinPath(char* out, size_t cap, const char* dir, const char* name);

// Writes "<a><b>" into out, or returns false with out empty when it does not fit.
bool ConcatBounded(char* out, size_t cap, const char* a, const char* b);

// Splits a module path at its last backslash into the folder (refused if it does not fit)
// and the file name (cut to nameCap - 1 bytes). A path without a backslash gives an empty
// folder and the whole text as the name.
bool SplitModulePath(const char* modulePath, char* dir, size_t dirCap, char* name, size_t nameCap);

// True when the command line holds "-updated" anywhere (case-sensitive, no word bounds).
bool CommandLineHasUpdated(const char* commandLine);

// Turns every '/' into '\' in place.
void ToBackslashes(char* path);
