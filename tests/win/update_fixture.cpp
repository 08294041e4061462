// Shared set-up of the update engine tests.
#include "update_fixture.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "crc32/crc32.h"
#include "crc_forge.h"
#include "system/launcher_state.h"
#include "system/start_program.h"
#include "test_files.h"
#include "update/update_timings.h"

void UpdateTest::SetUp() {
    BuildCrc32Table();
    ClearRecordedOps();
    g_OnRecorded = nullptr;
    g_StartRetry = StartRetry();
    g_UpdateTimings = UpdateTimings();
    g_UpdateTimings.OldFileRetryMs = 20;
    dir_ = MakeScratchDir("update");
    ASSERT_FALSE(dir_.empty());
    ASSERT_TRUE(server_.Start());
    memset(&g_Launcher.Config, 0, sizeof g_Launcher.Config);
    strcpy(g_Launcher.Config.GameExecutable, "main.exe");
    snprintf(g_Launcher.Config.UpdateUrl, sizeof g_Launcher.Config.UpdateUrl, "%s",
             server_.BaseUrl().c_str());
    g_Launcher.StartedAfterUpdate = false;
    g_Launcher.GameProcess.store(nullptr);
    UseLauncherPath(dir_, "Launcher.exe");
    Put("main.exe", "game"); // most tests start with the game installed
}

void UpdateTest::TearDown() {
    g_OnRecorded = nullptr;
    server_.Stop();
    RemoveTree(dir_);
}

void UpdateTest::UseLauncherPath(const std::string& dir, const std::string& fileName) {
    snprintf(g_Launcher.LauncherDir, sizeof g_Launcher.LauncherDir, "%s", dir.c_str());
    snprintf(g_Launcher.LauncherPath, sizeof g_Launcher.LauncherPath, "%s\\%s", dir.c_str(),
             fileName.c_str());
    snprintf(g_Launcher.LauncherFileName, sizeof g_Launcher.LauncherFileName, "%s",
             fileName.c_str());
}

void UpdateTest::Put(const std::string& relative, const std::string& content) {
    ASSERT_TRUE(WriteWholeFile(Path(relative), content)) << relative;
}

std::string UpdateTest::Get(const std::string& relative) const {
    std::string content;
    if (!ReadWholeFile(Path(relative), &content)) {
        return "<missing>";
    }
    return content;
}

bool UpdateTest::Exists(const std::string& relative) const {
    return FileExists(Path(relative));
}

std::string UpdateTest::Line(const std::string& path, const std::string& content) {
    char crc[16];
    snprintf(crc, sizeof crc, "%08X",
             static_cast<unsigned>(BufferChecksum(content.data(), content.size())));
    return std::string(crc) + "\t" + path + "\n";
}

ManifestEntry UpdateTest::Entry(const std::string& path, const std::string& content) {
    return ManifestEntry{path, BufferChecksumOf(content)};
}

std::string UpdateTest::Forged(const std::string& genuine, size_t changedAt) {
    return ForgeSameCrc(genuine, changedAt, [](const std::string& bytes) {
        return BufferChecksum(bytes.data(), bytes.size());
    });
}

std::map<std::string, std::string> UpdateTest::Folder() const {
    std::map<std::string, std::string> files;
    std::vector<std::string> pending = {""};
    while (!pending.empty()) {
        const std::string relative = pending.back();
        pending.pop_back();
        const std::string dir = relative.empty() ? dir_ : Path(relative);
        for (const std::string& name : ListFolder(dir)) {
            const std::string path = relative.empty() ? name : relative + "\\" + name;
            std::string bytes;
            if (GetFileAttributesA(Path(path).c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
                pending.push_back(path);
                files[path + "\\"] = "";
            } else if (ReadWholeFile(Path(path), &bytes)) {
                files[path] = bytes;
            }
        }
    }
    return files;
}

uint32_t UpdateTest::BufferChecksumOf(const std::string& content) {
    return BufferChecksum(content.data(), content.size());
}

std::string UpdateTest::ReadProgram(const char* path) {
    std::string bytes;
    ReadWholeFile(path, &bytes);
    return bytes;
}

bool ContainsRun(const std::vector<std::string>& haystack, const std::vector<std::string>& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
           haystack.end();
}
