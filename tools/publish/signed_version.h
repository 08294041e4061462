// Signed publishing: the sequence numbers issued into a tree, the signed list of a version,
// what of the live version's list a publish may keep, and the version a signed rollback
// makes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "live_version.h"
#include "publish.h"
#include "update/signed_list.h"

// The highest sequence number issued into tree: the larger of the tree's record of it and
// every version's list (a record lost with a copy of the tree). False, with the reason, when
// the record is damaged.
bool IssuedSequence(const std::string& tree, const LiveVersion& live, uint64_t* highest,
                    std::string* error);

// Records sequence as issued before a version carrying it can go live: written beside the
// versions under another name, flushed and renamed over the record.
bool RecordIssuedSequence(const std::string& tree, uint64_t sequence, std::string* error);

// The list of a version's files (the package from --package among them).
SignedList ListOfFiles(const std::vector<VersionFile>& files, uint64_t sequence);

// The package line of a package that carries over from the live version: from the live
// list when one of keys signed it (so what the tree holds now is never what gets signed),
// else the file is read and hashed, with a warning. No line when there is no package.
bool CarryPackage(const LiveVersion& live, const std::vector<EVP_PKEY*>& keys, SignedList* list,
                  std::string* error);

// Whether the live list is the one this publish would write (list, but for its sequence
// number and time), signed by exactly keys.
bool LiveListIsSame(const LiveVersion& live, SignedList list, const std::vector<EVP_PKEY*>& keys);

// Signs list with keys into stage/launcher/files.txt and files.sig.
bool WriteSignedList(const std::string& stage, const SignedList& list,
                     const std::vector<EVP_PKEY*>& keys, std::string* error);

// The version a signed rollback makes live: number, hard links to every file of version
// previous, and its list under sequence, signed by keys. kRefused when that list is missing
// or verifies under none of keys, kWriteFailed when the version cannot be made; the reason
// in *error and nothing left either way.
int MakeResignedVersion(const std::string& tree, int previous, int number, uint64_t sequence,
                        const std::vector<EVP_PKEY*>& keys, std::string* error);
