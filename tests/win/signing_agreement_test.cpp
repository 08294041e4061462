// The launcher's CNG code checks what the operator's OpenSSL code signed: a folder written
// by tests/tools/common/signing_sample (fresh keys each run) is handed in by
// signing_agreement.sh as the one argument. Not a CTest test: it needs the native build.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "test_files.h"
#include "update/signed_list_win.h"

namespace {

std::string g_Samples;

std::string Sample(const char* name) {
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(g_Samples + "\\" + name, &bytes)) << name;
    return bytes;
}

bool Verifies(const std::string& keyText, const std::string& list, const std::string& signatures) {
    unsigned char key[kUpdateKeySize];
    return ParseUpdateKey(keyText.c_str(), key) &&
           SignedListVerifies(key, list.data(), list.size(), signatures.data(), signatures.size());
}

TEST(SigningAgreement, OperatorSignaturesVerify) {
    const std::string list = Sample("files.txt");
    SignedList parsed;
    ASSERT_TRUE(ParseSignedList(list.data(), list.size(), "C:\\Games\\Qelt", &parsed));
    EXPECT_EQ(parsed.Sequence, 12u);
    EXPECT_EQ(parsed.Entries.size(), 3u);
    EXPECT_TRUE(Verifies(Sample("key.txt"), list, Sample("files.sig")));
    // r, then s, shorter than 32 bytes before padding.
    EXPECT_TRUE(Verifies(Sample("key.txt"), list, Sample("short-r.sig")));
    EXPECT_TRUE(Verifies(Sample("key.txt"), list, Sample("short-s.sig")));
    // A key change: the list signed by both keys is taken under either.
    EXPECT_TRUE(Verifies(Sample("key.txt"), list, Sample("rotation.sig")));
    EXPECT_TRUE(Verifies(Sample("other.txt"), list, Sample("rotation.sig")));
}

TEST(SigningAgreement, AnythingElseIsRefused) {
    const std::string key = Sample("key.txt");
    const std::string list = Sample("files.txt");
    const std::string signatures = Sample("files.sig");
    ASSERT_TRUE(Verifies(key, list, signatures));

    EXPECT_FALSE(Verifies(key, list, Sample("other.sig"))) << "another key's signature";
    EXPECT_FALSE(Verifies(Sample("other.txt"), list, signatures)) << "another launcher's key";
    for (size_t at : {size_t{0}, list.size() / 2, list.size() - 2}) {
        std::string edited = list;
        edited[at] ^= 0x01;
        EXPECT_FALSE(Verifies(key, edited, signatures)) << "byte " << at << " edited";
    }
    EXPECT_FALSE(Verifies(key, list.substr(0, list.size() - 1), signatures)) << "list cut";
    // The signature line cut by two digits, and with one digit changed.
    std::string cut = signatures.substr(0, signatures.size() - 3) + "\n";
    EXPECT_FALSE(Verifies(key, list, cut)) << "signature cut";
    std::string changed = signatures;
    changed[20] = changed[20] == '0' ? '1' : '0';
    EXPECT_FALSE(Verifies(key, list, changed)) << "signature changed";
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        fprintf(stderr, "usage: qelt_signing_agreement_tests [gtest options] SAMPLES_DIR\n");
        return 2;
    }
    g_Samples = argv[1];
    return RUN_ALL_TESTS();
}
