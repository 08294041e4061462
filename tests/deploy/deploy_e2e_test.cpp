// The real Launcher.exe under Wine against the scaled deployment, over HTTPS as players
// use it: an update and a registration through nginx, and a certificate from another
// authority refused. Started by tests/deploy/deploy_test.py with the stack's addresses in
// QELT_DEPLOY_URL (trusted edge), QELT_DEPLOY_ROGUE_URL (same tree, untrusted certificate),
// QELT_DEPLOY_PUBLISHED (the published client folder) and QELT_DEPLOY_ACCOUNT.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "launcher_process.h"
#include "test_files.h"
#include "window_probe.h"

namespace {

constexpr char kOnlineText[] = "Server dang online - san sang vao game";
constexpr char kUnreachableText[] = "Khong ket noi duoc update server - dung file hien tai";
constexpr int kRegisterId = 1005;
constexpr int kFieldIds[] = {1101, 1102, 1103, 1104};
// The published files the client below lacks or has in an old version.
constexpr const char* kPublishedFiles[] = {"data\\readme.txt", "data\\map1.att"};

std::string Env(const char* name) {
    const char* value = getenv(name);
    return value == nullptr ? "" : value;
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
    for (DWORD waited = 0;; waited += 100) {
        if (condition()) {
            return true;
        }
        if (waited >= timeoutMs) {
            return false;
        }
        Sleep(100);
    }
}

class DeployE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        if (Env("QELT_DEPLOY_URL").empty()) {
            GTEST_SKIP() << "run by tests/deploy/deploy_test.py against a running stack";
        }
    }
    void TearDown() override {
        StopLauncher(&launcher_);
        EndFakeGame(dir_ + "\\game.exe");
        Sleep(100);
        if (!dir_.empty()) {
            RemoveTree(dir_);
        }
    }
    // A client with the game, an old map file and no readme, pointed at url.
    void StartClient(const char* tag, const std::string& url) {
        dir_ = MakeClientDir(tag, "[Launcher]\r\nUpdateUrl=" + url +
                                      "\r\nGameExecutable=game.exe\r\nTitle=ZORVAND Online\r\n");
        ASSERT_FALSE(dir_.empty());
        ASSERT_TRUE(InstallFakeGame(dir_ + "\\game.exe"));
        CreateDirectoryA((dir_ + "\\data").c_str(), nullptr);
        ASSERT_TRUE(WriteWholeFile(dir_ + "\\data\\map1.att", "old map"));
        ASSERT_TRUE(StartLauncher(dir_, "", &launcher_));
    }

    LauncherProcess launcher_ = {};
    std::string dir_;
};

TEST_F(DeployE2E, UpdatesAndRegistersThroughTheHttpsEdge) {
    StartClient("deploy", Env("QELT_DEPLOY_URL"));
    const WindowState state = WaitForStatus(launcher_.Window, kOnlineText, 60000);
    ASSERT_EQ(state.Status, kOnlineText);
    for (const char* file : kPublishedFiles) {
        SCOPED_TRACE(file);
        std::string published;
        std::string local;
        ASSERT_TRUE(ReadWholeFile(Env("QELT_DEPLOY_PUBLISHED") + "\\" + file, &published));
        ASSERT_TRUE(ReadWholeFile(dir_ + "\\" + file, &local));
        EXPECT_TRUE(local == published);
    }
    ASSERT_TRUE(WaitFor(
        [&] {
            WindowState now;
            return ReadWindowState(launcher_.Window, &now) && now.RegisterEnabled;
        },
        20000));

    ASSERT_TRUE(PressButton(launcher_.Window, kRegisterId));
    HWND dialog = WaitForProcessWindow(launcher_.Info.dwProcessId, "QeltRegister", 10000);
    ASSERT_NE(dialog, nullptr);
    const std::string account = Env("QELT_DEPLOY_ACCOUNT");
    ASSERT_FALSE(account.empty());
    const std::wstring wideAccount(account.begin(), account.end()); // ASCII letters and digits
    TypeText(GetDlgItem(dialog, 1101), wideAccount.c_str());
    TypeText(GetDlgItem(dialog, 1102), L"s3cret!x");
    TypeText(GetDlgItem(dialog, 1103), L"s3cret!x");
    TypeText(GetDlgItem(dialog, 1104), L"player@zorvand.vn");
    ASSERT_TRUE(PostKey(GetDlgItem(dialog, 1104), VK_RETURN));
    // Only a 200 empties the form; Argon2id on the server takes a moment.
    EXPECT_TRUE(WaitFor(
        [&] {
            for (int id : kFieldIds) {
                if (!WindowTextW(GetDlgItem(dialog, id)).empty()) {
                    return false;
                }
            }
            return true;
        },
        30000));
    SaveScreenshot(dialog, Env("QELT_DEPLOY_SCREENSHOTS"), "deploy-register");
}

TEST_F(DeployE2E, RefusesACertificateFromAnotherAuthority) {
    StartClient("rogue", Env("QELT_DEPLOY_ROGUE_URL"));
    const WindowState state = WaitForStatus(launcher_.Window, kUnreachableText, 60000);
    EXPECT_EQ(state.Status, kUnreachableText);
    std::string local;
    ASSERT_TRUE(ReadWholeFile(dir_ + "\\data\\map1.att", &local));
    EXPECT_EQ(local, "old map");
    EXPECT_FALSE(FileExists(dir_ + "\\data\\readme.txt"));
}

} // namespace
