// Connect in the real Launcher.exe with a stand-in game: the error box of a missing game,
// the start in the launcher's folder, the launcher closing after the game, and Close
// leaving a running game alone.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "launcher_process.h"
#include "test_files.h"
#include "window_probe.h"

#ifndef QELT_SCREENSHOT_DIR
#error "QELT_SCREENSHOT_DIR must name the folder for screenshots"
#endif

namespace {

constexpr int kConnectId = 1001;
constexpr int kCloseId = 1004;
constexpr char kUpdatingOff[] = "Auto update: da tat";
constexpr char kGameRunning[] = "Dang chay game...";

// Without UpdateUrl the update run ends at once with Connect enabled.
class GameLaunchE2E : public ::testing::Test {
  protected:
    void TearDown() override {
        StopLauncher(&launcher_);
        if (game_ != nullptr) {
            EndFakeGame(gamePath_);
            if (WaitForSingleObject(game_, 10000) != WAIT_OBJECT_0) {
                TerminateProcess(game_, 99);
            }
            CloseHandle(game_);
        }
        for (const std::string& dir : {dir_, elsewhere_}) {
            if (!dir.empty()) {
                RemoveTree(dir);
            }
        }
    }

    // A client folder whose game is the stand-in (unless withGame is false), and the
    // launcher started there with Connect enabled.
    void Start(const char* tag, const std::string& gameExecutable, bool withGame,
               const std::string& workingDir = "") {
        dir_ = MakeClientDir(tag, "[Launcher]\r\nGameExecutable=" + gameExecutable + "\r\n");
        ASSERT_FALSE(dir_.empty());
        gamePath_ = dir_ + "\\" + gameExecutable;
        if (withGame) {
            ASSERT_TRUE(InstallFakeGame(gamePath_));
        }
        ASSERT_TRUE(StartLauncherIn(dir_, workingDir.empty() ? dir_ : workingDir, "", &launcher_));
        ASSERT_EQ(WaitForStatus(launcher_.Window, kUpdatingOff).Status, kUpdatingOff);
        // The text comes first, then Connect is enabled.
        WindowState state;
        for (int i = 0;
             i < 200 && !(ReadWindowState(launcher_.Window, &state) && state.ConnectEnabled); ++i) {
            Sleep(50);
        }
        ASSERT_TRUE(state.ConnectEnabled);
    }

    // Presses Connect and waits for the stand-in game to report its start.
    void Connect(GameRun* run) {
        ASSERT_TRUE(PressButton(launcher_.Window, kConnectId));
        ASSERT_TRUE(WaitForGameRun(gamePath_, run, 15000));
        game_ = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, run->Pid);
        ASSERT_NE(game_, nullptr);
    }

    std::string dir_;
    std::string elsewhere_;
    std::string gamePath_;
    LauncherProcess launcher_ = {};
    HANDLE game_ = nullptr;
};

TEST_F(GameLaunchE2E, MissingGameShowsTheFullPathInAnErrorBoxAndChangesNothingElse) {
    Start("nogame", "nothere.exe", false);
    for (int attempt = 0; attempt < 2; ++attempt) { // the player may try again
        SCOPED_TRACE(attempt);
        ASSERT_TRUE(PressButton(launcher_.Window, kConnectId));
        HWND box = WaitForProcessWindow(launcher_.Info.dwProcessId, "#32770", 10000);
        ASSERT_NE(box, nullptr);
        MessageBoxContent content;
        ASSERT_TRUE(ReadMessageBox(box, &content));
        EXPECT_EQ(content.Caption, "Failed to start the game");
        EXPECT_EQ(content.Text, gamePath_);
        EXPECT_EQ(GetWindow(box, GW_OWNER), launcher_.Window);

        ASSERT_TRUE(PressButton(box, IDOK));
        for (int i = 0; i < 100 && IsWindow(box); ++i) {
            Sleep(50);
        }
        EXPECT_FALSE(IsWindow(box));
        WindowState state;
        ASSERT_TRUE(ReadWindowState(launcher_.Window, &state));
        EXPECT_EQ(state.Status, kUpdatingOff);
        EXPECT_TRUE(state.ConnectEnabled);
    }
    EXPECT_EQ(WaitForLauncherExit(&launcher_, 0), STILL_ACTIVE);
}

TEST_F(GameLaunchE2E, GameStartsInTheLauncherFolderAndItsEndClosesTheLauncher) {
    elsewhere_ = MakeScratchDir("elsewhere");
    Start("game", "the game.exe", true, elsewhere_);
    GameRun run;
    Connect(&run);
    EXPECT_EQ(lstrcmpiA(run.WorkingDir.c_str(), dir_.c_str()), 0) << run.WorkingDir;
    // The path alone, quoted: its space does not split it into arguments.
    EXPECT_EQ(lstrcmpiA(run.CommandLine.c_str(), ("\"" + gamePath_ + "\"").c_str()), 0)
        << run.CommandLine;

    WindowState state = WaitForStatus(launcher_.Window, kGameRunning);
    EXPECT_EQ(state.Status, kGameRunning);
    EXPECT_FALSE(state.ConnectEnabled);
    EXPECT_TRUE(state.RegisterEnabled);
    EXPECT_TRUE(state.CloseEnabled);
    SaveScreenshot(launcher_.Window, QELT_SCREENSHOT_DIR, "game-running");
    Sleep(1200); // a few watch ticks while the game runs change nothing
    EXPECT_EQ(WaitForLauncherExit(&launcher_, 0), STILL_ACTIVE);

    ASSERT_TRUE(EndFakeGame(gamePath_));
    ASSERT_EQ(WaitForSingleObject(game_, 10000), WAIT_OBJECT_0);
    const ULONGLONG gameEnded = GetTickCount64();
    EXPECT_EQ(WaitForLauncherExit(&launcher_, 10000), 0u);
    const ULONGLONG afterMs = GetTickCount64() - gameEnded;
    // The watch looks every 500 ms; the bound leaves room for a busy machine.
    EXPECT_LT(afterMs, 3000u);
    RecordProperty("launcher_exit_after_game_ms", static_cast<int>(afterMs));
    printf("launcher exited %llu ms after the game\n", afterMs);
}

TEST_F(GameLaunchE2E, CloseWhileTheGameRunsLeavesTheGameRunning) {
    Start("close", "game.exe", true);
    GameRun run;
    Connect(&run);
    ASSERT_EQ(WaitForStatus(launcher_.Window, kGameRunning).Status, kGameRunning);

    ASSERT_TRUE(PressButton(launcher_.Window, kCloseId));
    EXPECT_EQ(WaitForLauncherExit(&launcher_, 10000), 0u);
    EXPECT_EQ(WaitForSingleObject(game_, 1000), static_cast<DWORD>(WAIT_TIMEOUT));
}

} // namespace
