// CRC-32 check values, table entries and agreement with zlib's crc32.
#include "update/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

class Crc32Test : public ::testing::Test {
  protected:
    void SetUp() override { BuildCrc32Table(); }
};

TEST_F(Crc32Test, TableEntriesMatchThePolynomial) {
    EXPECT_EQ(Crc32Table[0], 0x00000000u);
    EXPECT_EQ(Crc32Table[1], 0x77073096u);
    EXPECT_EQ(Crc32Table[128], 0xEDB88320u);
    EXPECT_EQ(Crc32Table[255], 0x2D02EF8Du);
    const z_crc_t* zlibTable = get_crc_table();
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(Crc32Table[i], zlibTable[i]) << "entry " << i;
    }
}

TEST_F(Crc32Test, CheckValues) {
    EXPECT_EQ(BufferChecksum("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(BufferChecksum("abc", 3), 0x352441C2u);
    EXPECT_EQ(BufferChecksum("", 0), 0x00000000u);
    EXPECT_EQ(BufferChecksum(nullptr, 0), 0x00000000u);
}

TEST_F(Crc32Test, LargeBufferAgreesWithZlib) {
    std::vector<unsigned char> data(5 * 1024 * 1024 + 13);
    std::mt19937 random(42);
    for (auto& b : data) {
        b = static_cast<unsigned char>(random());
    }
    uLong expected = crc32(0L, data.data(), static_cast<uInt>(data.size()));
    EXPECT_EQ(BufferChecksum(data.data(), data.size()), expected);
}

TEST_F(Crc32Test, PiecewiseUpdateEqualsWholeBuffer) {
    const char text[] = "The quick brown fox jumps over the lazy dog";
    const size_t n = strlen(text);
    for (size_t cut = 0; cut <= n; ++cut) {
        uint32_t crc = Crc32Update(0xFFFFFFFFu, text, cut);
        crc = Crc32Update(crc, text + cut, n - cut);
        ASSERT_EQ(crc ^ 0xFFFFFFFFu, 0x414FA339u) << "cut at " << cut;
    }
}

} // namespace
