// The publisher's manifest is read back by the launcher's own parser exactly, and every
// name a launcher cannot fetch or write is refused with its reason.
#include "common/publish_tree.h"

#include <gtest/gtest.h>

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
    const struct {
        std::string Path;
        const char* Reason; // a word of the reason
    } refused[] = {
        {std::string(201, 'p'), "200 bytes"},
        {"a:b", "':'"},
        {"x/../y", "'..'"},
        {"a..b", "'..'"},
        {"tab\there", "TAB"},
        {"cr\rhere", "line break"},
        {"lf\nhere", "line break"},
        {"dir /file", "space"},
        {"trailing.", "dot"},
        {"data\\file", "URL"},
        {"100%.txt", "URL"},
        {"a#b", "URL"},
        {"what?", "URL"},
        {"CON", "device"},
        {"data/nul.txt", "device"},
        {"Com1.dat", "device"},
        {"lpt9", "device"},
        {"pipe|name", "Windows"},
        {"/rooted", "empty"},
    };
    for (const auto& name : refused) {
        EXPECT_NE(PathProblem(name.Path).find(name.Reason), std::string::npos)
            << name.Path << " -> " << PathProblem(name.Path);
    }
    for (const char* fine : {"data/ok.bmd", "a b/c d.txt", "console.exe", "com10.dat", "lpt0",
                             "data/.hidden", "Ünïcode/ä.txt"}) {
        EXPECT_EQ(PathProblem(fine), "") << fine;
    }
    EXPECT_EQ(PathProblem(std::string(200, 'p')), "");
}

TEST(PublishTree, NamesEqualWithoutCaseCollideAsFilesButNotAsFolders) {
    const auto pairs = CaseCollisions({"Data/a", "Readme", "data/A", "data/b", "readme/x", "x"});
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0], std::make_pair(std::string("Data/a"), std::string("data/A")));
    EXPECT_EQ(pairs[1], std::make_pair(std::string("Readme"), std::string("readme")));
    // The launcher takes a path when folder + path + 7 < 260: 52 bytes of folder for 200.
    EXPECT_EQ(LongestInstallDir(200), 52u);
    EXPECT_TRUE(ManifestPathAccepted(std::string(200, 'p'), LongestInstallDir(200)));
    EXPECT_FALSE(ManifestPathAccepted(std::string(200, 'p'), LongestInstallDir(200) + 1));
}

} // namespace
