// FileChecksum on real files: missing, directory, empty, large, and locked for writing.
#include "update/file_checksum.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "test_files.h"
#include "update/crc32.h"

namespace {

class FileChecksumTest : public ::testing::Test {
  protected:
    void SetUp() override {
        BuildCrc32Table();
        dir_ = MakeScratchDir("crc");
    }
    void TearDown() override { RemoveTree(dir_); }
    std::string dir_;
};

TEST_F(FileChecksumTest, MissingFileAndDirectoryLeaveValueUntouched) {
    uint32_t value = 0x12345678u;
    EXPECT_FALSE(FileChecksum((dir_ + "\\missing.bin").c_str(), &value));
    EXPECT_EQ(value, 0x12345678u);
    EXPECT_FALSE(FileChecksum(dir_.c_str(), &value));
    EXPECT_EQ(value, 0x12345678u);
}

TEST_F(FileChecksumTest, EmptyFileIsZero) {
    std::string path = dir_ + "\\empty.bin";
    ASSERT_TRUE(WriteWholeFile(path, ""));
    uint32_t value = 0xFFFFFFFFu;
    EXPECT_TRUE(FileChecksum(path.c_str(), &value));
    EXPECT_EQ(value, 0u);
}

TEST_F(FileChecksumTest, LargerThanOneChunkEqualsBufferChecksum) {
    std::string content(100000, '\0');
    for (size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>((i * 131u + 7u) & 0xFFu);
    }
    std::string path = dir_ + "\\big.bin";
    ASSERT_TRUE(WriteWholeFile(path, content));
    uint32_t value = 0;
    EXPECT_TRUE(FileChecksum(path.c_str(), &value));
    EXPECT_EQ(value, BufferChecksum(content.data(), content.size()));
    ASSERT_TRUE(WriteWholeFile(path, "123456789"));
    EXPECT_TRUE(FileChecksum(path.c_str(), &value));
    EXPECT_EQ(value, 0xCBF43926u);
}

TEST_F(FileChecksumTest, FileOpenForWritingCountsAsUnreadable) {
    std::string path = dir_ + "\\locked.bin";
    ASSERT_TRUE(WriteWholeFile(path, "abc"));
    HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    uint32_t value = 0xAAAAAAAAu;
    EXPECT_FALSE(FileChecksum(path.c_str(), &value));
    EXPECT_EQ(value, 0xAAAAAAAAu);
    CloseHandle(writer);
    EXPECT_TRUE(FileChecksum(path.c_str(), &value));
    EXPECT_EQ(value, 0x352441C2u);
}

} // namespace
