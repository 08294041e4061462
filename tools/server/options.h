// qelt-server's command line: what it serves, where it listens, and its limits.
#pragma once

#include <string>
#include <vector>

struct Options {
    std::string Root;
    std::string Listen = "127.0.0.1";
    int Port = 8080;
    std::string PortFile;
    std::string Db;
    std::string GameServer;
    unsigned Threads = 0;
    unsigned MaxConnections = 10000;
    bool MaxConnectionsGiven = false;
    unsigned TimeoutSeconds = 15;
    unsigned RequestTimeoutSeconds = 20;
    unsigned ConnectionsPerAddress = 64;
    unsigned HashThreads = 2;
    unsigned RegisterLimit = 5;
    std::vector<std::string> TrustedProxies;
    std::string OnRegister;
};

// Set once by ParseOptions before any thread starts; read-only afterwards.
extern Options g_Options;

// Fills g_Options from the command line; prints the usage and exits 0 for --help. False
// with a message on stderr for anything it cannot use.
bool ParseOptions(int argc, char** argv);

// "host:port" or "[v6]:port" into its two halves; false when either is missing.
bool SplitHostPort(const std::string& value, std::string* host, std::string* port);
