// libFuzzer entry for the signed list and the signature file: any bytes must parse without
// fault, and a list that is taken must come back the same through the writer.
#include "update/signed_list.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SignedList list;
    if (ParseSignedList(data, size, "", &list)) {
        const std::string text = FormatSignedList(list);
        SignedList again;
        if (!ParseSignedList(text.data(), text.size(), "", &again) ||
            FormatSignedList(again) != text || again.Entries.size() != list.Entries.size()) {
            abort();
        }
    }
    std::vector<ListSignature> signatures;
    if (ParseSignatures(data, size, &signatures) &&
        (signatures.empty() || signatures.size() > kSignaturesMaxLines)) {
        abort();
    }
    return 0;
}
