// Byte buffer appends: content, geometric growth and refusal without change.
#include "net/byte_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

ByteBuffer Bytes(const std::string& text) {
    return ByteBuffer(text.begin(), text.end());
}

TEST(AppendBytes, AppendsInOrderAndIgnoresEmptyPieces) {
    ByteBuffer buffer;
    EXPECT_TRUE(AppendBytes(buffer, "abc", 3));
    EXPECT_TRUE(AppendBytes(buffer, nullptr, 0));
    EXPECT_TRUE(AppendBytes(buffer, "", 0));
    EXPECT_TRUE(AppendBytes(buffer, "de\0f", 4));
    EXPECT_EQ(buffer, Bytes(std::string("abcde\0f", 7)));
}

TEST(AppendBytes, GrowsByHalfOrToTheSizeNeeded) {
    ByteBuffer buffer;
    std::string piece(100, 'x');
    ASSERT_TRUE(AppendBytes(buffer, piece.data(), 100));
    EXPECT_EQ(buffer.capacity(), 100u); // nothing yet to grow by half of
    ASSERT_TRUE(AppendBytes(buffer, piece.data(), 10));
    EXPECT_EQ(buffer.capacity(), 150u);
    ASSERT_TRUE(AppendBytes(buffer, piece.data(), 40)); // fits exactly
    EXPECT_EQ(buffer.capacity(), 150u);
    ASSERT_TRUE(AppendBytes(buffer, piece.data(), 100)); // half is not enough
    EXPECT_EQ(buffer.capacity(), 250u);
    EXPECT_EQ(buffer.size(), 250u);
}

TEST(AppendBytes, ChunkedAppendsReallocateLogarithmically) {
    ByteBuffer buffer;
    std::string chunk(32768, 'c');
    int reallocations = 0;
    const unsigned char* last = nullptr;
    for (int i = 0; i < 1024; ++i) { // 32 MiB in 32 KiB pieces
        ASSERT_TRUE(AppendBytes(buffer, chunk.data(), chunk.size()));
        if (buffer.data() != last) {
            ++reallocations;
            last = buffer.data();
        }
    }
    EXPECT_EQ(buffer.size(), 32768u * 1024u);
    EXPECT_LE(reallocations, 20); // 1.5^18 > 1024
    EXPECT_LE(buffer.capacity(), buffer.size() / 2 * 3);
}

TEST(AppendBytes, RefusesASizeBeyondTheLimitAndKeepsTheBuffer) {
    ByteBuffer buffer = Bytes("keep");
    size_t capacity = buffer.capacity();
    EXPECT_FALSE(AppendBytes(buffer, "x", buffer.max_size() - 3));
    EXPECT_FALSE(AppendBytes(buffer, "x", SIZE_MAX));
    EXPECT_EQ(buffer, Bytes("keep"));
    EXPECT_EQ(buffer.capacity(), capacity);
}

TEST(ReserveBytes, ReservesOnceAndNeverShrinks) {
    ByteBuffer buffer = Bytes("ab");
    ASSERT_TRUE(ReserveBytes(buffer, 1000));
    EXPECT_EQ(buffer.capacity(), 1000u);
    const unsigned char* data = buffer.data();
    std::string fill(998, 'f');
    ASSERT_TRUE(AppendBytes(buffer, fill.data(), fill.size()));
    EXPECT_EQ(buffer.data(), data); // the reservation was enough for all of it
    EXPECT_TRUE(ReserveBytes(buffer, 10));
    EXPECT_EQ(buffer.capacity(), 1000u);
    EXPECT_EQ(buffer.size(), 1000u);
}

TEST(ReserveBytes, RefusesBeyondTheLimitAndKeepsTheBuffer) {
    ByteBuffer buffer = Bytes("keep");
    EXPECT_FALSE(ReserveBytes(buffer, buffer.max_size() + static_cast<size_t>(1)));
    EXPECT_FALSE(ReserveBytes(buffer, SIZE_MAX));
    EXPECT_EQ(buffer, Bytes("keep"));
}

} // namespace
