// Launcher.ini reading through the platform's private-profile functions.
#include "app/config.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "test_files.h"
#include "update/signed_list.h"

namespace {

class ConfigTest : public ::testing::Test {
  protected:
    void SetUp() override { dir_ = MakeScratchDir("config"); }
    void TearDown() override { RemoveTree(dir_); }

    LauncherConfig Read(const std::string& ini) {
        if (!ini.empty()) {
            EXPECT_TRUE(WriteWholeFile(dir_ + "\\Launcher.ini", ini));
        }
        LauncherConfig config;
        memset(&config, 'X', sizeof config);
        ReadLauncherConfig(dir_.c_str(), &config);
        return config;
    }

    std::string dir_;
};

void ExpectDefaults(const LauncherConfig& c) {
    EXPECT_STREQ(c.LauncherName, "Qelt Launcher");
    EXPECT_STREQ(c.GameExecutable, "main.exe");
    EXPECT_STREQ(c.UpdateUrl, "");
    EXPECT_STREQ(c.BackgroundImage, "launcher_bg.png");
    EXPECT_STREQ(c.Title, "ZORVAND");
    EXPECT_STREQ(c.UpdateKey, "");
    EXPECT_EQ(c.DownloadLimitKBps, 0u);
}

TEST_F(ConfigTest, MissingFileGivesDefaults) {
    ExpectDefaults(Read(""));
}

TEST_F(ConfigTest, MissingSectionGivesDefaults) {
    ExpectDefaults(Read("[Other]\r\nUpdateUrl=http://x\r\nTitle=Nope\r\n"));
}

TEST_F(ConfigTest, AllKeysRead) {
    LauncherConfig c = Read("[Launcher]\r\nLauncherName=My Launcher\r\nGameExecutable=game.exe\r\n"
                            "UpdateUrl=http://127.0.0.1:8080\r\nBackgroundImage=bg.jpg\r\n"
                            "Title=MU ONLINE\r\nUpdateKey=" +
                            std::string(128, 'e') + "\r\nDownloadLimitKBps=2048\r\n");
    EXPECT_STREQ(c.LauncherName, "My Launcher");
    EXPECT_STREQ(c.GameExecutable, "game.exe");
    EXPECT_STREQ(c.UpdateUrl, "http://127.0.0.1:8080");
    EXPECT_STREQ(c.BackgroundImage, "bg.jpg");
    EXPECT_STREQ(c.Title, "MU ONLINE");
    EXPECT_EQ(std::string(c.UpdateKey), std::string(128, 'e'));
    EXPECT_EQ(c.DownloadLimitKBps, 2048u);
}

// Anything but a whole number of KiB per second that fits means no limit.
TEST_F(ConfigTest, DownloadLimitIsAWholeNumberOrNone) {
    const std::string zeros(59, '0');
    const struct {
        std::string line;
        uint32_t limit;
    } cases[] = {
        {"DownloadLimitKBps=0", 0},
        {"downloadlimitkbps =  512 ", 512},
        {"DownloadLimitKBps=\"64\"", 64},
        {"DownloadLimitKBps=4294967295", 4294967295u},
        {"DownloadLimitKBps=4294967296", 0},
        {"DownloadLimitKBps=", 0},
        {"DownloadLimitKBps=12abc", 0},
        {"DownloadLimitKBps=-5", 0},
        {"DownloadLimitKBps=1.5", 0},
        {"DownloadLimitKBps=0x400", 0},
        {"DownloadLimitKBps=" + zeros.substr(40) + "20481", 20481},
        // Cut to what the launcher reads (63 characters) it would be another number.
        {"DownloadLimitKBps=" + zeros + "20481", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Read("[Launcher]\r\n" + c.line + "\r\n").DownloadLimitKBps, c.limit) << c.line;
    }
}

TEST_F(ConfigTest, PresentButEmptyKeyIsEmptyNotDefault) {
    LauncherConfig c = Read("[Launcher]\r\nGameExecutable=\r\nUpdateUrl=\r\n");
    EXPECT_STREQ(c.GameExecutable, "");
    EXPECT_STREQ(c.UpdateUrl, "");
    EXPECT_STREQ(c.Title, "ZORVAND"); // missing key: default
}

TEST_F(ConfigTest, SectionAndKeyIgnoreCase) {
    LauncherConfig c = Read("[LAUNCHER]\r\nupdateurl=http://h/base/\r\nTITLE=Abc\r\n");
    EXPECT_STREQ(c.UpdateUrl, "http://h/base/");
    EXPECT_STREQ(c.Title, "Abc");
}

TEST_F(ConfigTest, BlanksAndQuotesRemoved) {
    LauncherConfig c =
        Read("[Launcher]\r\nTitle =   Two Words  \r\nGameExecutable=\"quoted.exe\"\r\n");
    EXPECT_STREQ(c.Title, "Two Words");
    EXPECT_STREQ(c.GameExecutable, "quoted.exe");
}

TEST_F(ConfigTest, OverlongValuesCutToCapacityMinusOne) {
    const std::string name40(40, 'N');
    const std::string url300(300, 'u');
    LauncherConfig c = Read("[Launcher]\r\nLauncherName=" + name40 + "\r\nUpdateUrl=" + url300 +
                            "\r\nTitle=" + std::string(80, 'T') +
                            "\r\nUpdateKey=" + std::string(200, 'a') + "\r\n");
    EXPECT_EQ(std::string(c.LauncherName), std::string(31, 'N'));
    EXPECT_EQ(std::string(c.UpdateUrl), std::string(255, 'u'));
    EXPECT_EQ(std::string(c.Title), std::string(63, 'T'));
    // A key with a digit too many is cut to one the key's parser still refuses.
    EXPECT_EQ(std::string(c.UpdateKey), std::string(129, 'a'));
    unsigned char key[kUpdateKeySize];
    EXPECT_FALSE(ParseUpdateKey(c.UpdateKey, key));
}

TEST_F(ConfigTest, QuickCheckOnlyForOne) {
    EXPECT_FALSE(Read("").QuickCheck);
    EXPECT_FALSE(Read("[Launcher]\r\nTitle=x\r\n").QuickCheck);
    for (const char* on : {"1", " 1 ", "\"1\""}) {
        EXPECT_TRUE(Read(std::string("[Launcher]\r\nquickcheck=") + on + "\r\n").QuickCheck) << on;
    }
    for (const char* off : {"0", "", "yes", "true", "01", "11", "1x", "2"}) {
        EXPECT_FALSE(Read(std::string("[Launcher]\r\nQuickCheck=") + off + "\r\n").QuickCheck)
            << off;
    }
}

TEST_F(ConfigTest, FolderTooLongForTheFileGivesDefaults) {
    std::string longDir = "C:\\" + std::string(250, 'd');
    LauncherConfig c;
    ReadLauncherConfig(longDir.c_str(), &c);
    ExpectDefaults(c);
}

TEST_F(ConfigTest, ReadFromLauncherFolderNotWorkingDirectory) {
    std::string other = MakeScratchDir("cwd");
    ASSERT_TRUE(WriteWholeFile(other + "\\Launcher.ini", "[Launcher]\r\nTitle=WRONG\r\n"));
    char saved[MAX_PATH];
    GetCurrentDirectoryA(sizeof saved, saved);
    SetCurrentDirectoryA(other.c_str());
    LauncherConfig c = Read("[Launcher]\r\nTitle=RIGHT\r\n");
    SetCurrentDirectoryA(saved);
    RemoveTree(other);
    EXPECT_STREQ(c.Title, "RIGHT");
}

} // namespace
