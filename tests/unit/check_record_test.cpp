// The quick-check record: its format, the damage it refuses, and the rules that let a file
// count as current or changed without being read.
#include "update/check_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crc32/crc32.h"
#include "update/state_files.h"

namespace {

constexpr uint64_t kDay = 24 * 3600 * kTicksPerSecond;
constexpr uint64_t kNow = 133500000000000000ull; // a day in 2024
const LauncherBuild kBuild = {{0x8664, 0x65000000, 0x0023DF81, 0x00240000}};

CheckRecord Sample() {
    CheckRecord record;
    record.Build = kBuild;
    record.FullCheckTime = kNow - 3 * kDay;
    record.WrittenTime = kNow - kDay;
    record.Entries = {
        {"main.exe", {4, kNow - 9 * kDay, 0x1122334455667788ull}, 0xCBF43926u},
        {"data\\d\xE1/x.bmd", {0xFFFFFFFFFFull, 1, 0}, 0},
        {std::string(200, 'p'), {0, kNow - 2 * kDay, ~0ull}, 0xFFFFFFFFu},
    };
    return record;
}

ByteBuffer Serialised(const CheckRecord& record) {
    ByteBuffer bytes;
    EXPECT_TRUE(SerialiseCheckRecord(record, &bytes));
    return bytes;
}

bool Parses(const ByteBuffer& bytes) {
    CheckRecord parsed;
    return ParseCheckRecord(bytes.data(), bytes.size(), &parsed);
}

// Puts a valid check after a change, so that only the rule under test can refuse it.
ByteBuffer Resealed(ByteBuffer bytes) {
    const uint32_t check = BufferChecksum(bytes.data(), bytes.size() - 4);
    for (int i = 0; i < 4; ++i) {
        bytes[bytes.size() - 4 + static_cast<size_t>(i)] =
            static_cast<unsigned char>(check >> (8 * i));
    }
    return bytes;
}

class CheckRecordTest : public ::testing::Test {
  protected:
    void SetUp() override { BuildCrc32Table(); }
};

TEST_F(CheckRecordTest, RoundTripKeepsEveryField) {
    for (const CheckRecord& record : {Sample(), CheckRecord{kBuild, kNow, kNow, {}}}) {
        CheckRecord parsed;
        const ByteBuffer bytes = Serialised(record);
        ASSERT_TRUE(ParseCheckRecord(bytes.data(), bytes.size(), &parsed));
        EXPECT_EQ(Serialised(parsed), bytes);
        ASSERT_EQ(parsed.Entries.size(), record.Entries.size());
        for (size_t i = 0; i < record.Entries.size(); ++i) {
            EXPECT_EQ(parsed.Entries[i].Path, record.Entries[i].Path);
            EXPECT_EQ(parsed.Entries[i].Stamp.Size, record.Entries[i].Stamp.Size);
            EXPECT_EQ(parsed.Entries[i].Stamp.WriteTime, record.Entries[i].Stamp.WriteTime);
            EXPECT_EQ(parsed.Entries[i].Stamp.FileId, record.Entries[i].Stamp.FileId);
            EXPECT_EQ(parsed.Entries[i].Crc, record.Entries[i].Crc);
        }
        EXPECT_EQ(parsed.FullCheckTime, record.FullCheckTime);
        EXPECT_EQ(parsed.WrittenTime, record.WrittenTime);
        EXPECT_FALSE(NeedsFullCheck(parsed, kBuild, kNow));
    }
}

TEST_F(CheckRecordTest, DamageIsRefused) {
    const ByteBuffer good = Serialised(Sample());
    for (size_t length = 0; length < good.size(); ++length) {
        EXPECT_FALSE(
            Parses(ByteBuffer(good.begin(), good.begin() + static_cast<ptrdiff_t>(length))))
            << "cut to " << length;
    }
    for (size_t at = 0; at < good.size(); ++at) {
        ByteBuffer flipped = good;
        flipped[at] ^= 0x20;
        EXPECT_FALSE(Parses(flipped)) << "byte " << at;
    }
    ByteBuffer longer = good;
    longer.push_back(0);
    EXPECT_FALSE(Parses(Resealed(longer)));

    // Damage that a valid check does not excuse.
    ByteBuffer version = good;
    version[7] = '2';
    EXPECT_FALSE(Parses(Resealed(version)));
    for (int delta : {+1, -1}) { // the entry count, at offset 40
        ByteBuffer count = good;
        count[40] = static_cast<unsigned char>(count[40] + delta);
        EXPECT_FALSE(Parses(Resealed(count))) << delta;
    }
    ByteBuffer huge = good;
    huge[43] = 0x7F;
    EXPECT_FALSE(Parses(Resealed(huge)));
    CheckRecord bad = Sample();
    bad.Entries[2].Path.push_back('q'); // 201 bytes: longer than any manifest path
    EXPECT_FALSE(Parses(Serialised(bad)));
    bad = Sample();
    bad.Entries[1].Path = std::string("a\0b", 3);
    EXPECT_FALSE(Parses(Serialised(bad)));
    bad = Sample();
    bad.Entries[0].Path.clear();
    EXPECT_FALSE(Parses(Serialised(bad)));
    bad = Sample();
    bad.FullCheckTime = bad.WrittenTime + 1;
    EXPECT_FALSE(Parses(Serialised(bad)));
}

TEST_F(CheckRecordTest, FullCheckForAnotherBuildABackwardClockOrAWeek) {
    CheckRecord record = Sample();
    record.FullCheckTime = kNow - kFullCheckIntervalTicks + 1;
    EXPECT_FALSE(NeedsFullCheck(record, kBuild, kNow));
    EXPECT_FALSE(NeedsFullCheck(record, kBuild, record.WrittenTime));
    EXPECT_TRUE(NeedsFullCheck(record, kBuild, kNow + 1)); // seven days to the tick
    EXPECT_TRUE(NeedsFullCheck(record, kBuild, record.WrittenTime - 1));
    for (int word = 0; word < 4; ++word) {
        LauncherBuild other = kBuild;
        other.Words[word] ^= 1;
        EXPECT_TRUE(NeedsFullCheck(record, other, kNow)) << word;
    }
}

TEST_F(CheckRecordTest, OnlyAMatchingStampWrittenBeforeTheRacyWindowIsTrusted) {
    constexpr uint64_t kRacy = 3 * kTicksPerSecond;
    const uint64_t written = kNow;
    const uint64_t settled = written - kRacy;
    const CheckRecordEntry recorded = {"a.bin", {4096, settled, 77}, 0xAAAA0001u};
    struct Case {
        const char* what;
        FileStamp listed;
        uint32_t manifestCrc;
        QuickVerdict expected;
    };
    const Case cases[] = {
        {"all agree", {4096, settled, 77}, 0xAAAA0001u, QuickVerdict::Current},
        {"the server changed it", {4096, settled, 77}, 0xAAAA0002u, QuickVerdict::Changed},
        {"other size", {4097, settled, 77}, 0xAAAA0001u, QuickVerdict::Read},
        {"other time", {4096, settled - 1, 77}, 0xAAAA0001u, QuickVerdict::Read},
        {"other file", {4096, settled, 78}, 0xAAAA0001u, QuickVerdict::Read},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JudgeUnopened(&recorded, &c.listed, c.manifestCrc, written, kRacy), c.expected)
            << c.what;
    }
    const FileStamp same = recorded.Stamp;
    EXPECT_EQ(JudgeUnopened(nullptr, &same, 0xAAAA0001u, written, kRacy), QuickVerdict::Read);
    EXPECT_EQ(JudgeUnopened(&recorded, nullptr, 0xAAAA0001u, written, kRacy), QuickVerdict::Read);
    // Written within the window before the record, or after it: read, even if changed.
    for (uint64_t time : {settled + 1, written, written + kDay}) {
        const CheckRecordEntry racy = {"a.bin", {4096, time, 77}, 0xAAAA0001u};
        const FileStamp listed = racy.Stamp;
        for (uint32_t crc : {0xAAAA0001u, 0xAAAA0002u}) {
            EXPECT_EQ(JudgeUnopened(&racy, &listed, crc, written, kRacy), QuickVerdict::Read);
        }
    }
    // No time at all says nothing; no file ID on either side is no disagreement.
    const CheckRecordEntry timeless = {"a.bin", {4096, 0, 77}, 0xAAAA0001u};
    EXPECT_EQ(JudgeUnopened(&timeless, &timeless.Stamp, 0xAAAA0001u, written, 0),
              QuickVerdict::Read);
    const CheckRecordEntry noId = {"a.bin", {4096, settled, 0}, 0xAAAA0001u};
    EXPECT_EQ(JudgeUnopened(&noId, &noId.Stamp, 0xAAAA0001u, written, kRacy),
              QuickVerdict::Current);
}

TEST(LauncherStateFile, EverySpellingWindowsResolvesToTheFile) {
    for (const char* path :
         {"qelt-check.dat", "QELT-Check.DAT", "qelt-sequence.dat", "./qelt-check.dat",
          ".\\.\\qelt-sequence.dat", "qelt-check.dat.", "qelt-check.dat . .", "//qelt-check.dat"}) {
        EXPECT_TRUE(IsLauncherStateFile(path)) << path;
    }
    for (const char* path : {"data/qelt-check.dat", "qelt-check.dat2", "qelt-check.da",
                             "xqelt-check.dat", ".qelt-check.dat", "qelt-check", "", "."}) {
        EXPECT_FALSE(IsLauncherStateFile(path)) << path;
    }
    EXPECT_FALSE(IsLauncherStateFile(nullptr));
}

} // namespace
