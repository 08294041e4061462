// The real Launcher.exe against a loopback update server: first run into an empty folder,
// the status line a player sees at the end, and a self-update round trip to a second build.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "crc32/crc32.h"
#include "launcher_process.h"
#include "test_files.h"
#include "test_server.h"
#include "window_probe.h"

#ifndef QELT_SCREENSHOT_DIR
#error "QELT_SCREENSHOT_DIR must name the folder for screenshots"
#endif
#ifndef QELT_NEXT_LAUNCHER_EXE
#error "QELT_NEXT_LAUNCHER_EXE must name the second launcher build"
#endif
#ifndef QELT_FAKE_EXTRACTOR_EXE
#error "QELT_FAKE_EXTRACTOR_EXE must name the stand-in extractor"
#endif

namespace {

constexpr char kOnlineText[] = "Server dang online - san sang vao game";

std::string ReadProgram(const char* path) {
    std::string bytes;
    ReadWholeFile(path, &bytes);
    return bytes;
}

std::string Line(const std::string& path, const std::string& content) {
    char crc[16];
    snprintf(crc, sizeof crc, "%08X",
             static_cast<unsigned>(BufferChecksum(content.data(), content.size())));
    return std::string(crc) + "\t" + path + "\n";
}

// Waits until the window shows the status text; returns the last state seen.
// "1.0.0.N" from a program file's version record.
std::string FileVersionOf(const std::string& path) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    std::vector<char> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (size == 0 || !GetFileVersionInfoA(path.c_str(), 0, size, data.data()) ||
        !VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length)) {
        return "none";
    }
    char text[32];
    snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", info->dwFileVersionMS >> 16,
             info->dwFileVersionMS & 0xFFFF, info->dwFileVersionLS >> 16,
             info->dwFileVersionLS & 0xFFFF);
    return text;
}

class UpdateRunE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        BuildCrc32Table();
        ASSERT_TRUE(server_.Start());
    }
    void TearDown() override {
        StopLauncher(&launcher_);
        server_.Stop();
        if (!dir_.empty()) {
            RemoveTree(dir_);
        }
    }
    std::string Ini() const { return "[Launcher]\r\nUpdateUrl=" + server_.BaseUrl() + "\r\n"; }
    bool Exists(const std::string& relative) const { return FileExists(dir_ + "\\" + relative); }

    TestServer server_;
    LauncherProcess launcher_ = {};
    std::string dir_;
};

TEST_F(UpdateRunE2E, EmptyFolderIsInstalledUpdatedAndGoesOnline) {
    server_.SetBody("/downloads/Qelt-Data.exe", ReadProgram(QELT_FAKE_EXTRACTOR_EXE));
    server_.SetBody("/launcher/manifest.txt",
                    "# client files\r\n" + Line("main.exe", "game") + Line("data/map1.att", "map"));
    server_.SetBody("/patch/data/map1.att", "map");
    server_.SetBody("/launcher/status", "online");
    dir_ = MakeClientDir("firstrun", Ini());
    ASSERT_TRUE(StartLauncher(dir_, "", &launcher_));

    WindowState state = WaitForStatus(launcher_.Window, kOnlineText);
    EXPECT_EQ(state.Status, kOnlineText);
    EXPECT_EQ(state.Progress, 100);
    EXPECT_TRUE(state.ConnectEnabled);
    EXPECT_TRUE(state.RegisterEnabled);
    SaveScreenshot(launcher_.Window, QELT_SCREENSHOT_DIR, "update-online");

    std::string content;
    EXPECT_TRUE(ReadWholeFile(dir_ + "\\main.exe", &content) && content == "game");
    EXPECT_TRUE(ReadWholeFile(dir_ + "\\data\\map1.att", &content) && content == "map");
    EXPECT_FALSE(Exists("Qelt-Data.exe"));
    // The status is asked only after every file was in place.
    EXPECT_EQ(server_.RequestedPaths(),
              (std::vector<std::string>{"/downloads/Qelt-Data.exe", "/launcher/manifest.txt",
                                        "/patch/data/map1.att", "/launcher/status"}));
    for (const RecordedRequest& request : server_.Requests()) {
        EXPECT_EQ(request.Header("User-Agent"), "QeltLauncher");
    }
}

