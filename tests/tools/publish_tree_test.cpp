// The publisher's manifest is read back by the launcher's own parser exactly.
#include "publish_tree.h"

#include <gtest/gtest.h>

#include "update/manifest.h"

namespace {

TEST(PublishTree, ManifestRoundTripsThroughTheParser) {
    const std::vector<PublishedFile> files = {
        {"main.exe", 0x0A1B2C3Du}, {"data/player.bmd", 0xFFFFFFFFu}, {"a b/c d.txt", 0u}};
    const std::string manifest = BuildManifest(files);
    const auto entries = ParseManifest(manifest.data(), manifest.size(), "C:\\Games\\Qelt");
    ASSERT_EQ(entries.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(entries[i].Path, files[i].Path);
        EXPECT_EQ(entries[i].Crc, files[i].Crc);
    }
    EXPECT_EQ(ManifestLine(files[0]), "0A1B2C3D\tmain.exe\r\n");
}

TEST(PublishTree, PathsTheLauncherWouldSkipAreNamed) {
    EXPECT_EQ(PathProblem("data/ok.bmd", 52), "");
    EXPECT_NE(PathProblem("a:b", 52), "");
    EXPECT_NE(PathProblem("x/../y", 52), "");
    EXPECT_NE(PathProblem(std::string(201, 'p'), 52), "");
    EXPECT_NE(PathProblem(std::string(193, 'p'), 60), ""); // fits 200 but not below the folder
    EXPECT_NE(PathProblem("tab\there", 52), "");
    EXPECT_NE(PathProblem("trailing ", 52), "");
}

} // namespace
