// The settings of Launcher.ini: fixed-capacity strings in the system code page, the
// download rate limit and one switch.
#pragma once

#include <cstdint>

struct LauncherConfig {
    char LauncherName[32];
    char GameExecutable[128];
    char UpdateUrl[256];
    char BackgroundImage[128];
    char Title[64];
    // The operator's public key: 128 hexadecimal digits. One byte more than that, so that
    // an overlong value is cut to one the key's parser refuses, never to another key.
    char UpdateKey[130];
    uint32_t DownloadLimitKBps; // KiB per second for every download; 0: no limit
    // Trust what the record says of files unchanged since they were verified (size,
    // write time, file ID), instead of reading every file at every start. On only for "1".
    bool QuickCheck;
};

constexpr char kConfigFileName[] = "Launcher.ini";
constexpr char kConfigSection[] = "Launcher";
constexpr char kDefaultLauncherName[] = "Qelt Launcher";
constexpr char kDefaultGameExecutable[] = "main.exe";
constexpr char kDefaultUpdateUrl[] = "";
constexpr char kDefaultBackgroundImage[] = "launcher_bg.png";
constexpr char kDefaultTitle[] = "ZORVAND";
constexpr char kDefaultUpdateKey[] = "";
constexpr char kQuickCheckOn[] = "1";
