// qelt-server: the update server a launcher talks to. Serves the update tree made by
// qelt-publish (only /launcher/, /patch/ and /downloads/), reports whether the game server
// is up, and creates accounts in a database with Argon2id password hashes. HTTP is
// libmicrohttpd's: a thread pool on epoll, bounded connections, time-outs and sendfile.
#include <arpa/inet.h>
#include <microhttpd.h>
#include <signal.h>
#include <sodium.h>
#include <strings.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "access_log.h"
#include "account_store.h"
#include "connection_guard.h"
#include "options.h"
#include "registration.h"
#include "request.h"
#include "server_texts.h"
#include "static_files.h"
#include "status_probe.h"

namespace {

// Request line and headers of one request, plus the body buffer, live in this much memory.
constexpr size_t kConnectionMemory = 16384;
constexpr int kShutdownGraceSeconds = 15;

std::atomic<int> g_ActiveRequests{0};

struct FramingHeaders {
    int ContentLength = 0;
    bool TransferEncoding = false;
};

MHD_Result CountFraming(void* cls, MHD_ValueKind, const char* key, const char*) {
    auto* seen = static_cast<FramingHeaders*>(cls);
    if (strcasecmp(key, MHD_HTTP_HEADER_CONTENT_LENGTH) == 0) {
        ++seen->ContentLength;
    } else if (strcasecmp(key, MHD_HTTP_HEADER_TRANSFER_ENCODING) == 0) {
        seen->TransferEncoding = true;
    }
    return MHD_YES;
}

// A body's length given twice, or by both Content-Length and Transfer-Encoding, is read one
// way here and perhaps another by a proxy in front: such a request is refused, not guessed.
bool AmbiguousBodyLength(MHD_Connection* connection) {
    FramingHeaders seen;
    MHD_get_connection_values(connection, MHD_HEADER_KIND, &CountFraming, &seen);
    return seen.ContentLength > 1 || (seen.ContentLength == 1 && seen.TransferEncoding);
}

MHD_Result OnRequest(void*, MHD_Connection* connection, const char* url, const char* method,
                     const char*, const char* data, size_t* dataSize, void** context) {
    auto* r = static_cast<Request*>(*context);
    if (r == nullptr) {
        r = new Request;
        *context = r;
        ++g_ActiveRequests;
        r->Method = method;
        r->Url = url;
        IdentifyClient(connection, r);
        r->Mapped = MapRequestPath(url, &r->Path);
        r->IsRegister = strcmp(method, MHD_HTTP_METHOD_POST) == 0 && r->Mapped &&
                        r->Path.Relative == "launcher/register";
        if (AmbiguousBodyLength(connection)) {
            RequestArrived(connection);
            return Answer(connection, r, MHD_HTTP_BAD_REQUEST, kAnswerBadRequest);
        }
        if (r->IsRegister) {
            const char* length =
                MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Length");
            if (length != nullptr && strtoull(length, nullptr, 10) > kMaxRegisterBody) {
                RequestArrived(connection);
                return Answer(connection, r, MHD_HTTP_CONTENT_TOO_LARGE, kAnswerTooLarge);
            }
        }
        // Answering only from the second call, once the request has been read whole, keeps
        // the connection alive for the next request.
        return MHD_YES;
    }
    if (*dataSize == 0) {
        RequestArrived(connection); // the last call of a request: all of it is in
    }
    if (r->Status != 0) {
        *dataSize = 0;
        return MHD_YES;
    }
    if (r->IsRegister) {
        return Register(connection, r, data, dataSize);
    }
    if (*dataSize > 0) {
        *dataSize = 0; // a body sent with anything else is read and dropped
        return MHD_YES;
    }
    if ((strcmp(method, MHD_HTTP_METHOD_GET) != 0 && strcmp(method, MHD_HTTP_METHOD_HEAD) != 0) ||
        !r->Mapped) {
        return NotFound(connection, r);
    }
    if (r->Path.Relative == "launcher/status" && !g_Options.GameServer.empty()) {
        return Answer(connection, r, MHD_HTTP_OK, GameServerOnline() ? "online\n" : "offline\n");
    }
    return ServeFile(connection, r, g_Options.Root, r->Path);
}

void OnCompleted(void*, MHD_Connection* connection, void** context,
                 MHD_RequestTerminationCode code) {
    RequestDone(connection);
    auto* r = static_cast<Request*>(*context);
    if (r == nullptr) {
        return;
    }
    const char* outcome = "";
    if (code == MHD_REQUEST_TERMINATED_TIMEOUT_REACHED) {
        outcome = "timed-out";
    } else if (code == MHD_REQUEST_TERMINATED_CLIENT_ABORT ||
               code == MHD_REQUEST_TERMINATED_READ_ERROR) {
        outcome = "client-gone";
    } else if (code != MHD_REQUEST_TERMINATED_COMPLETED_OK) {
        outcome = "aborted";
    }
    LogRequest(*r, outcome);
    delete r;
    *context = nullptr;
    --g_ActiveRequests;
}

// Paths arrive as sent; MapRequestPath decodes them itself, so that %00, %2F and %5C are
// seen for what they are.
size_t KeepEscapes(void*, MHD_Connection*, char* s) {
    return strlen(s);
}

// Each connection is a descriptor: take the hard limit, and keep the connection limit
// below it with room for files being sent and the database.
void FitConnectionLimit() {
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return;
    }
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur != RLIM_INFINITY) {
        const rlim_t room = limit.rlim_cur > 256 ? (limit.rlim_cur - 64) / 2 : 64;
        if (g_Options.MaxConnections > room && g_Options.MaxConnectionsGiven) {
            fprintf(stderr, "qelt-server: at most %llu connections with %llu open files\n",
                    static_cast<unsigned long long>(room),
                    static_cast<unsigned long long>(limit.rlim_cur));
        }
        if (g_Options.MaxConnections > room) {
            g_Options.MaxConnections = static_cast<unsigned>(room);
        }
    }
}

