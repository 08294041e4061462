// FileChecksum on real files: missing, directory, empty, large, locked for writing, and the
// same value whichever CRC-32 path start-up picked.
#include "update/file_checksum.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "crc32/crc32.h"
#include "test_files.h"

namespace {

class FileChecksumTest : public ::testing::Test {
  protected:
    void SetUp() override {
        BuildCrc32Table();
        dir_ = MakeScratchDir("crc");
    }
    void TearDown() override {
        RemoveTree(dir_);
        SelectCrc32Path(FastestCrc32Path());
    }
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

TEST_F(FileChecksumTest, EveryCrcPathGivesTheSameValue) {
    // Several 32768-byte pieces and an odd tail, so the running value crosses pieces.
    std::string content(5 * 32768 + 1234, '\0');
    uint32_t seed = 12345u;
    for (char& c : content) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 24);
    }
    std::string path = dir_ + "\\paths.bin";
    ASSERT_TRUE(WriteWholeFile(path, content));
    const uint32_t expected =
        Crc32UpdateWith(Crc32Path::ByteTable, 0xFFFFFFFFu, content.data(), content.size()) ^
        0xFFFFFFFFu;
    for (int i = 0; i < kCrc32PathCount; ++i) {
        const Crc32Path crcPath = static_cast<Crc32Path>(i);
        if (!SelectCrc32Path(crcPath)) {
            continue;
        }
        uint32_t value = 0;
        EXPECT_TRUE(FileChecksum(path.c_str(), &value));
        EXPECT_EQ(value, expected) << Crc32PathName(crcPath);
    }
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
