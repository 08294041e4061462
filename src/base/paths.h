// Paths in the system code page: nothing is ever written past a buffer, and a path that
// does not fit is refused instead of being cut into a different path.
#pragma once

#include <cstddef>

constexpr size_t kPathCapacity = 260; // MAX_PATH, terminator included

// Writes "<dir>\<name>" into out. Returns false, leaving out empty, when it does not fit.
bool JoinPath(char* out, size_t cap, const char* dir, const char* name);

// Splits a module path at its last backslash into the folder (refused if it does not fit)
// and the file name (cut to nameCap - 1 bytes). A path without a backslash gives an empty
// folder and the whole text as the name.
bool SplitModulePath(const char* modulePath, char* dir, size_t dirCap, char* name, size_t nameCap);

// Turns every '/' into '\' in place.
void ToBackslashes(char* path);

// Writes "<dir>\<manifestPath>" into out with every '/' turned into '\'. Returns false,
// leaving out empty, when it does not fit.
bool LocalPathOf(char* out, size_t cap, const char* dir, const char* manifestPath);
