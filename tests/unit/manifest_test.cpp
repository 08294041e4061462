// Manifest parser rules, table-driven.
#include "update/manifest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char kDir[] = "C:\\Games\\Qelt"; // 13 bytes

std::vector<ManifestEntry> Parse(const std::string& body, const char* dir = kDir) {
    return ParseManifest(body.data(), body.size(), dir);
}

struct ChecksumCase {
    const char* text;
    uint32_t expected;
};

TEST(ManifestChecksum, ReadsLikeUnsignedHex) {
    const ChecksumCase cases[] = {
        {"0A1B2C3D", 0x0A1B2C3Du},
        {"0x1f", 0x1Fu},
        {"0X1F", 0x1Fu},
        {"abcdef01", 0xABCDEF01u},
        {"ABCD more text", 0xABCDu},
        {"1FFFFFFFF", 0xFFFFFFFFu},
        {"FFFFFFFF", 0xFFFFFFFFu},
        {"-1", 0xFFFFFFFFu},
        {"-0x10", 0xFFFFFFF0u},
        {"+10", 0x10u},
        {"-1FFFFFFFF", 0xFFFFFFFFu},
        {"", 0u},
        {"zz", 0u},
        {"0x", 0u},
        {"0xg", 0u},
        {" \v\f\r2A", 0x2Au},
        {"000000000000000000000001", 1u},
    };
    for (const auto& c : cases) {
        std::string text(c.text);
        EXPECT_EQ(ParseManifestChecksum(text.data(), text.size()), c.expected)
            << '"' << c.text << '"';
    }
}

TEST(ManifestLines, SplittingAndTrimming) {
    auto entries = Parse("0A1B2C3D\tdata/a.bmd\r\n"
                         "1\tb.txt  \r \r\n"
                         "2\tc.txt\t\n"
                         "\n"
                         "   \r\n"
                         "3\tlast.txt");
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].Path, "data/a.bmd");
    EXPECT_EQ(entries[0].Crc, 0x0A1B2C3Du);
    EXPECT_EQ(entries[1].Path, "b.txt");
    EXPECT_EQ(entries[2].Path, "c.txt\t"); // trailing TAB kept
    EXPECT_EQ(entries[3].Path, "last.txt");
    EXPECT_EQ(entries[3].Crc, 3u);
}

TEST(ManifestLines, FinalLineFeedAddsNothing) {
    EXPECT_EQ(Parse("1\ta\n").size(), 1u);
    EXPECT_EQ(Parse("1\ta\n\n\n").size(), 1u);
    EXPECT_TRUE(Parse("").empty());
    EXPECT_TRUE(Parse("\n").empty());
}

TEST(ManifestLines, CommentsAndLinesWithoutTab) {
    auto entries = Parse("# comment\tnot-an-entry\n"
                         " #1\tspaced.txt\n"
                         "no tab here\n"
                         "#\n");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Path, "spaced.txt");
    EXPECT_EQ(entries[0].Crc, 0u);
}

TEST(ManifestLines, FirstTabSplitsRestIsPath) {
    auto entries = Parse("\tempty-checksum.txt\n"
                         "5\ta\tb c.txt\n"
                         "6\t\n");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].Crc, 0u);
    EXPECT_EQ(entries[0].Path, "empty-checksum.txt");
    EXPECT_EQ(entries[1].Path, "a\tb c.txt");
    EXPECT_EQ(entries[2].Path, ""); // an empty path passes every rule
}

TEST(ManifestLines, CarriageReturnAloneIsNoSeparator) {
    auto entries = Parse("1\ta.txt\r2\tb.txt\r3\tc.txt\r");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Path, "a.txt\r2\tb.txt\r3\tc.txt");
}

TEST(ManifestLines, ByteOrderMarkIsPartOfFirstLine) {
    auto entries = Parse("\xEF\xBB\xBF"
                         "0A1B2C3D\ta.txt\n"
                         "\xEF\xBB\xBF#comment\tb.txt\n");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].Crc, 0u);
    EXPECT_EQ(entries[1].Path, "b.txt");
}

TEST(ManifestLines, DuplicatesStayInOrder) {
    auto entries = Parse("1\tx.txt\n2\ty.txt\n3\tx.txt\n");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].Path, "x.txt");
    EXPECT_EQ(entries[2].Path, "x.txt");
    EXPECT_EQ(entries[2].Crc, 3u);
}

TEST(ManifestPaths, RejectedShapes) {
    const char* rejected[] = {"/a", "\\a", "C:x", "a:b", "../a", "a/../b", "a..b", "x/.."};
    for (const char* path : rejected) {
        EXPECT_TRUE(Parse(std::string("1\t") + path + "\n").empty()) << path;
    }
    auto accepted = Parse("1\ta.b/c d.txt\n2\t.hidden\n3\tdata\\win.txt\n");
    ASSERT_EQ(accepted.size(), 3u);
    EXPECT_EQ(accepted[0].Path, "a.b/c d.txt");
    EXPECT_EQ(accepted[2].Path, "data\\win.txt");
}

TEST(ManifestPaths, LengthLimitOf200) {
    const std::string ok(200, 'p');
    const std::string tooLong(201, 'p');
    EXPECT_EQ(Parse("1\t" + ok + "\n").size(), 1u);
    EXPECT_TRUE(Parse("1\t" + tooLong + "\n").empty());
}

TEST(ManifestPaths, LocalPathMustFitWithPartSuffix) {
    const std::string dir52 = "C:\\" + std::string(49, 'd');
    const std::string dir60 = "C:\\" + std::string(57, 'd');
    ASSERT_EQ(dir52.size(), 52u);
    EXPECT_EQ(Parse("1\t" + std::string(200, 'p'), dir52.c_str()).size(), 1u);
    EXPECT_EQ(Parse("1\t" + std::string(192, 'p'), dir60.c_str()).size(), 1u);
    EXPECT_TRUE(Parse("1\t" + std::string(193, 'p'), dir60.c_str()).empty());
    // dir + '\' + path + ".part" + NUL must be below 260.
    const std::string dir100 = "C:\\" + std::string(97, 'd');
    EXPECT_EQ(Parse("1\t" + std::string(152, 'p'), dir100.c_str()).size(), 1u);
    EXPECT_TRUE(Parse("1\t" + std::string(153, 'p'), dir100.c_str()).empty());
}

TEST(ManifestPaths, RulesApplyInOrderBeforeChecksum) {
    // A rejected path adds nothing, whatever its checksum; the checksum never rejects.
    auto entries = Parse("nothex\tok.txt\nFF\t/abs\n");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Crc, 0u);
}

TEST(ManifestPaths, EmbeddedNulEndsThePath) {
    std::string body("7\tgood.txt", 10);
    body += std::string("\0:bad", 5);
    body += "\n";
    auto entries = Parse(body);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Path, "good.txt");
}

} // namespace
