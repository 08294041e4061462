// Which names a Windows launcher can fetch and create: one set of rules for the publisher,
// the package builder and the package's extractor (built with mingw, so plain C++ only).
#pragma once

#include <string>
#include <utility>
#include <vector>

// Why a relative path ('/' separators, UTF-8) cannot be a client file on Windows, or ""
// when it can: too long, not UTF-8, a character Windows or the URL refuses, a component
// Windows drops or reads as a device (CON, CONIN$, COM1, COM¹, ... with any extension).
std::string NameProblem(const std::string& path);

// The name under which Windows finds a path regardless of letter case; two paths with the
// same key are one file there.
using CaseKeyFunction = std::string (*)(const std::string& path);

// Pairs of paths that are one file on Windows: the same name twice, names equal under
// key, and a file that is also a folder of another path (named as "Data" and "data/x").
// Folders equal under key merge harmlessly and are not named. Each pair once, sorted.
std::vector<std::pair<std::string, std::string>>
CaseCollisions(const std::vector<std::string>& paths, CaseKeyFunction key);
