// The launcher's crypto on CNG: SHA-256 against the standard's own examples, whole, in
// uneven pieces and handed over buffer by buffer to its second thread; P-256 signatures
// CNG itself makes with fresh key pairs (the cross-check with OpenSSL's signatures is
// tests/tools/common/signing_agreement.sh).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cng_test_key.h"
#include "crypto/sha256.h"
#include "crypto/sha256_overlap.h"
#include "crypto/signature.h"

namespace {

std::string Hex(const unsigned char* bytes, size_t count) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

std::string DigestOf(const std::string& data) {
    unsigned char digest[kSha256DigestSize];
    EXPECT_TRUE(Sha256Of(data.data(), data.size(), digest));
    return Hex(digest, sizeof digest);
}

// FIPS 180-2, appendix B.
const char kAbc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const char kOneMillionA[] = "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";

TEST(Sha256, StandardExamples) {
    EXPECT_EQ(DigestOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(DigestOf("abc"), kAbc);
    EXPECT_EQ(DigestOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(DigestOf(std::string(1000000, 'a')), kOneMillionA);
}

TEST(Sha256, PiecesOfAnySizeGiveTheDigestOfTheWhole) {
    const std::string data(1000000, 'a');
    // Around the 64-byte block and the 32 KiB download chunk, and empty pieces between.
    const size_t pieces[] = {1, 0, 63, 64, 65, 0, 32767, 32768, 32769, 4095};
    Sha256Hash hash;
    ASSERT_TRUE(Sha256Begin(&hash));
    size_t at = 0;
    for (size_t k = 0; at < data.size(); ++k) {
        const size_t length =
            std::min(pieces[k % (sizeof pieces / sizeof pieces[0])], data.size() - at);
        ASSERT_TRUE(Sha256Add(&hash, data.data() + at, length));
        at += length;
    }
    unsigned char digest[kSha256DigestSize];
    ASSERT_TRUE(Sha256Finish(&hash, digest));
    EXPECT_EQ(Hex(digest, sizeof digest), kOneMillionA);
    // Finished means closed: the hash takes nothing more.
    EXPECT_EQ(hash.Handle, nullptr);
    EXPECT_FALSE(Sha256Add(&hash, "x", 1));
    EXPECT_FALSE(Sha256Finish(&hash, digest));

    // Two digests at once do not mix, and an abandoned one leaves nothing open.
    Sha256Hash first;
    Sha256Hash second;
    ASSERT_TRUE(Sha256Begin(&first));
    ASSERT_TRUE(Sha256Begin(&second));
    ASSERT_TRUE(Sha256Add(&first, "ab", 2));
    ASSERT_TRUE(Sha256Add(&second, "xyz", 3));
    ASSERT_TRUE(Sha256Add(&first, "c", 1));
    Sha256Abandon(&second);
    EXPECT_EQ(second.Handle, nullptr);
    Sha256Abandon(&second);
    ASSERT_TRUE(Sha256Finish(&first, digest));
    EXPECT_EQ(Hex(digest, sizeof digest), kAbc);
}

// As a download uses it: two buffers, each refilled as soon as the other is handed over, so
// a buffer read by the thread after it was handed back would change the digest.
TEST(Sha256, BuffersHandedToTheSecondThreadGiveTheDigestOfTheWhole) {
    constexpr size_t kBuffer = 65536;
    const std::string data(1000000, 'a');
    std::string buffers[2] = {std::string(kBuffer, '\0'), std::string(kBuffer, '\0')};
    for (size_t last : {size_t{0}, size_t{1}, kBuffer - 1}) {
        Sha256Overlap hash;
        ASSERT_TRUE(Sha256OverlapBegin(&hash));
        size_t at = 0;
        for (int turn = 0; data.size() - at > last; turn ^= 1) {
            const size_t length = std::min(kBuffer, data.size() - at - last);
            buffers[turn].assign(data, at, length);
            Sha256OverlapHand(&hash, buffers[turn].data(), length);
            buffers[turn ^ 1].assign(kBuffer, 'x'); // the other one is free again
            at += length;
        }
        EXPECT_NE(hash.Thread, nullptr);
        unsigned char digest[kSha256DigestSize];
        ASSERT_TRUE(Sha256OverlapFinish(&hash, data.data() + at, last, digest));
        EXPECT_EQ(Hex(digest, sizeof digest), kOneMillionA) << last;
        EXPECT_EQ(hash.Thread, nullptr);
    }
    // Abandoned while the thread holds a buffer, and before any thread: nothing stays open.
    Sha256Overlap abandoned;
    ASSERT_TRUE(Sha256OverlapBegin(&abandoned));
    Sha256OverlapHand(&abandoned, data.data(), data.size());
    Sha256OverlapAbandon(&abandoned);
    EXPECT_EQ(abandoned.Thread, nullptr);
    EXPECT_EQ(abandoned.Hash.Handle, nullptr);
    ASSERT_TRUE(Sha256OverlapBegin(&abandoned));
    Sha256OverlapAbandon(&abandoned);
    EXPECT_EQ(abandoned.Hash.Handle, nullptr);
}

class SignatureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(MakeCngTestKey(&key_));
        ASSERT_TRUE(MakeCngTestKey(&other_));
        ASSERT_TRUE(Sha256Of("a list", 6, digest_));
        ASSERT_TRUE(SignWithCngTestKey(key_, digest_, signature_));
    }
    void TearDown() override {
        DestroyCngTestKey(&key_);
        DestroyCngTestKey(&other_);
    }

    CngTestKey key_;
    CngTestKey other_;
    unsigned char digest_[kP256DigestSize];
    unsigned char signature_[kP256SignatureSize];
};

TEST_F(SignatureTest, OnlyTheSignedDigestUnderItsOwnKeyVerifies) {
    EXPECT_TRUE(VerifyP256Signature(key_.Public, digest_, signature_));
    EXPECT_FALSE(VerifyP256Signature(other_.Public, digest_, signature_));

    unsigned char digest[kP256DigestSize];
    memcpy(digest, digest_, sizeof digest);
    digest[31] ^= 1;
    EXPECT_FALSE(VerifyP256Signature(key_.Public, digest, signature_));

    // A changed bit in r and in s; r and s swapped; all zero.
    for (size_t flip : {0u, 63u}) {
        unsigned char signature[kP256SignatureSize];
        memcpy(signature, signature_, sizeof signature);
        signature[flip] ^= 0x80;
        EXPECT_FALSE(VerifyP256Signature(key_.Public, digest_, signature)) << flip;
    }
    unsigned char swapped[kP256SignatureSize];
    memcpy(swapped, signature_ + 32, 32);
    memcpy(swapped + 32, signature_, 32);
    EXPECT_FALSE(VerifyP256Signature(key_.Public, digest_, swapped));
    const unsigned char zero[kP256SignatureSize] = {};
    EXPECT_FALSE(VerifyP256Signature(key_.Public, digest_, zero));
}

TEST_F(SignatureTest, KeyOffTheCurveIsRefused) {
    unsigned char offCurve[kP256PublicKeySize];
    memcpy(offCurve, key_.Public, sizeof offCurve);
    offCurve[63] ^= 1; // y changed: the point is no longer on P-256
    EXPECT_FALSE(VerifyP256Signature(offCurve, digest_, signature_));
    const unsigned char zero[kP256PublicKeySize] = {};
    EXPECT_FALSE(VerifyP256Signature(zero, digest_, signature_));
}

} // namespace
