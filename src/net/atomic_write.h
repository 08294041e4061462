// Writing a file so that the target is either unchanged or wholly replaced.
#pragma once

#include "net/byte_buffer.h"

// Writes content to "<targetPath>.part", then moves it over targetPath. Returns true when
// the target now holds exactly content; on failure the ".part" file is deleted and the
// target is as it was.
bool WriteFileAtomic(const char* targetPath, const ByteBuffer& content);

// Creates every folder along a local path (the levels before each backslash), so that a
// file below folders that do not exist yet can be written.
void CreateFoldersAlong(char* localPath);
