// The layout of a versioned update tree and the steps that change which version is live:
//   TREE/versions/<n>/{launcher,patch,downloads}  every version, complete
//   TREE/versions/<n>/record                      each file as the publisher wrote it
//   TREE/current -> versions/<n>                  the live version
//   TREE/launcher -> current/launcher, TREE/patch -> current/patch,
//   TREE/downloads -> current/downloads           the paths servers are pointed at
// A version is built under TREE/versions/.new-*, which no served path reaches, and made
// live by renaming a new TREE/current over the old one: one atomic step.
#pragma once

#include <string>
#include <vector>

constexpr const char* kServedFolders[] = {"launcher", "patch", "downloads"};
constexpr char kRecordName[] = "record";

std::string VersionDir(const std::string& tree, int number);

// The number of the version TREE/current names; 0 when there is no TREE/current, -1 when
// it names anything but an existing version.
int CurrentVersion(const std::string& tree);

// Whether each served folder is this publisher's link into TREE/current.
bool ServedFoldersAreLinks(const std::string& tree);

// Whether some served folder exists and is not such a link: a tree of an older qelt-publish
// (or one whose take-over was cut short).
bool NeedsTakeOver(const std::string& tree);

// The numbers of the finished versions, ascending.
std::vector<int> VersionNumbers(const std::string& tree);

// One publish or rollback at a time per tree (the lock file an older qelt-publish used
// too). Creates the tree when create is set. The lock lasts until *fd is closed.
bool LockTree(const std::string& tree, bool create, int* fd, std::string* error);

// What killed publishes and rollbacks left, never served: staging folders, versions newer
// than current, half-made links, folders swapped out by a take-over.
std::vector<std::string> Leftovers(const std::string& tree, int current);

// The versions before current but the keep - 1 newest of them: what goes to keep keep
// versions in all.
std::vector<std::string> Surplus(const std::string& tree, int current, int keep);

// A new, empty staging folder under TREE/versions.
bool MakeStage(const std::string& tree, std::string* stage, std::string* error);

// Flushes a staging folder (its files are flushed already) and the folders in it whose
// entries changed, and renames it to version number. Removes it on failure.
bool FinishVersion(const std::string& tree, const std::string& stage,
                   const std::vector<std::string>& dirs, int number, std::string* error);

// Makes version number live: the one atomic step. Then creates served links that are
// missing (a new tree).
bool SwitchTo(const std::string& tree, int number, std::string* error);

// Makes an older tree versioned without changing what is served at any moment: a version
// of hard links to what the served folders hold (version number) is made live, then each
// real folder is exchanged for its link in one step each.
bool TakeOver(const std::string& tree, int number, std::string* error);
