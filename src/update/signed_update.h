// The launcher's side of signed updates: the signed list taken only when the operator's key
// signed it and its sequence number has not gone down, the entries it gives the patch loop,
// and what each downloaded body must then be.
#pragma once

#include <vector>

#include "net/http_download.h"
#include "update/manifest.h"
#include "update/signed_list.h"

enum class SignedListResult {
    Taken,       // signed by the UpdateKey, not older than the last list taken, recorded
    Unreachable, // no answer from the server at all
    Refused,     // anything else: no list, no signature by the key, an older sequence number,
                 // a list that breaks a rule, an UpdateKey that is no key, a damaged record
    NotRecorded, // taken, but its sequence number could not be recorded
};

// Fetches launcher/files.txt and launcher/files.sig below UpdateUrl (each bounded) and
// checks them against UpdateKey and the sequence record (update/state_files.h), which it
// raises when the list is newer. Shows why on the status line unless Taken; writes nothing
// but the record.
SignedListResult TakeSignedList(SignedList* list);

// The list's files as the patch loop takes them, in the list's order, each with its size
// and SHA-256.
std::vector<ManifestEntry> SignedEntries(const SignedList& list);

// What a download for entry must be before it replaces anything.
ExpectedBody ExpectedBodyOf(const ManifestEntry& entry);
