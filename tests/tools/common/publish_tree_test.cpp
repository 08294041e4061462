// The publisher's manifest is read back by the launcher's own parser exactly, and every
// name a launcher cannot fetch or write (the shared table name_rules.txt) is refused with
// its reason.
#include "common/publish_tree.h"

#include <gtest/gtest.h>

#include "common/name_rules_table.h"
#include "update/manifest.h"

namespace {

TEST(PublishTree, ManifestIsSortedAndRoundTripsThroughTheParser) {
    const std::vector<PublishedFile> files = {
        {"main.exe", 0x0A1B2C3Du}, {"data/player.bmd", 0xFFFFFFFFu}, {"a b/c d.txt", 0u}};
    const std::string manifest = BuildManifest(files);
    EXPECT_EQ(manifest, "00000000\ta b/c d.txt\nFFFFFFFF\tdata/player.bmd\n0A1B2C3D\tmain.exe\n");
    const auto entries = ParseManifest(manifest.data(), manifest.size(), "C:\\Games\\Qelt");
    ASSERT_EQ(entries.size(), files.size());
    EXPECT_EQ(entries[2].Path, "main.exe");
    EXPECT_EQ(entries[2].Crc, 0x0A1B2C3Du);
}

TEST(PublishTree, EachNameClassALauncherCannotUseIsRefused) {
    size_t refused = 0;
    for (const NameCase& name : NameCases()) {
        if (name.Kind == "refused") {
            ++refused;
            EXPECT_NE(PathProblem(name.Fields[0]).find(name.Fields[1]), std::string::npos)
                << name.Fields[0] << " -> " << PathProblem(name.Fields[0]);
        } else if (name.Kind == "accepted") {
            EXPECT_EQ(PathProblem(name.Fields[0]), "") << name.Fields[0];
        }
    }
    EXPECT_GT(refused, 30u); // the table was read
    EXPECT_NE(PathProblem(std::string(201, 'p')).find("200 bytes"), std::string::npos);
    EXPECT_EQ(PathProblem(std::string(200, 'p')), "");
}

TEST(PublishTree, NamesWindowsFoldTogetherCollideAsFilesButNotAsFolders) {
    for (const NameCase& pair : NameCases()) {
        if (pair.Kind == "collide" || pair.Kind == "fold" || pair.Kind == "apart") {
            EXPECT_EQ(CaseCollisions({pair.Fields[0], pair.Fields[1]}).size(),
                      pair.Kind == "apart" ? 0u : 1u)
                << pair.Fields[0] << " " << pair.Fields[1];
        }
    }
    const auto pairs = CaseCollisions({"Data/a", "Readme", "data/A", "data/b", "readme/x", "x"});
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0], std::make_pair(std::string("Data/a"), std::string("data/A")));
    EXPECT_EQ(pairs[1], std::make_pair(std::string("Readme"), std::string("readme/x")));
    // The launcher takes a path when folder + path + 7 < 260: 52 bytes of folder for 200.
    EXPECT_EQ(LongestInstallDir(200), 52u);
    EXPECT_TRUE(ManifestPathAccepted(std::string(200, 'p'), LongestInstallDir(200)));
    EXPECT_FALSE(ManifestPathAccepted(std::string(200, 'p'), LongestInstallDir(200) + 1));
}

} // namespace
