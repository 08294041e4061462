// The game server probe: a TCP connection within a second counts as online.
#include "status_probe.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "options.h"

namespace {

constexpr int kProbeIntervalMs = 2000;
constexpr int kProbeTimeoutMs = 1000;

std::string g_GameServer;
std::atomic<bool> g_GameOnline{false};
std::mutex g_ProbeLock;
std::condition_variable g_ProbeWake;
bool g_ProbeStop = false;
std::thread g_Probe;

// True when some address of host:port accepts a TCP connection within the time-out.
bool ProbeGameServer() {
    std::string host;
    std::string port;
    if (!SplitHostPort(g_GameServer, &host, &port)) {
        return false;
    }
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &list) != 0) {
        return false;
    }
    bool online = false;
    for (addrinfo* a = list; a != nullptr && !online; a = a->ai_next) {
        const int fd = socket(a->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            continue;
        }
        if (connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
            online = true;
        } else if (errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int error = 0;
            socklen_t length = sizeof error;
            online = poll(&p, 1, kProbeTimeoutMs) == 1 &&
                     getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
        }
        close(fd);
    }
    freeaddrinfo(list);
    return online;
}

void ProbeLoop() {
    std::unique_lock<std::mutex> hold(g_ProbeLock);
    while (!g_ProbeStop) {
        hold.unlock();
        g_GameOnline = ProbeGameServer();
        hold.lock();
        g_ProbeWake.wait_for(hold, std::chrono::milliseconds(kProbeIntervalMs),
                             [] { return g_ProbeStop; });
    }
}

} // namespace

void StartStatusProbe(const std::string& gameServer) {
    g_GameServer = gameServer;
    g_GameOnline = ProbeGameServer();
    g_Probe = std::thread(ProbeLoop);
}

void StopStatusProbe() {
    {
        std::lock_guard<std::mutex> hold(g_ProbeLock);
        g_ProbeStop = true;
    }
    g_ProbeWake.notify_all();
    if (g_Probe.joinable()) {
        g_Probe.join();
    }
}

bool GameServerOnline() {
    return g_GameOnline;
}
