// Launcher self-update with a real stand-in launcher program that records how it was
// restarted.
#include "update/self_update.h"

#include <windows.h>

#include "system/launcher_state.h"
#include "system/start_program.h"
#include "test_files.h"
#include "update/update_worker.h"
#include "update_fixture.h"

#ifndef QELT_FAKE_LAUNCHER_EXE
#error "QELT_FAKE_LAUNCHER_EXE must name the stand-in launcher"
#endif

namespace {

using Lines = std::vector<std::string>;

class SelfUpdateTest : public UpdateTest {
  protected:
    void SetUp() override {
        UpdateTest::SetUp();
        oldBuild_ = ReadProgram(QELT_FAKE_LAUNCHER_EXE);
        ASSERT_FALSE(oldBuild_.empty());
        newBuild_ = oldBuild_ + "second build";
        Put("Launcher.exe", oldBuild_);
    }

    // Waits for the restarted stand-in to record its command line and folder.
    std::string WaitForRestartRecord() {
        for (int i = 0; i < 200 && !Exists("Launcher.exe.restarted.txt"); ++i) {
            Sleep(50);
        }
        Sleep(100);
        return Get("Launcher.exe.restarted.txt");
    }

    std::string oldBuild_;
    std::string newBuild_;
};

TEST_F(SelfUpdateTest, SwapsAndRestartsWithUpdatedWord) {
    server_.SetBody("/launcher/manifest.txt", Line("LAUNCHER.exe", newBuild_));
    server_.SetBody("/patch/Launcher.exe", newBuild_);
    EXPECT_EQ(RunUpdateSequence(), UpdateOutcome::SelfUpdateRestarting);
    EXPECT_EQ(Get("Launcher.exe"), newBuild_);
    EXPECT_EQ(Get("Launcher.exe.old"), oldBuild_);
    EXPECT_FALSE(Exists("Launcher.exe.new"));
    EXPECT_FALSE(Exists("Launcher.exe.new.part"));
    EXPECT_EQ(WaitForRestartRecord(), "\"" + Path("Launcher.exe") + "\" -updated\n" + dir_ + "\n");
    Lines ops = Ops();
    EXPECT_TRUE(ContainsRun(ops, {"status:Da cap nhat launcher - dang khoi dong lai...", "close"}));
    EXPECT_EQ(ops.back(), "close");
    // The request uses the local letter case of the file name.
    EXPECT_EQ(Paths(), (Lines{"/launcher/manifest.txt", "/patch/Launcher.exe"}));
}

// The build moved into place a moment ago is held open for a while, as a virus scanner
// holds a new program: the restart waits it out instead of asking for a restart by hand.
TEST_F(SelfUpdateTest, BuildHeldForAMomentStillRestarts) {
    server_.SetBody("/patch/Launcher.exe", newBuild_);
    g_StartRetry.Attempts = 100;
    g_StartRetry.DelayMs = 50;
    HANDLE releaser = nullptr;
    g_OnRecorded = [&](const RecordedOp& op) {
        if (op.Text == "Da cap nhat launcher - dang khoi dong lai...") {
            HANDLE held = HoldExclusively(Path("Launcher.exe"));
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
            releaser = LetGoLater(held, 300);
        }
    };
    EXPECT_TRUE(SelfUpdateLauncher(Entry("Launcher.exe", newBuild_)));
    g_OnRecorded = nullptr;
    ASSERT_NE(releaser, nullptr);
    WaitForSingleObject(releaser, INFINITE);
    CloseHandle(releaser);
    EXPECT_EQ(Ops().back(), "close");
    EXPECT_EQ(WaitForRestartRecord(), "\"" + Path("Launcher.exe") + "\" -updated\n" + dir_ + "\n");
}

TEST_F(SelfUpdateTest, DamagedBuildChangesNothingAndOtherFilesStillUpdate) {
    server_.SetBody("/launcher/manifest.txt",
                    Line("Launcher.exe", newBuild_) + Line("a.txt", "alpha"));
    ScriptedResponse damaged;
    damaged.Body = newBuild_ + "corrupted";
    damaged.ETag = "\"damaged\""; // resumable, yet refused whole: nothing may stay to resume
    server_.SetResponse("/patch/Launcher.exe", damaged);
    server_.SetBody("/patch/a.txt", "alpha");
    EXPECT_EQ(RunUpdateSequence(), UpdateOutcome::Success);
    EXPECT_EQ(Get("Launcher.exe"), oldBuild_);
    EXPECT_FALSE(Exists("Launcher.exe.old"));
    EXPECT_FALSE(Exists("Launcher.exe.new"));
    EXPECT_FALSE(Exists("Launcher.exe.new.part"));
    EXPECT_FALSE(Exists("Launcher.exe.new.qres"));
    EXPECT_EQ(Get("a.txt"), "alpha");
    Lines ops = Ops();
    EXPECT_NE(std::find(ops.begin(), ops.end(),
                        "status:Ban launcher tren server bi loi - bo qua cap nhat launcher"),
              ops.end());
    EXPECT_TRUE(ContainsRun(ops, {"status:Da cap nhat 1 file", "progress:100"}));
}

TEST_F(SelfUpdateTest, NotFoundNamesTheLauncherFile) {
    server_.SetBody("/patch/Launcher.exe", "no", 404);
    EXPECT_FALSE(SelfUpdateLauncher(ManifestEntry{"Launcher.exe", 0x1234u}));
    EXPECT_EQ(Ops().back(), "status:Tai that bai: Launcher.exe");
    EXPECT_EQ(Get("Launcher.exe"), oldBuild_);
}

TEST_F(SelfUpdateTest, RestartedLauncherMakesNoRequest) {
    g_Launcher.StartedAfterUpdate = true;
    server_.SetBody("/launcher/manifest.txt", Line("launcher.exe", newBuild_));
    server_.SetBody("/patch/Launcher.exe", newBuild_);
    EXPECT_EQ(RunUpdateSequence(), UpdateOutcome::Success);
    EXPECT_EQ(Paths(), (Lines{"/launcher/manifest.txt"}));
    EXPECT_EQ(Get("Launcher.exe"), oldBuild_);
    EXPECT_TRUE(ContainsRun(Ops(), {"status:Launcher vua cap nhat nhung CRC van lech - bo qua",
                                    "status:Client da moi nhat"}));
}

TEST_F(SelfUpdateTest, OnlyTopLevelEntryNamesTheLauncher) {
    server_.SetBody("/launcher/manifest.txt", Line("bin/Launcher.exe", newBuild_));
    server_.SetBody("/patch/bin/Launcher.exe", newBuild_);
    EXPECT_EQ(RunUpdateSequence(), UpdateOutcome::Success);
    EXPECT_EQ(Get("bin\\Launcher.exe"), newBuild_);
    EXPECT_EQ(Get("Launcher.exe"), oldBuild_);
}

TEST_F(SelfUpdateTest, PathLengthLimitIs249) {
    // One folder long enough that "<folder>\L.exe" is exactly 249 or 250 characters.
    for (size_t total : {249u, 250u}) {
        const std::string name = "L.exe";
        const std::string dir =
            dir_ + "\\" + std::string(total - dir_.size() - 2 - name.size(), 'd');
        CreateDirectoryA(dir.c_str(), nullptr);
        UseLauncherPath(dir, name);
        ASSERT_EQ(strlen(g_Launcher.LauncherPath), total);
        ClearRecordedOps();
        server_.ClearRequests();
        EXPECT_FALSE(SelfUpdateLauncher(ManifestEntry{"Launcher.exe", 0x1234u}));
        if (total == 249) {
            EXPECT_EQ(Paths().size(), 1u); // it went on to the download (404 here)
            EXPECT_EQ(Ops().back(), "status:Tai that bai: " + name);
        } else {
            EXPECT_TRUE(Paths().empty());
            EXPECT_EQ(Ops(), (Lines{"status:Duong dan launcher qua dai de tu cap nhat"}));
        }
    }
}

TEST_F(SelfUpdateTest, RunningFileThatCannotBeMovedLeavesNothingBehind) {
    // An executable held open without delete sharing cannot be renamed, as in a folder
    // that refuses changes.
    HANDLE holder = CreateFileA(Path("Launcher.exe").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    server_.SetBody("/patch/Launcher.exe", newBuild_);
    bool result = SelfUpdateLauncher(Entry("Launcher.exe", newBuild_));
    CloseHandle(holder);
    EXPECT_FALSE(result);
    EXPECT_EQ(Ops().back(), "status:Khong thay duoc launcher - thu muc khong cho ghi?");
    EXPECT_EQ(Get("Launcher.exe"), oldBuild_);
    EXPECT_FALSE(Exists("Launcher.exe.new"));
    EXPECT_FALSE(Exists("Launcher.exe.new.part"));
    EXPECT_FALSE(Exists("Launcher.exe.old"));
}

TEST_F(SelfUpdateTest, NewBuildThatCannotBeWrittenLeavesNothingBehind) {
    // A folder in the place of the new build's temporary file makes the write fail.
    ASSERT_TRUE(CreateDirectoryA(Path("Launcher.exe.new.part").c_str(), nullptr));
    server_.SetBody("/patch/Launcher.exe", newBuild_);
    EXPECT_FALSE(SelfUpdateLauncher(Entry("Launcher.exe", newBuild_)));
    EXPECT_EQ(Ops().back(), "status:Khong ghi duoc ban launcher moi");
    EXPECT_EQ(Get("Launcher.exe"), oldBuild_);
    EXPECT_FALSE(Exists("Launcher.exe.new"));
    EXPECT_FALSE(Exists("Launcher.exe.old"));
}

TEST_F(SelfUpdateTest, LeftoverOldBuildIsReplaced) {
    Put("Launcher.exe.old", "a build from long ago");
    server_.SetBody("/patch/Launcher.exe", newBuild_);
    EXPECT_TRUE(SelfUpdateLauncher(Entry("Launcher.exe", newBuild_)));
    EXPECT_EQ(Get("Launcher.exe.old"), oldBuild_);
    EXPECT_EQ(Get("Launcher.exe"), newBuild_);
    WaitForRestartRecord();
}

} // namespace
