// Writing a file so that the target is either unchanged or wholly replaced, also across a
// crash or a power cut.
#pragma once

#include <windows.h>

#include "net/byte_buffer.h"

// Writes content to "<targetPath>.part", then commits it over targetPath. Returns true when
// the target now holds exactly content; on failure the ".part" file is deleted and the
// target is as it was.
bool WriteFileAtomic(const char* targetPath, const ByteBuffer& content);

// Puts a fully written ".part" file in place: flushes it to the disk, closes part (on every
// path), and moves partPath over targetPath with a rename that is itself written through. A
// rename without the flush could leave, after a power cut, a target of the right size that
// holds zeros. False, with the ".part" file deleted and the target as it was, on failure.
bool CommitPartFile(HANDLE part, const char* partPath, const char* targetPath);

// Creates every folder along a local path (the levels before each backslash), so that a
// file below folders that do not exist yet can be written. Returns the length of the first
// level it created (the levels below it are new too), or the path's length when every level
// was there already.
size_t CreateFoldersAlong(char* localPath);

// Removes the levels CreateFoldersAlong created (firstCreated is what it returned), deepest
// first, as far as they are empty: for a file that was not written after all.
void RemoveFoldersAlong(char* localPath, size_t firstCreated);
