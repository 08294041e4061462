// Connection limits and the whole-request deadline, around libmicrohttpd's callbacks.
#include "connection_guard.h"

#include <netinet/in.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "request.h"

namespace {

using Clock = std::chrono::steady_clock;

// How often the watchdog looks for requests over their time: the bound is kept to within
// this much.
constexpr auto kWatchInterval = std::chrono::milliseconds(250);
constexpr auto kReportInterval = std::chrono::minutes(1);

struct Tracked {
    int Fd = -1;
    std::string Address;
    bool Counted = false; // holds one of its address's places
    // Clock ticks by which the request under way must have arrived; 0 while it is answered.
    std::atomic<int64_t> Deadline{0};
};

ConnectionLimits g_Limits;
// Guards the three below, and keeps a tracked descriptor open while held.
std::mutex g_Lock;
unsigned g_Held = 0;
std::unordered_map<std::string, unsigned> g_PerAddress;
std::unordered_set<Tracked*> g_Open;

std::atomic<uint64_t> g_RefusedTotal{0};
std::atomic<uint64_t> g_RefusedAddress{0};
std::atomic<uint64_t> g_CutSlow{0};

std::mutex g_WatchLock;
std::condition_variable g_WatchWake;
bool g_WatchStop = false;
std::thread g_Watchdog;

int64_t DeadlineFromNow() {
    return (Clock::now() + std::chrono::seconds(g_Limits.RequestSeconds))
        .time_since_epoch()
        .count();
}

// The address's text, or "" for a peer that has none (it then shares one place count).
std::string KeyOf(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN];
    return address != nullptr && AddressText(address, text, sizeof text) ? text : "";
}

bool CountsPerAddress(const std::string& key) {
    if (g_Limits.PerAddress == 0) {
        return false;
    }
    for (const std::string& exempt : g_Limits.Exempt) {
        if (exempt == key) {
            return false;
        }
    }
    return true;
}

Tracked* TrackedOf(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info != nullptr ? static_cast<Tracked*>(info->socket_context) : nullptr;
}

// Shuts the connections whose request is over its time. shutdown() rather than close():
// libmicrohttpd sees the end of the stream and closes the connection itself. The lock
// keeps the descriptor from being closed and reused meanwhile, since libmicrohttpd
// reports a connection closed (TrackConnection) before it closes the descriptor.
void CutSlowRequests() {
    const int64_t now = Clock::now().time_since_epoch().count();
    std::lock_guard<std::mutex> hold(g_Lock);
    for (Tracked* t : g_Open) {
        const int64_t deadline = t->Deadline.load();
        if (deadline != 0 && deadline <= now) {
            t->Deadline = 0;
            shutdown(t->Fd, SHUT_RDWR);
            ++g_CutSlow;
        }
    }
}

void Report(uint64_t total, uint64_t address, uint64_t slow) {
    fprintf(stderr,
            "qelt-server: connections refused at the limit of %u: %llu; refused over %u from "
            "one address: %llu; requests cut after %u s: %llu\n",
            g_Limits.Total, static_cast<unsigned long long>(total), g_Limits.PerAddress,
            static_cast<unsigned long long>(address), g_Limits.RequestSeconds,
            static_cast<unsigned long long>(slow));
}

// Cuts slow requests until stopped; reports refusals and cuts the first time at once, then
// at most once a minute, and what is left unreported when it stops.
void Watch() {
    uint64_t reported[3] = {0, 0, 0};
    Clock::time_point lastReport = Clock::now() - kReportInterval;
    std::unique_lock<std::mutex> hold(g_WatchLock);
    for (bool stopping = false; !stopping;) {
        hold.unlock();
        CutSlowRequests();
        hold.lock();
        stopping = g_WatchStop;
        const uint64_t now[3] = {g_RefusedTotal, g_RefusedAddress, g_CutSlow};
        if ((now[0] != reported[0] || now[1] != reported[1] || now[2] != reported[2]) &&
            (stopping || Clock::now() - lastReport >= kReportInterval)) {
            Report(now[0] - reported[0], now[1] - reported[1], now[2] - reported[2]);
            std::copy(now, now + 3, reported);
            lastReport = Clock::now();
        }
        if (!stopping) {
            g_WatchWake.wait_for(hold, kWatchInterval, [] { return g_WatchStop; });
        }
    }
}

} // namespace

void StartConnectionGuard(const ConnectionLimits& limits) {
    g_Limits = limits;
    g_Watchdog = std::thread(Watch);
}

void StopConnectionGuard() {
    {
        std::lock_guard<std::mutex> hold(g_WatchLock);
        g_WatchStop = true;
    }
    g_WatchWake.notify_all();
    if (g_Watchdog.joinable()) {
        g_Watchdog.join();
    }
}

// The place is taken here, under the lock, so that no number of connections arriving at
// once on several threads gets past a limit; TrackConnection gives it back at the close.
MHD_Result AdmitConnection(void*, const sockaddr* address, socklen_t) {
    const std::string key = KeyOf(address);
    std::lock_guard<std::mutex> hold(g_Lock);
    if (g_Held >= g_Limits.Total) {
        ++g_RefusedTotal;
        return MHD_NO;
    }
    if (CountsPerAddress(key)) {
        unsigned& held = g_PerAddress[key];
        if (held >= g_Limits.PerAddress) {
            ++g_RefusedAddress;
            return MHD_NO;
        }
        ++held;
    }
    ++g_Held;
    return MHD_YES;
}

void TrackConnection(void*, MHD_Connection* connection, void** socketContext,
                     MHD_ConnectionNotificationCode code) {
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        auto* t = new Tracked;
        const MHD_ConnectionInfo* fd =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        const MHD_ConnectionInfo* peer =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        t->Fd = fd != nullptr ? fd->connect_fd : -1;
        t->Address = KeyOf(peer != nullptr ? peer->client_addr : nullptr);
        t->Counted = CountsPerAddress(t->Address);
        t->Deadline = t->Fd >= 0 ? DeadlineFromNow() : 0;
        std::lock_guard<std::mutex> hold(g_Lock);
        g_Open.insert(t);
        *socketContext = t;
        return;
    }
    auto* t = static_cast<Tracked*>(*socketContext);
    if (t == nullptr) {
        return;
    }
    {
        std::lock_guard<std::mutex> hold(g_Lock);
        g_Open.erase(t);
        --g_Held;
        if (t->Counted) {
            const auto it = g_PerAddress.find(t->Address);
            if (it != g_PerAddress.end() && --it->second == 0) {
                g_PerAddress.erase(it);
            }
        }
    }
    delete t;
    *socketContext = nullptr;
}

void RequestArrived(MHD_Connection* connection) {
    if (Tracked* t = TrackedOf(connection)) {
        t->Deadline = 0;
    }
}

void RequestDone(MHD_Connection* connection) {
    if (Tracked* t = TrackedOf(connection)) {
        t->Deadline = DeadlineFromNow();
    }
}
