// File helpers for the Win32 test programs: scratch folders, whole-file read and write.
#pragma once

#include <string>
#include <vector>

// Creates a new empty folder under the temporary folder and returns its path.
std::string MakeScratchDir(const char* tag);

// Deletes a folder and everything below it (best effort).
void RemoveTree(const std::string& path);

bool WriteWholeFile(const std::string& path, const std::string& bytes);
bool ReadWholeFile(const std::string& path, std::string* bytes);
bool FileExists(const std::string& path);

// Names in a folder, sorted, without "." and "..".
std::vector<std::string> ListFolder(const std::string& dir);

// Folder of the running test program.
std::string ProgramDir();
