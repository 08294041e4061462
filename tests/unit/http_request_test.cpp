// Download progress: percent and KiB arithmetic at their edges, and the bounded status text.
#include "net/http_request.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/text.h"

namespace {

TEST(DownloadPercent, TruncatesAndUsesSixtyFourBitProducts) {
    EXPECT_EQ(DownloadPercent(0, 65536), 0);
    EXPECT_EQ(DownloadPercent(32768, 65536), 50);
    EXPECT_EQ(DownloadPercent(65535, 65536), 99);
    EXPECT_EQ(DownloadPercent(65536, 65536), 100);
    EXPECT_EQ(DownloadPercent(1, 3), 33);
    EXPECT_EQ(DownloadPercent(2, 3), 66);
    // 4 GiB - 1 bytes times 100 overflows 32 bits; the 64-bit product does not.
    EXPECT_EQ(DownloadPercent(0xFFFFFFFFull, 0xFFFFFFFFu), 100);
    EXPECT_EQ(DownloadPercent(0x80000000ull, 0xFFFFFFFFu), 50);
    EXPECT_EQ(DownloadPercent(50000000ull, 100000000u), 50);
}

TEST(DownloadPercent, KeepsTheLowThirtyTwoBitsWhenMoreArrivedThanAnnounced) {
    EXPECT_EQ(DownloadPercent(300, 100), 300);
    // 2^32 * 100 / 1 = 0x64_00000000: the low 32 bits are 0.
    EXPECT_EQ(DownloadPercent(0x100000000ull, 1), 0);
}

TEST(DownloadKilobytes, RoundsUpToWholeKibibytes) {
    EXPECT_EQ(DownloadKilobytes(1), 1);
    EXPECT_EQ(DownloadKilobytes(1023), 1);
    EXPECT_EQ(DownloadKilobytes(1024), 1);
    EXPECT_EQ(DownloadKilobytes(1025), 2);
    EXPECT_EQ(DownloadKilobytes(65536), 64);
    EXPECT_EQ(DownloadKilobytes(268435456u), 262144);
    // Near and above 4 GiB, where a 32-bit sum would wrap to 0.
    EXPECT_EQ(DownloadKilobytes(0xFFFFFC00u), 4194303);
    EXPECT_EQ(DownloadKilobytes(0xFFFFFC01u), 4194304);
    EXPECT_EQ(DownloadKilobytes(0xFFFFFFFFu), 4194304);
    EXPECT_EQ(DownloadKilobytes(5ull << 30), 5242880);
}

TEST(FormatDownloadStatus, FormatsLabelPercentAndSize) {
    char text[kStatusTextCapacity];
    FormatDownloadStatus(text, sizeof text, "data.pak (3/12)", 50, 64);
    EXPECT_STREQ(text, "Dang tai data.pak (3/12) - 50% cua 64 KB");
    FormatDownloadStatus(text, sizeof text, "", 100, 1);
    EXPECT_STREQ(text, "Dang tai  - 100% cua 1 KB");
    // A label with its own percent sign is data, not a placeholder.
    FormatDownloadStatus(text, sizeof text, "100%s", 7, 2);
    EXPECT_STREQ(text, "Dang tai 100%s - 7% cua 2 KB");
}

TEST(FormatDownloadStatus, RefusesALabelThatDoesNotFit) {
    char text[kStatusTextCapacity + 8];
    memset(text, '#', sizeof text);
    std::string label(600, 'L');
    EXPECT_FALSE(FormatDownloadStatus(text, kStatusTextCapacity, label.c_str(), 1, 1));
    EXPECT_STREQ(text, "");
    EXPECT_EQ(text[kStatusTextCapacity], '#'); // nothing written past the capacity
    // The longest label the patch loop builds (a 200-byte path and its place) fits.
    std::string longest = std::string(200, 'p') + " (2147483647/2147483647)";
    EXPECT_TRUE(FormatDownloadStatus(text, kStatusTextCapacity, longest.c_str(), 100, 4194303));
    EXPECT_EQ(std::string(text, 9 + longest.size()), "Dang tai " + longest);
}

} // namespace
