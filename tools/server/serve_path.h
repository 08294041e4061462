// Which file of the update tree a request path names, and the byte range it asks for.
#pragma once

#include <cstdint>
#include <string>

struct ServedPath {
    std::string Top;      // "launcher", "patch" or "downloads"
    std::string Relative; // Top and the rest, joined by "/", e.g. "patch/data/map1.att"
};

// Decodes a request path as sent (percent escapes still in it) and maps it into one of the
// served folders. "\" and "%5C" count as "/" (WinHTTP escapes a manifest path's
// backslashes), empty segments are dropped. False for %00, a malformed escape, a segment
// that starts with "." (".", "..", and dot files such as .git or .htpasswd), or a path
// outside the three folders: the answer is then 404.
bool MapRequestPath(const char* raw, ServedPath* path);

// Opens the file for reading; -1 when it does not exist or lies outside. The folder
// root/top may be a relative symlink that stays inside root (a published tree links
// patch -> current/patch, current -> versions/7); below it, symlinks are followed only
// while they stay inside that folder. Absolute symlinks are never followed. The kernel
// resolves each step beneath the folder it started from, so a symlink swapped in between
// cannot lead it out.
int OpenServedFile(const std::string& root, const ServedPath& path);

enum class RangeResult { Satisfiable, Unsatisfiable, Ignored };

// One "bytes=A-B", "bytes=A-" or "bytes=-N" range of a file of size bytes. Several ranges
// or an unknown unit are ignored (the whole file is sent, as HTTP allows).
RangeResult ParseByteRange(const char* header, uint64_t size, uint64_t* first, uint64_t* length);
