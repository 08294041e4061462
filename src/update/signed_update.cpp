// Taking the signed list: key, list, signatures, rules, sequence number, in that order; the
// first failure refuses the whole update, and nothing of it is written.
#include "update/signed_update.h"

#include <cstring>

#include "base/text.h"
#include "net/http_request.h"
#include "system/launcher_state.h"
#include "ui/window_ops.h"
#include "update/signed_list_win.h"
#include "update/state_files.h"
#include "update/update_texts.h"

namespace {

// GET of a bounded body below UpdateUrl; the status, 0 when no answer came (or the URL is
// too long to ask, as for the manifest).
int FetchUpTo(const char* treePath, ByteBuffer& body, size_t most) {
    char url[kUrlCapacity];
    if (!FormatText(url, sizeof url, "%s/%s", g_Launcher.Config.UpdateUrl, treePath)) {
        return 0;
    }
    return HttpRequestUpTo(url, body, most);
}

SignedListResult Checked(const unsigned char key[kUpdateKeySize], SignedList* list) {
    ByteBuffer body;
    ByteBuffer signatures;
    const int listStatus = FetchUpTo(kSignedListTreePath, body, kSignedListMaxBytes);
    if (listStatus == 0) {
        return SignedListResult::Unreachable;
    }
    if (listStatus != 200 ||
        FetchUpTo(kSignaturesTreePath, signatures, kSignaturesMaxBytes) != 200 ||
        !SignedListVerifies(key, body.data(), body.size(), signatures.data(), signatures.size()) ||
        !ParseSignedList(body.data(), body.size(), g_Launcher.LauncherDir, list)) {
        return SignedListResult::Refused;
    }
    // A record that cannot be read might have held a higher number: refused, never taken as 0.
    uint64_t accepted = 0;
    if (!ReadAcceptedSequence(g_Launcher.LauncherDir, &accepted) || list->Sequence < accepted) {
        return SignedListResult::Refused;
    }
    if (list->Sequence > accepted &&
        !WriteAcceptedSequence(g_Launcher.LauncherDir, list->Sequence)) {
        return SignedListResult::NotRecorded;
    }
    return SignedListResult::Taken;
}

} // namespace

SignedListResult TakeSignedList(SignedList* list) {
    unsigned char key[kUpdateKeySize];
    SignedListResult result = SignedListResult::Refused;
    if (ParseUpdateKey(g_Launcher.Config.UpdateKey, key)) {
        result = Checked(key, list);
    }
    char text[kStatusTextCapacity];
    switch (result) {
    case SignedListResult::Taken: break;
    case SignedListResult::Unreachable: SetStatus(kTextUpdateServerUnreachable); break;
    case SignedListResult::Refused: SetStatus(kTextUnsignedUpdate); break;
    case SignedListResult::NotRecorded:
        FormatText(text, sizeof text, kFormatWriteFailed, kUpdateSequenceName);
        SetStatus(text);
        break;
    }
    return result;
}

std::vector<ManifestEntry> SignedEntries(const SignedList& list) {
    std::vector<ManifestEntry> entries;
    entries.reserve(list.Entries.size());
    for (const SignedListEntry& file : list.Entries) {
        ManifestEntry entry;
        entry.Path = file.Path;
        entry.Crc = file.Crc;
        entry.HasDigest = true;
        entry.Size = file.Size;
        memcpy(entry.Sha256, file.Sha256, kSha256Size);
        entries.push_back(std::move(entry));
    }
    return entries;
}

ExpectedBody ExpectedBodyOf(const ManifestEntry& entry) {
    ExpectedBody expected = {true, entry.Crc};
    if (entry.HasDigest) {
        expected.HasDigest = true;
        expected.Size = entry.Size;
        memcpy(expected.Sha256, entry.Sha256, kSha256Size);
    }
    return expected;
}
