// A scratch client folder wired into g_Launcher, a loopback update server and a clean
// recorder: the common ground of the update engine tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "recording_window_ops.h"
#include "update/manifest.h"
#include "test_server.h"

class UpdateTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Points the launcher at a client folder; the launcher file itself is not created.
    void UseLauncherPath(const std::string& dir, const std::string& fileName);
    std::string Path(const std::string& relative) const { return dir_ + "\\" + relative; }
    void Put(const std::string& relative, const std::string& content);
    std::string Get(const std::string& relative) const;
    bool Exists(const std::string& relative) const;
    // Manifest line for content under path: "<crc hex>\t<path>\n".
    static std::string Line(const std::string& path, const std::string& content);
    // The entry the manifest's line gives.
    static ManifestEntry Entry(const std::string& path, const std::string& content);
    // Other bytes than genuine of the same size and CRC-32 (crc_forge.h).
    static std::string Forged(const std::string& genuine, size_t changedAt = 0);
    // Every file below the client folder with its bytes, keyed by relative path.
    std::map<std::string, std::string> Folder() const;
    static std::string ReadProgram(const char* path);
    static uint32_t BufferChecksumOf(const std::string& content);

    std::vector<std::string> Ops() const { return RecordedOpLines(); }
    std::vector<std::string> Paths() const { return server_.RequestedPaths(); }

    TestServer server_;
    std::string dir_;
};

// Whether 'needle' appears in 'haystack' as a contiguous run, in order.
bool ContainsRun(const std::vector<std::string>& haystack, const std::vector<std::string>& needle);
