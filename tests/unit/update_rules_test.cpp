// The restart word, progress positions of the check phase and the status answer.
#include "update/update_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(CommandLineHasUpdated, SubstringCaseSensitive) {
    EXPECT_TRUE(CommandLineHasUpdated("-updated"));
    EXPECT_TRUE(CommandLineHasUpdated("foo --updatedness bar"));
    EXPECT_TRUE(CommandLineHasUpdated("x-updatedx"));
    EXPECT_FALSE(CommandLineHasUpdated("-UPDATED"));
    EXPECT_FALSE(CommandLineHasUpdated("-update"));
    EXPECT_FALSE(CommandLineHasUpdated(""));
    EXPECT_FALSE(CommandLineHasUpdated(nullptr));
}

TEST(CheckPhaseProgress, RoundsDownAndEndsAt100) {
    std::vector<int> three;
    for (size_t i = 0; i < 3; ++i) {
        three.push_back(CheckPhaseProgress(i, 3));
    }
    EXPECT_EQ(three, (std::vector<int>{33, 66, 100}));
    std::vector<int> seven;
    for (size_t i = 0; i < 7; ++i) {
        seven.push_back(CheckPhaseProgress(i, 7));
    }
    EXPECT_EQ(seven, (std::vector<int>{14, 28, 42, 57, 71, 85, 100}));
    EXPECT_EQ(CheckPhaseProgress(0, 1), 100);
    // Large lists must not overflow the multiplication.
    EXPECT_EQ(CheckPhaseProgress(49999999, 100000000), 50);
}

ByteBuffer Bytes(const std::string& s) {
    return ByteBuffer(s.begin(), s.end());
}

TEST(IsServerOnline, OnlyStatus200WithOnlinePrefix) {
    EXPECT_TRUE(IsServerOnline(200, Bytes("online")));
    EXPECT_TRUE(IsServerOnline(200, Bytes("online\nplayers=12")));
    EXPECT_TRUE(IsServerOnline(200, Bytes("onlineXYZ")));
    EXPECT_FALSE(IsServerOnline(200, Bytes("Online")));
    EXPECT_FALSE(IsServerOnline(200, Bytes("onlin")));
    EXPECT_FALSE(IsServerOnline(200, Bytes("offline")));
    EXPECT_FALSE(IsServerOnline(200, Bytes("")));
    EXPECT_FALSE(IsServerOnline(200, Bytes(std::string("onl\0ine", 7))));
    EXPECT_FALSE(IsServerOnline(503, Bytes("online")));
    EXPECT_FALSE(IsServerOnline(0, Bytes("online")));
}

} // namespace
