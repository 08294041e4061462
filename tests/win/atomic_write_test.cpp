// WriteFileAtomic on real files: new, empty, replaced, locked, leftover ".part", no folder.
#include "net/atomic_write.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "test_files.h"

namespace {

ByteBuffer Bytes(const std::string& text) {
    return ByteBuffer(text.begin(), text.end());
}

class WriteFileAtomicTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = MakeScratchDir("atomic");
        ASSERT_FALSE(dir_.empty());
        target_ = dir_ + "\\main.exe";
        part_ = target_ + ".part";
    }
    void TearDown() override { RemoveTree(dir_); }
    std::string Read(const std::string& path) {
        std::string bytes;
        EXPECT_TRUE(ReadWholeFile(path, &bytes)) << path;
        return bytes;
    }
    std::string dir_;
    std::string target_;
    std::string part_;
};

TEST_F(WriteFileAtomicTest, NewTargetGetsTheContentAndNoPartRemains) {
    std::string content(100000, '\0');
    for (size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(i * 13u);
    }
    EXPECT_TRUE(WriteFileAtomic(target_.c_str(), Bytes(content)));
    EXPECT_TRUE(Read(target_) == content);
    EXPECT_FALSE(FileExists(part_));
}

TEST_F(WriteFileAtomicTest, EmptyContentGivesAnEmptyFile) {
    ByteBuffer empty; // no storage at all
    EXPECT_TRUE(WriteFileAtomic(target_.c_str(), empty));
    EXPECT_TRUE(FileExists(target_));
    EXPECT_EQ(Read(target_), "");
    ASSERT_TRUE(WriteWholeFile(target_, "old"));
    EXPECT_TRUE(WriteFileAtomic(target_.c_str(), empty));
    EXPECT_EQ(Read(target_), "");
    EXPECT_FALSE(FileExists(part_));
}

TEST_F(WriteFileAtomicTest, ExistingTargetIsReplacedWhole) {
    ASSERT_TRUE(WriteWholeFile(target_, std::string(5000, 'o')));
    EXPECT_TRUE(WriteFileAtomic(target_.c_str(), Bytes("new")));
    EXPECT_EQ(Read(target_), "new"); // shorter content leaves no tail of the old file
    EXPECT_FALSE(FileExists(part_));
}

TEST_F(WriteFileAtomicTest, TargetOpenWithoutDeleteSharingIsLeftIntact) {
    ASSERT_TRUE(WriteWholeFile(target_, "running"));
    // Like a running program: others may read it, but not replace or delete it.
    HANDLE held = CreateFileA(target_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(WriteFileAtomic(target_.c_str(), Bytes("replacement")));
    CloseHandle(held);
    EXPECT_EQ(Read(target_), "running");
    EXPECT_FALSE(FileExists(part_));
}

TEST_F(WriteFileAtomicTest, LeftoverPartIsTruncatedAndReused) {
    ASSERT_TRUE(WriteWholeFile(part_, std::string(70000, 'L')));
    EXPECT_TRUE(WriteFileAtomic(target_.c_str(), Bytes("fresh")));
    EXPECT_EQ(Read(target_), "fresh");
    EXPECT_FALSE(FileExists(part_));
}

TEST_F(WriteFileAtomicTest, PartHeldOpenByAnotherWriterFails) {
    ASSERT_TRUE(WriteWholeFile(target_, "old"));
    ASSERT_TRUE(WriteWholeFile(part_, "other"));
    HANDLE held = CreateFileA(part_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(WriteFileAtomic(target_.c_str(), Bytes("new")));
    CloseHandle(held);
    EXPECT_EQ(Read(target_), "old");
    EXPECT_EQ(Read(part_), "other"); // not ours to delete
}

TEST_F(WriteFileAtomicTest, MissingFolderFails) {
    std::string target = dir_ + "\\no-such-folder\\file.dat";
    EXPECT_FALSE(WriteFileAtomic(target.c_str(), Bytes("x")));
    EXPECT_FALSE(FileExists(target));
    EXPECT_FALSE(FileExists(target + ".part"));
}

TEST_F(WriteFileAtomicTest, TargetWhosePartNameDoesNotFitIsRefused) {
    // A folder path padded so the target name just fits MAX_PATH but "<target>.part" does not.
    std::string longName(254 - dir_.size() - 1, 'n');
    std::string target = dir_ + "\\" + longName; // 254 characters
    ASSERT_EQ(target.size(), 254u);
    EXPECT_TRUE(WriteFileAtomic(target.c_str(), Bytes("fits")));
    EXPECT_EQ(Read(target), "fits");
    std::string tooLong = target + "x"; // its ".part" form needs 261 bytes
    EXPECT_FALSE(WriteFileAtomic(tooLong.c_str(), Bytes("no")));
    EXPECT_FALSE(FileExists(tooLong));
}

} // namespace
