// SHA-256 on CNG against the standard's own examples, fed whole and in uneven pieces.
#include "crypto/sha256.h"

#include <gtest/gtest.h>

#include <string>

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
const char kOneMillionA[] = "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";

TEST(Sha256, StandardExamples) {
    EXPECT_EQ(DigestOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(DigestOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
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
    EXPECT_EQ(Hex(digest, sizeof digest),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

} // namespace