// Written whole under another name and renamed, so a reader never sees half.
void WritePortFile(unsigned port) {
    const std::string part = g_Options.PortFile + ".part";
    FILE* file = fopen(part.c_str(), "w");
    bool written = file != nullptr && fprintf(file, "%u\n", port) > 0;
    int error = errno;
    if (file != nullptr && fclose(file) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && rename(part.c_str(), g_Options.PortFile.c_str()) != 0) {
        written = false;
        error = errno;
    }
    if (!written) {
        fprintf(stderr, "qelt-server: cannot write %s: %s\n", g_Options.PortFile.c_str(),
                strerror(error));
    }
}

} // namespace

int main(int argc, char** argv) {
    if (!ParseOptions(argc, argv)) {
        return 2;
    }
    struct stat rootInfo;
    if (stat(g_Options.Root.c_str(), &rootInfo) != 0) {
        fprintf(stderr, "qelt-server: cannot use %s: %s\n", g_Options.Root.c_str(),
                strerror(errno));
        return 1;
    }
    if (!S_ISDIR(rootInfo.st_mode)) {
        fprintf(stderr, "qelt-server: %s is not a folder\n", g_Options.Root.c_str());
        return 1;
    }
    if (sodium_init() < 0) {
        fprintf(stderr, "qelt-server: libsodium cannot start\n");
        return 1;
    }
    AccountStore store;
    std::string error;
    if (!OpenAccountStore(g_Options.Db, &store, &error)) {
        fprintf(stderr, "qelt-server: %s\n", error.c_str());
        return 1;
    }
    FitConnectionLimit();

    // Signals are taken by the main thread alone, with sigwait; every thread started below
    // inherits the mask.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGCHLD, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    if (!g_Options.GameServer.empty()) {
        StartStatusProbe(g_Options.GameServer);
    }
    StartRegistration(&store, g_Options.HashThreads);
    ConnectionLimits limits;
    limits.Total = g_Options.MaxConnections;
    limits.PerAddress = g_Options.ConnectionsPerAddress;
    limits.RequestSeconds = g_Options.RequestTimeoutSeconds;
    limits.Exempt = g_Options.TrustedProxies;
    StartConnectionGuard(limits);

    sockaddr_storage address{};
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME |
                     MHD_USE_ERROR_LOG;
    if (g_Options.Listen.find(':') != std::string::npos) {
        auto* a6 = reinterpret_cast<sockaddr_in6*>(&address);
        a6->sin6_family = AF_INET6;
        a6->sin6_port = htons(static_cast<uint16_t>(g_Options.Port));
        inet_pton(AF_INET6, g_Options.Listen.c_str(), &a6->sin6_addr);
        // "::" takes IPv4 clients too; any other IPv6 address only its own.
        flags |= g_Options.Listen == "::" ? MHD_USE_DUAL_STACK : MHD_USE_IPv6;
    } else {
        auto* a4 = reinterpret_cast<sockaddr_in*>(&address);
        a4->sin_family = AF_INET;
        a4->sin_port = htons(static_cast<uint16_t>(g_Options.Port));
        inet_pton(AF_INET, g_Options.Listen.c_str(), &a4->sin_addr);
    }
    // libmicrohttpd's own limit is split evenly between its threads, and a thread at its
    // share stops accepting: it is set where no thread can reach it, and AdmitConnection
    // keeps the real limits.
    const unsigned mhdLimit = g_Options.MaxConnections * g_Options.Threads;
    MHD_Daemon* daemon = MHD_start_daemon(
        flags, static_cast<uint16_t>(g_Options.Port), &AdmitConnection, nullptr, &OnRequest,
        nullptr, MHD_OPTION_EXTERNAL_LOGGER, &LogMhdError, nullptr, MHD_OPTION_SOCK_ADDR, &address,
        MHD_OPTION_THREAD_POOL_SIZE, g_Options.Threads, MHD_OPTION_CONNECTION_LIMIT, mhdLimit,
        MHD_OPTION_CONNECTION_TIMEOUT, g_Options.TimeoutSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        kConnectionMemory, MHD_OPTION_LISTEN_BACKLOG_SIZE, 4096u, MHD_OPTION_UNESCAPE_CALLBACK,
        &KeepEscapes, nullptr, MHD_OPTION_NOTIFY_COMPLETED, &OnCompleted, nullptr,
        MHD_OPTION_NOTIFY_CONNECTION, &TrackConnection, nullptr, MHD_OPTION_END);
    int status = 0;
    if (daemon == nullptr) {
        fprintf(stderr, "qelt-server: cannot listen on %s port %d\n", g_Options.Listen.c_str(),
                g_Options.Port);
        status = 1;
    } else {
        const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
        const unsigned port = info != nullptr ? info->port : static_cast<unsigned>(g_Options.Port);
        const bool v6 = g_Options.Listen.find(':') != std::string::npos;
        printf("qelt-server listening on http://%s%s%s:%u (root %s, db %s, %u threads)\n",
               v6 ? "[" : "", g_Options.Listen.c_str(), v6 ? "]" : "", port, g_Options.Root.c_str(),
               g_Options.Db.compare(0, 7, "sqlite:") == 0 ? g_Options.Db.c_str() : "postgresql",
               g_Options.Threads);
        fflush(stdout);
        if (!g_Options.PortFile.empty()) {
            WritePortFile(port);
        }
        int signalNumber = 0;
        sigwait(&stopSignals, &signalNumber);
        // Stop accepting, let the requests under way finish, then close what is left.
        MHD_quiesce_daemon(daemon);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::seconds(kShutdownGraceSeconds);
        while (g_ActiveRequests > 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    StopRegistration();
    if (daemon != nullptr) {
        MHD_stop_daemon(daemon);
    }
    StopConnectionGuard();
    StopStatusProbe();
    store.Close(store.Impl);
    return status;
}
