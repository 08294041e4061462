// Byte buffer growth against the real Windows heap: running out of memory is a result.
#include "net/byte_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ByteBufferWin, OutOfMemoryIsReportedAndLeavesTheBufferAsItWas) {
    ByteBuffer buffer(5, 'k');
    ASSERT_TRUE(ReserveBytes(buffer, 64));
    const unsigned char* data = buffer.data();
    // 256 TiB: within what the vector would accept, beyond what the heap can ever give.
    const size_t huge = static_cast<size_t>(1) << 48;
    static const unsigned char kByte = 'x';
    EXPECT_FALSE(AppendBytes(buffer, &kByte, huge));
    EXPECT_FALSE(ReserveBytes(buffer, huge));
    EXPECT_EQ(buffer, ByteBuffer(5, 'k'));
    EXPECT_EQ(buffer.data(), data);
    EXPECT_EQ(buffer.capacity(), 64u);
    // The buffer still works afterwards.
    EXPECT_TRUE(AppendBytes(buffer, "yz", 2));
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), "kkkkkyz");
}

} // namespace
