// VerifyP256Signature against signatures CNG itself makes with a fresh key pair; the
// cross-check with OpenSSL's signatures is tests/tools/common/signing_agreement.sh.
#include "crypto/signature.h"

#include <gtest/gtest.h>

#include <cstring>

#include "cng_test_key.h"
#include "crypto/sha256.h"

namespace {

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
