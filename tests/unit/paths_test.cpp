// Bounded path helpers: nothing written past a buffer, paths that do not fit refused.
#include "base/paths.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(JoinPath, JoinsWithOneBackslash) {
    char out[kPathCapacity];
    ASSERT_TRUE(JoinPath(out, sizeof out, "C:\\Games\\Qelt", "main.exe"));
    EXPECT_STREQ(out, "C:\\Games\\Qelt\\main.exe");
    // An absolute value is still put behind the folder.
    ASSERT_TRUE(JoinPath(out, sizeof out, "C:\\G", "D:\\x.png"));
    EXPECT_STREQ(out, "C:\\G\\D:\\x.png");
}

TEST(JoinPath, RefusesWhatDoesNotFitInsteadOfCutting) {
    char out[16];
    memset(out, 'Z', sizeof out);
    EXPECT_TRUE(JoinPath(out, sizeof out, "C:\\abcdef", "12345")); // 15 bytes + NUL
    EXPECT_STREQ(out, "C:\\abcdef\\12345");
    EXPECT_FALSE(JoinPath(out, sizeof out, "C:\\abcdef", "123456"));
    EXPECT_STREQ(out, "");
}

TEST(SplitModulePath, FolderAndFileName) {
    char dir[kPathCapacity];
    char name[64];
    ASSERT_TRUE(
        SplitModulePath("C:\\Games\\Qelt\\Launcher.exe", dir, sizeof dir, name, sizeof name));
    EXPECT_STREQ(dir, "C:\\Games\\Qelt");
    EXPECT_STREQ(name, "Launcher.exe");
}

TEST(SplitModulePath, LongFileNameCutTo63) {
    char dir[kPathCapacity];
    char name[64];
    std::string file = std::string(70, 'L') + ".exe";
    std::string path = "C:\\Q\\" + file;
    ASSERT_TRUE(SplitModulePath(path.c_str(), dir, sizeof dir, name, sizeof name));
    EXPECT_STREQ(dir, "C:\\Q");
    EXPECT_EQ(std::string(name), file.substr(0, 63));
}

TEST(ToBackslashes, TurnsEverySlash) {
    char path[] = "C:\\G\\data/new/x.bmd";
    ToBackslashes(path);
    EXPECT_STREQ(path, "C:\\G\\data\\new\\x.bmd");
}

} // namespace