TEST_F(UpdateRunE2E, OfflineServerDisablesConnectAndRegister) {
    server_.SetBody("/launcher/manifest.txt", "");
    server_.SetBody("/launcher/status", "offline");
    dir_ = MakeClientDir("offline", Ini());
    ASSERT_TRUE(WriteWholeFile(dir_ + "\\main.exe", "game"));
    ASSERT_TRUE(StartLauncher(dir_, "", &launcher_));
    WindowState state = WaitForStatus(launcher_.Window, "Server offline - chua ket noi duoc");
    EXPECT_EQ(state.Status, "Server offline - chua ket noi duoc");
    EXPECT_FALSE(state.ConnectEnabled);
    EXPECT_FALSE(state.RegisterEnabled);
    SaveScreenshot(launcher_.Window, QELT_SCREENSHOT_DIR, "update-offline");
}

TEST_F(UpdateRunE2E, UnreachableServerStillLetsThePlayerConnect) {
    const std::string url = server_.BaseUrl();
    server_.Stop();
    dir_ = MakeClientDir("unreachable", "[Launcher]\r\nUpdateUrl=" + url + "\r\n");
    ASSERT_TRUE(WriteWholeFile(dir_ + "\\main.exe", "game"));
    ASSERT_TRUE(StartLauncher(dir_, "", &launcher_));
    const char* text = "Khong ket noi duoc update server - dung file hien tai";
    WindowState state = WaitForStatus(launcher_.Window, text);
    EXPECT_EQ(state.Status, text);
    EXPECT_TRUE(state.ConnectEnabled);
    SaveScreenshot(launcher_.Window, QELT_SCREENSHOT_DIR, "update-unreachable");
}

TEST_F(UpdateRunE2E, SelfUpdateRestartsIntoTheNewBuildOnce) {
    const std::string nextBuild = ReadProgram(QELT_NEXT_LAUNCHER_EXE);
    ASSERT_FALSE(nextBuild.empty());
    server_.SetBody("/launcher/manifest.txt", Line("launcher.exe", nextBuild));
    server_.SetBody("/patch/Launcher.exe", nextBuild);
    server_.SetBody("/launcher/status", "online");
    dir_ = MakeClientDir("selfupdate", Ini());
    ASSERT_TRUE(WriteWholeFile(dir_ + "\\main.exe", "game"));
    const std::string launcherPath = dir_ + "\\Launcher.exe";
    EXPECT_EQ(FileVersionOf(launcherPath), "1.0.0.0");
    ASSERT_TRUE(StartLauncher(dir_, "", &launcher_));

    // The first process closes itself once the new build has been started.
    EXPECT_EQ(WaitForLauncherExit(&launcher_, 20000), 0u);
    HWND next = nullptr;
    for (int i = 0; i < 200 && next == nullptr; ++i) {
        HWND found = WaitForLauncherWindow(0, 100);
        DWORD pid = 0;
        GetWindowThreadProcessId(found, &pid);
        if (found != nullptr && pid != launcher_.Info.dwProcessId) {
            next = found;
        }
    }
    ASSERT_NE(next, nullptr);
    DWORD nextPid = 0;
    GetWindowThreadProcessId(next, &nextPid);
    HANDLE nextProcess =
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, nextPid);
    ASSERT_NE(nextProcess, nullptr);
    char image[MAX_PATH];
    DWORD imageLength = sizeof image;
    ASSERT_TRUE(QueryFullProcessImageNameA(nextProcess, 0, image, &imageLength));
    EXPECT_EQ(lstrcmpiA(image, launcherPath.c_str()), 0) << image;

    WindowState state = WaitForStatus(next, kOnlineText);
    EXPECT_EQ(state.Status, kOnlineText);
    EXPECT_EQ(FileVersionOf(launcherPath), "1.0.0.2");
    EXPECT_FALSE(Exists("Launcher.exe.old")); // removed by the restarted launcher
    EXPECT_FALSE(Exists("Launcher.exe.new"));
    int launcherDownloads = 0;
    for (const std::string& path : server_.RequestedPaths()) {
        launcherDownloads += path == "/patch/Launcher.exe" ? 1 : 0;
    }
    EXPECT_EQ(launcherDownloads, 1); // the restarted build does not update itself again
    SaveScreenshot(next, QELT_SCREENSHOT_DIR, "self-update-restarted");

    PostMessageA(next, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(nextProcess, 10000), WAIT_OBJECT_0);
    CloseHandle(nextProcess);
}

} // namespace
