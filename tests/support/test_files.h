// File helpers for the Win32 test programs: scratch folders, whole-file read and write.
#pragma once

#include <windows.h>

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

// Opens an existing file with no sharing, as a virus scanner may hold a program written a
// moment ago: until it is let go nobody else can open the file, nor start it.
HANDLE HoldExclusively(const std::string& path);
// Closes file after delayMs on a thread of its own; returns that thread, null when it
// could not start (the file is then closed at once).
HANDLE LetGoLater(HANDLE file, DWORD delayMs);

// Folder of the running test program.
std::string ProgramDir();
