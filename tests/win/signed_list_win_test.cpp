// The signed list's platform half: signatures over the list's bytes checked with CNG (any
// one of several may be the launcher's key), and the sequence record in a real folder.
#include "update/signed_list_win.h"

#include <gtest/gtest.h>

#include <string>

#include "cng_test_key.h"
#include "crypto/sha256.h"
#include "test_files.h"
#include "update/state_files.h"

namespace {

const std::string kList = "qelt-files 1\nsequence 3\ncreated 2024-01-01T00:00:00Z\n";

std::string SignatureLineFor(const CngTestKey& key, const std::string& list) {
    unsigned char digest[kSha256DigestSize];
    ListSignature signature;
    if (!Sha256Of(list.data(), list.size(), digest) ||
        !SignWithCngTestKey(key, digest, signature.Bytes)) {
        return "";
    }
    return FormatSignatureLine(signature);
}

bool Verifies(const CngTestKey& key, const std::string& list, const std::string& signatures) {
    return SignedListVerifies(key.Public, list.data(), list.size(), signatures.data(),
                              signatures.size());
}

TEST(SignedListVerifies, AnySignatureByTheKeyOverTheExactBytes) {
    CngTestKey oldKey;
    CngTestKey newKey;
    ASSERT_TRUE(MakeCngTestKey(&oldKey));
    ASSERT_TRUE(MakeCngTestKey(&newKey));
    const std::string byOld = SignatureLineFor(oldKey, kList);
    const std::string byNew = SignatureLineFor(newKey, kList);
    ASSERT_FALSE(byOld.empty());
    ASSERT_FALSE(byNew.empty());

    // A key change: both launchers take the list with both signatures, in either order.
    EXPECT_TRUE(Verifies(oldKey, kList, byOld + byNew));
    EXPECT_TRUE(Verifies(newKey, kList, byOld + byNew));
    EXPECT_TRUE(Verifies(newKey, kList, "ed25519 abcd\n" + byNew));
    EXPECT_FALSE(Verifies(newKey, kList, byOld));
    // One byte more or less, or one changed, is another list.
    EXPECT_FALSE(Verifies(oldKey, kList + "\n", byOld));
    EXPECT_FALSE(Verifies(oldKey, kList.substr(0, kList.size() - 1), byOld));
    std::string edited = kList;
    edited[20] = '4'; // "sequence 4"
    EXPECT_FALSE(Verifies(oldKey, edited, byOld));
    // A signature file that is not one, however it ends.
    EXPECT_FALSE(Verifies(oldKey, kList, ""));
    EXPECT_FALSE(Verifies(oldKey, kList, byOld.substr(0, byOld.size() - 3) + "\n"));
    EXPECT_FALSE(Verifies(oldKey, kList, byOld + "garbage\n"));
    DestroyCngTestKey(&oldKey);
    DestroyCngTestKey(&newKey);
}

class SequenceRecordTest : public ::testing::Test {
  protected:
    void SetUp() override { dir_ = MakeScratchDir("sequence"); }
    void TearDown() override { RemoveTree(dir_); }
    std::string RecordPath() const { return dir_ + "\\" + kUpdateSequenceName; }
    std::string dir_;
};

TEST_F(SequenceRecordTest, MissingIsZeroWrittenIsReadBackDamagedIsNoRecord) {
    uint64_t sequence = 77;
    ASSERT_TRUE(ReadAcceptedSequence(dir_.c_str(), &sequence));
    EXPECT_EQ(sequence, 0u);

    ASSERT_TRUE(WriteAcceptedSequence(dir_.c_str(), 18446744073709551615ull));
    ASSERT_TRUE(ReadAcceptedSequence(dir_.c_str(), &sequence));
    EXPECT_EQ(sequence, 18446744073709551615ull);
    ASSERT_TRUE(WriteAcceptedSequence(dir_.c_str(), 12));
    ASSERT_TRUE(ReadAcceptedSequence(dir_.c_str(), &sequence));
    EXPECT_EQ(sequence, 12u);
    EXPECT_EQ(ListFolder(dir_), std::vector<std::string>{kUpdateSequenceName});

    // A record that is not one is an error, never 0: that would let an older list back in.
    for (const char* damaged :
         {"", "12", "12\n\n", "x\n", "123456789012345678901\n", "1234567890123456789012345\n"}) {
        ASSERT_TRUE(WriteWholeFile(RecordPath(), damaged));
        sequence = 5;
        EXPECT_FALSE(ReadAcceptedSequence(dir_.c_str(), &sequence)) << damaged;
        EXPECT_EQ(sequence, 5u);
    }
    // A folder in its place cannot be read either.
    ASSERT_TRUE(DeleteFileA(RecordPath().c_str()));
    ASSERT_TRUE(CreateDirectoryA(RecordPath().c_str(), nullptr));
    EXPECT_FALSE(ReadAcceptedSequence(dir_.c_str(), &sequence));
}

} // namespace
