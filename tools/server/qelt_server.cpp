// qelt-server: the update server a launcher talks to. Serves the update tree made by
// qelt-publish (only /launcher/, /patch/ and /downloads/), reports whether the game server
// is up, and creates accounts in a database with Argon2id password hashes. HTTP is
// libmicrohttpd's: a thread pool on epoll, bounded connections, time-outs and sendfile.
#include <arpa/inet.h>
#include <fcntl.h>
#include <microhttpd.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sodium.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "account_store.h"
#include "register_request.h"
#include "server_texts.h"
#include "serve_path.h"

extern char** environ;

namespace {

constexpr char kUsage[] =
    "Usage: qelt-server --root TREE [options]\n"
    "Serves an update tree made by qelt-publish to Qelt launchers and takes registrations.\n"
    "\n"
    "  --root TREE           the update tree; only its launcher/, patch/ and downloads/\n"
    "                        folders are served (GET and HEAD)\n"
    "  --listen ADDR         address to listen on (default 127.0.0.1; 0.0.0.0 or :: for all)\n"
    "  --port N              TCP port (default 8080; 0 picks a free one)\n"
    "  --port-file FILE      write the port to FILE once listening\n"
    "  --db WHERE            account database: sqlite:PATH (default sqlite:TREE/qelt.db),\n"
    "                        or postgresql://... when built with PostgreSQL\n"
    "  --game-server H:P     /launcher/status answers \"online\" while H:P accepts TCP\n"
    "                        connections (probed every 2 s); without it the file\n"
    "                        launcher/status is served as published\n"
    "  --threads N           HTTP worker threads (default: CPUs, at least 2)\n"
    "  --max-connections N   connections held at once; the excess is refused (default 10000)\n"
    "  --timeout S           a connection idle this many seconds is closed (default 15)\n"
    "  --hash-threads N      password hashes computed at once, 64 MiB each (default 2)\n"
    "  --register-limit N    registrations per client address per minute (default 5; 0: none)\n"
    "  --trusted-proxy ADDR  a reverse proxy at ADDR names the client in X-Real-IP; used for\n"
    "                        the registration limit and the log (repeatable)\n"
    "  --on-register CMD     run CMD ACCOUNT after each account is stored (not waited for)\n"
    "  --help                this text\n";

// Registration bodies are three short fields; anything larger is not a launcher.
constexpr size_t kMaxBody = 4096;
// A registration body must arrive within this time, however slowly it trickles.
constexpr int kMaxBodySeconds = 20;
// Request line and headers of one request, plus the body buffer, live in this much memory.
constexpr size_t kConnectionMemory = 16384;
constexpr size_t kMaxQueuedHashes = 256;
constexpr uint64_t kSmallFile = 16384;
constexpr int kProbeIntervalMs = 2000;
constexpr int kProbeTimeoutMs = 1000;
constexpr int kShutdownGraceSeconds = 15;

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
    unsigned HashThreads = 2;
    unsigned RegisterLimit = 5;
    std::vector<std::string> TrustedProxies;
    std::string OnRegister;
};

Options g_Options;
AccountStore g_Store;
std::atomic<int> g_ActiveRequests{0};

// One request from its first call to its completion; also the registration job.
struct Request {
    std::chrono::steady_clock::time_point Started = std::chrono::steady_clock::now();
    char Client[INET6_ADDRSTRLEN] = "-";
    std::string Method;
    std::string Url;
    int Status = 0;
    uint64_t Bytes = 0;
    bool Mapped = false;
    ServedPath Path;
    // Registration.
    bool IsRegister = false;
    bool TooLarge = false;
    std::string Body;
    RegisterForm Form;
    MHD_Connection* Connection = nullptr;
    bool Answered = false; // set by the hash worker before it resumes the connection
    int AnswerStatus = 0;
    const char* AnswerText = nullptr;
    std::string AnswerOwned;
};

// ---- access log ----

void AppendLogSafe(std::string& line, const std::string& text, size_t limit) {
    static const char kHex[] = "0123456789abcdef";
    for (size_t i = 0; i < text.size() && i < limit; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x21 || c > 0x7E || c == '"' || c == '\\') {
            line += "\\x";
            line += kHex[c >> 4];
            line += kHex[c & 15];
        } else {
            line += static_cast<char>(c);
        }
    }
}

// One line per request, written whole with one write so that lines from several threads
// never mix.
void LogRequest(const Request& r, const char* outcome) {
    char when[64];
    const time_t now = time(nullptr);
    struct tm tm;
    gmtime_r(&now, &tm);
    strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &tm);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - r.Started)
            .count();
    std::string line;
    line.reserve(256);
    line += when;
    line += ' ';
    line += r.Client;
    line += " \"";
    AppendLogSafe(line, r.Method, 16);
    line += ' ';
    AppendLogSafe(line, r.Url, 400);
    char tail[96];
    snprintf(tail, sizeof tail, "\" %d %llu %.1fms%s%s\n", r.Status,
             static_cast<unsigned long long>(r.Bytes), ms, outcome[0] != '\0' ? " " : "", outcome);
    line += tail;
    ssize_t ignored = write(STDOUT_FILENO, line.data(), line.size());
    (void)ignored;
}

// ---- game server probe ----

std::atomic<bool> g_GameOnline{false};
std::mutex g_ProbeLock;
std::condition_variable g_ProbeWake;
bool g_ProbeStop = false;

bool SplitHostPort(const std::string& value, std::string* host, std::string* port) {
    const size_t colon = value.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == value.size()) {
        return false;
    }
    *host = value.substr(0, colon);
    if (host->size() > 2 && host->front() == '[' && host->back() == ']') {
        *host = host->substr(1, host->size() - 2);
    }
    *port = value.substr(colon + 1);
    return true;
}

// True when some address of host:port accepts a TCP connection within the time-out.
bool ProbeGameServer() {
    std::string host;
    std::string port;
    if (!SplitHostPort(g_Options.GameServer, &host, &port)) {
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

// Requests read the last result; one thread probes, so a flood of status requests never
// turns into a flood of connections to the game server.
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

// ---- registration: rate limit and hash workers ----

std::mutex g_RateLock;
std::map<std::string, std::deque<std::chrono::steady_clock::time_point>> g_RecentRegistrations;

// Counts one attempt of client; false when it already made the limit within a minute.
bool AllowRegistration(const std::string& client) {
    if (g_Options.RegisterLimit == 0) {
        return true;
    }
    const auto now = std::chrono::steady_clock::now();
    const auto horizon = now - std::chrono::minutes(1);
    std::lock_guard<std::mutex> hold(g_RateLock);
    if (g_RecentRegistrations.size() > 100000) { // forget quiet addresses before growing on
        for (auto it = g_RecentRegistrations.begin(); it != g_RecentRegistrations.end();) {
            it = it->second.back() < horizon ? g_RecentRegistrations.erase(it) : std::next(it);
        }
    }
    auto& times = g_RecentRegistrations[client];
    while (!times.empty() && times.front() < horizon) {
        times.pop_front();
    }
    if (times.size() >= g_Options.RegisterLimit) {
        return false;
    }
    times.push_back(now);
    return true;
}

std::mutex g_HashLock;
std::condition_variable g_HashWake;
std::deque<Request*> g_HashQueue;
bool g_HashStop = false;

void RunRegisterHook(const std::string& account) {
    if (g_Options.OnRegister.empty()) {
        return;
    }
    char* const argv[] = {const_cast<char*>(g_Options.OnRegister.c_str()),
                          const_cast<char*>(account.c_str()), nullptr};
    pid_t pid;
    // SIGCHLD is ignored, so the kernel reaps the hook when it ends.
    if (posix_spawnp(&pid, g_Options.OnRegister.c_str(), nullptr, nullptr, argv, environ) != 0) {
        fprintf(stderr, "qelt-server: cannot run %s\n", g_Options.OnRegister.c_str());
    }
}

void CreateAccount(Request* r) {
    char hash[crypto_pwhash_STRBYTES];
    // Argon2id at the interactive cost: 64 MiB and about a tenth of a second per hash, which
    // is why only --hash-threads of them run at once.
    if (crypto_pwhash_str(hash, r->Form.Password.data(), r->Form.Password.size(),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
        r->AnswerStatus = MHD_HTTP_SERVICE_UNAVAILABLE;
        r->AnswerText = kAnswerBusy;
        return;
    }
    switch (g_Store.Insert(g_Store.Impl, r->Form.Account, r->Form.Email, hash)) {
    case InsertResult::Created:
        r->AnswerStatus = MHD_HTTP_OK;
        r->AnswerText = kAnswerRegistered;
        RunRegisterHook(r->Form.Account);
        break;
    case InsertResult::Taken:
        r->AnswerStatus = MHD_HTTP_CONFLICT;
        r->AnswerText = kAnswerTaken;
        break;
    case InsertResult::Unavailable:
        r->AnswerStatus = MHD_HTTP_SERVICE_UNAVAILABLE;
        r->AnswerText = kAnswerUnavailable;
        break;
    }
    sodium_memzero(&r->Form.Password[0], r->Form.Password.size());
    sodium_memzero(&r->Body[0], r->Body.size());
}

void HashWorker() {
    for (;;) {
        Request* r;
        {
            std::unique_lock<std::mutex> hold(g_HashLock);
            g_HashWake.wait(hold, [] { return g_HashStop || !g_HashQueue.empty(); });
            if (g_HashQueue.empty()) {
                return;
            }
            r = g_HashQueue.front();
            g_HashQueue.pop_front();
        }
        CreateAccount(r);
        r->Answered = true;
        MHD_resume_connection(r->Connection);
    }
}

bool QueueHash(Request* r) {
    std::lock_guard<std::mutex> hold(g_HashLock);
    if (g_HashStop || g_HashQueue.size() >= kMaxQueuedHashes) {
        return false;
    }
    g_HashQueue.push_back(r);
    g_HashWake.notify_one();
    return true;
}

// ---- responses ----

MHD_Result Answer(MHD_Connection* connection, Request* r, int status, const char* text) {
    // Copied: a refusal text may live in the request, which can end before the response.
    MHD_Response* response = MHD_create_response_from_buffer(strlen(text), const_cast<char*>(text),
                                                             MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) {
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain; charset=utf-8");
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    const MHD_Result queued =
        MHD_queue_response(connection, static_cast<unsigned>(status), response);
    MHD_destroy_response(response);
    r->Status = status;
    r->Bytes = strlen(text);
    return queued;
}

MHD_Result NotFound(MHD_Connection* connection, Request* r) {
    return Answer(connection, r, MHD_HTTP_NOT_FOUND, kAnswerNotFound);
}

void HttpDate(time_t when, char* out, size_t cap) {
    struct tm tm;
    gmtime_r(&when, &tm);
    strftime(out, cap, "%a, %d %b %Y %H:%M:%S GMT", &tm);
}

const char* ContentType(const std::string& path) {
    const size_t dot = path.rfind('.');
    const std::string ext = dot == std::string::npos ? std::string() : path.substr(dot);
    if (ext == ".txt" || path == "launcher/status") {
        return "text/plain; charset=utf-8";
    }
    return "application/octet-stream";
}

// Serves one file of the tree from a descriptor opened once: its length is that of the
// open file, and the bytes sent are read from it, so a file replaced meanwhile goes out
// whole in its old version.
MHD_Result ServeFile(MHD_Connection* connection, Request* r, const ServedPath& path) {
    const int fd = OpenServedFile(g_Options.Root, path);
    if (fd < 0) {
        return NotFound(connection, r);
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return NotFound(connection, r);
    }
    char etag[96];
    snprintf(etag, sizeof etag, "\"%llx-%llx-%lx\"", static_cast<unsigned long long>(st.st_size),
             static_cast<unsigned long long>(st.st_mtim.tv_sec) * 1000000000ull +
                 static_cast<unsigned long long>(st.st_mtim.tv_nsec),
             static_cast<unsigned long>(st.st_ino));
    char modified[64];
    HttpDate(st.st_mtim.tv_sec, modified, sizeof modified);
    const uint64_t size = static_cast<uint64_t>(st.st_size);

    const char* ifNoneMatch =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "If-None-Match");
    int status = MHD_HTTP_OK;
    uint64_t first = 0;
    uint64_t length = size;
    char contentRange[96] = "";
    MHD_Response* response = nullptr;
    if (ifNoneMatch != nullptr && strstr(ifNoneMatch, etag) != nullptr) {
        status = MHD_HTTP_NOT_MODIFIED;
        close(fd);
        response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
        length = 0;
    } else {
        const char* range = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Range");
        const char* ifRange = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "If-Range");
        if (range != nullptr && (ifRange == nullptr || strcmp(ifRange, etag) == 0)) {
            switch (ParseByteRange(range, size, &first, &length)) {
            case RangeResult::Satisfiable:
                status = MHD_HTTP_PARTIAL_CONTENT;
                snprintf(contentRange, sizeof contentRange, "bytes %llu-%llu/%llu",
                         static_cast<unsigned long long>(first),
                         static_cast<unsigned long long>(first + length - 1),
                         static_cast<unsigned long long>(size));
                break;
            case RangeResult::Unsatisfiable:
                close(fd);
                snprintf(contentRange, sizeof contentRange, "bytes */%llu",
                         static_cast<unsigned long long>(size));
                response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
                status = MHD_HTTP_RANGE_NOT_SATISFIABLE;
                length = 0;
                break;
            case RangeResult::Ignored: break;
            }
        }
        if (response == nullptr && length <= kSmallFile) {
            // Small files (the status, the manifest) go out with their headers in one send.
            void* bytes = malloc(length > 0 ? length : 1);
            const ssize_t got =
                bytes != nullptr ? pread(fd, bytes, length, static_cast<off_t>(first)) : -1;
            close(fd);
            if (got != static_cast<ssize_t>(length)) {
                free(bytes);
                return MHD_NO;
            }
            response = MHD_create_response_from_buffer(length, bytes, MHD_RESPMEM_MUST_FREE);
            if (response == nullptr) {
                free(bytes);
            }
        } else if (response == nullptr) {
            // The response owns fd from here and closes it when it is destroyed.
            response =
                MHD_create_response_from_fd_at_offset64(length, fd, static_cast<int64_t>(first));
            if (response == nullptr) {
                close(fd);
            }
        }
    }
    if (response == nullptr) {
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, ContentType(path.Relative));
    MHD_add_response_header(response, MHD_HTTP_HEADER_ETAG, etag);
    MHD_add_response_header(response, MHD_HTTP_HEADER_LAST_MODIFIED, modified);
    MHD_add_response_header(response, MHD_HTTP_HEADER_ACCEPT_RANGES, "bytes");
    if (contentRange[0] != '\0') {
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_RANGE, contentRange);
    }
    if (path.Relative == "launcher/status" || path.Relative == "launcher/manifest.txt") {
        MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
    }
    const MHD_Result queued =
        MHD_queue_response(connection, static_cast<unsigned>(status), response);
    MHD_destroy_response(response);
    r->Status = status;
    r->Bytes = r->Method == "HEAD" ? 0 : length;
    return queued;
}

// The client for the log and the registration limit: the peer, or the address a trusted
// proxy names in X-Real-IP.
void IdentifyClient(MHD_Connection* connection, Request* r) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (info == nullptr || info->client_addr == nullptr) {
        return;
    }
    const sockaddr* peer = info->client_addr;
    if (peer->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(peer)->sin_addr, r->Client,
                  sizeof r->Client);
    } else if (peer->sa_family == AF_INET6) {
        const in6_addr& a6 = reinterpret_cast<const sockaddr_in6*>(peer)->sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&a6)) { // an IPv4 client of a dual-stack socket
            inet_ntop(AF_INET, &a6.s6_addr[12], r->Client, sizeof r->Client);
        } else {
            inet_ntop(AF_INET6, &a6, r->Client, sizeof r->Client);
        }
    }
    for (const std::string& proxy : g_Options.TrustedProxies) {
        if (proxy != r->Client) {
            continue;
        }
        const char* real = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "X-Real-IP");
        unsigned char parsed[sizeof(in6_addr)];
        if (real == nullptr) {
            break;
        }
        if (inet_pton(AF_INET, real, parsed) == 1) {
            inet_ntop(AF_INET, parsed, r->Client, sizeof r->Client);
        } else if (inet_pton(AF_INET6, real, parsed) == 1) {
            inet_ntop(AF_INET6, parsed, r->Client, sizeof r->Client);
        }
        break;
    }
}

bool IsFormContent(MHD_Connection* connection) {
    const char* type =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_TYPE);
    static const char kForm[] = "application/x-www-form-urlencoded";
    return type != nullptr && strncasecmp(type, kForm, sizeof kForm - 1) == 0 &&
           (type[sizeof kForm - 1] == '\0' || type[sizeof kForm - 1] == ';' ||
            type[sizeof kForm - 1] == ' ');
}

MHD_Result Register(MHD_Connection* connection, Request* r, const char* data, size_t* dataSize) {
    if (r->Answered) { // back from the hash worker
        return Answer(connection, r, r->AnswerStatus, r->AnswerText);
    }
    if (*dataSize > 0) {
        if (std::chrono::steady_clock::now() - r->Started > std::chrono::seconds(kMaxBodySeconds)) {
            return MHD_NO; // a body trickling in this slowly is dropped
        }
        if (r->Body.size() + *dataSize > kMaxBody) {
            r->TooLarge = true;
        } else {
            r->Body.append(data, *dataSize);
        }
        *dataSize = 0;
        return MHD_YES;
    }
    if (r->TooLarge) {
        return Answer(connection, r, MHD_HTTP_CONTENT_TOO_LARGE, kAnswerTooLarge);
    }
    if (!IsFormContent(connection) || !ParseRegisterForm(r->Body, &r->Form)) {
        return Answer(connection, r, MHD_HTTP_BAD_REQUEST, kAnswerBadForm);
    }
    r->AnswerOwned = CheckRegisterForm(r->Form);
    if (!r->AnswerOwned.empty()) {
        return Answer(connection, r, MHD_HTTP_BAD_REQUEST, r->AnswerOwned.c_str());
    }
    if (!AllowRegistration(r->Client)) {
        return Answer(connection, r, MHD_HTTP_TOO_MANY_REQUESTS, kAnswerTooMany);
    }
    r->Connection = connection;
    // Hashing takes a tenth of a second and much memory: it runs on its own threads while
    // this connection is parked, so the HTTP threads keep serving files.
    MHD_suspend_connection(connection);
    if (!QueueHash(r)) {
        MHD_resume_connection(connection);
        r->Answered = true;
        r->AnswerStatus = MHD_HTTP_SERVICE_UNAVAILABLE;
        r->AnswerText = kAnswerBusy;
    }
    return MHD_YES;
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
        if (r->IsRegister) {
            const char* length =
                MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Length");
            if (length != nullptr && strtoull(length, nullptr, 10) > kMaxBody) {
                return Answer(connection, r, MHD_HTTP_CONTENT_TOO_LARGE, kAnswerTooLarge);
            }
        }
        // Answering only from the second call, once the request has been read whole, keeps
        // the connection alive for the next request.
        return MHD_YES;
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
        return Answer(connection, r, MHD_HTTP_OK, g_GameOnline ? "online\n" : "offline\n");
    }
    return ServeFile(connection, r, r->Path);
}

void OnCompleted(void*, MHD_Connection*, void** context, MHD_RequestTerminationCode code) {
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

void LogMhdError(void*, const char* format, va_list args) {
    fputs("qelt-server: ", stderr);
    vfprintf(stderr, format, args);
}

// ---- start-up ----

bool ParseUnsigned(const char* text, unsigned max, unsigned* out) {
    char* end = nullptr;
    errno = 0;
    const unsigned long value = strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value > max || text[0] == '-') {
        return false;
    }
    *out = static_cast<unsigned>(value);
    return true;
}

bool NormalizeAddress(const std::string& text, std::string* out) {
    unsigned char parsed[sizeof(in6_addr)];
    char buffer[INET6_ADDRSTRLEN];
    const int family = inet_pton(AF_INET, text.c_str(), parsed) == 1    ? AF_INET
                       : inet_pton(AF_INET6, text.c_str(), parsed) == 1 ? AF_INET6
                                                                        : 0;
    if (family == 0 || inet_ntop(family, parsed, buffer, sizeof buffer) == nullptr) {
        return false;
    }
    *out = buffer;
    return true;
}

bool ParseOptions(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            fputs(kUsage, stdout);
            exit(0);
        }
        if (i + 1 >= argc) {
            fprintf(stderr, "qelt-server: %s needs a value\n%s", argv[i], kUsage);
            return false;
        }
        const char* value = argv[++i];
        unsigned number = 0;
        bool ok = true;
        if (name == "--root") {
            g_Options.Root = value;
        } else if (name == "--listen") {
            ok = NormalizeAddress(value, &g_Options.Listen);
        } else if (name == "--port") {
            ok = ParseUnsigned(value, 65535, &number);
            g_Options.Port = static_cast<int>(number);
        } else if (name == "--port-file") {
            g_Options.PortFile = value;
        } else if (name == "--db") {
            g_Options.Db = value;
        } else if (name == "--game-server") {
            std::string host;
            std::string port;
            ok = SplitHostPort(value, &host, &port);
            g_Options.GameServer = value;
        } else if (name == "--threads") {
            ok = ParseUnsigned(value, 256, &g_Options.Threads) && g_Options.Threads > 0;
        } else if (name == "--max-connections") {
            ok = ParseUnsigned(value, 1000000, &g_Options.MaxConnections) &&
                 g_Options.MaxConnections > 0;
            g_Options.MaxConnectionsGiven = true;
        } else if (name == "--timeout") {
            ok = ParseUnsigned(value, 3600, &g_Options.TimeoutSeconds) &&
                 g_Options.TimeoutSeconds > 0;
        } else if (name == "--hash-threads") {
            ok = ParseUnsigned(value, 64, &g_Options.HashThreads) && g_Options.HashThreads > 0;
        } else if (name == "--register-limit") {
            ok = ParseUnsigned(value, 1000000, &g_Options.RegisterLimit);
        } else if (name == "--trusted-proxy") {
            std::string address;
            ok = NormalizeAddress(value, &address);
            g_Options.TrustedProxies.push_back(address);
        } else if (name == "--on-register") {
            g_Options.OnRegister = value;
        } else {
            fprintf(stderr, "qelt-server: unknown option %s\n%s", argv[i - 1], kUsage);
            return false;
        }
        if (!ok) {
            fprintf(stderr, "qelt-server: bad value for %s: %s\n", name.c_str(), value);
            return false;
        }
    }
    if (g_Options.Root.empty()) {
        fprintf(stderr, "qelt-server: --root is required\n%s", kUsage);
        return false;
    }
    while (g_Options.Root.size() > 1 && g_Options.Root.back() == '/') {
        g_Options.Root.pop_back();
    }
    if (g_Options.Db.empty()) {
        g_Options.Db = "sqlite:" + g_Options.Root + "/qelt.db";
    }
    if (g_Options.Threads == 0) {
        const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
        g_Options.Threads = cpus < 2 ? 2u : static_cast<unsigned>(cpus);
    }
    return true;
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

} // namespace

int main(int argc, char** argv) {
    if (!ParseOptions(argc, argv)) {
        return 2;
    }
    struct stat rootInfo;
    if (stat(g_Options.Root.c_str(), &rootInfo) != 0 || !S_ISDIR(rootInfo.st_mode)) {
        fprintf(stderr, "qelt-server: %s is not a folder\n", g_Options.Root.c_str());
        return 1;
    }
    if (sodium_init() < 0) {
        fprintf(stderr, "qelt-server: libsodium cannot start\n");
        return 1;
    }
    std::string error;
    if (!OpenAccountStore(g_Options.Db, &g_Store, &error)) {
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

    std::thread probe;
    if (!g_Options.GameServer.empty()) {
        g_GameOnline = ProbeGameServer();
        probe = std::thread(ProbeLoop);
    }
    std::vector<std::thread> hashers;
    for (unsigned i = 0; i < g_Options.HashThreads; ++i) {
        hashers.emplace_back(HashWorker);
    }

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
    MHD_Daemon* daemon = MHD_start_daemon(
        flags, static_cast<uint16_t>(g_Options.Port), nullptr, nullptr, &OnRequest, nullptr,
        MHD_OPTION_EXTERNAL_LOGGER, &LogMhdError, nullptr, MHD_OPTION_SOCK_ADDR, &address,
        MHD_OPTION_THREAD_POOL_SIZE, g_Options.Threads, MHD_OPTION_CONNECTION_LIMIT,
        g_Options.MaxConnections, MHD_OPTION_CONNECTION_TIMEOUT, g_Options.TimeoutSeconds,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory, MHD_OPTION_LISTEN_BACKLOG_SIZE,
        4096u, MHD_OPTION_UNESCAPE_CALLBACK, &KeepEscapes, nullptr, MHD_OPTION_NOTIFY_COMPLETED,
        &OnCompleted, nullptr, MHD_OPTION_END);
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
            // Written whole under another name and renamed, so a reader never sees half.
            const std::string part = g_Options.PortFile + ".part";
            FILE* file = fopen(part.c_str(), "w");
            if (file == nullptr || fprintf(file, "%u\n", port) < 0 || fclose(file) != 0 ||
                rename(part.c_str(), g_Options.PortFile.c_str()) != 0) {
                fprintf(stderr, "qelt-server: cannot write %s\n", g_Options.PortFile.c_str());
            }
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
    {
        std::lock_guard<std::mutex> hold(g_HashLock);
        g_HashStop = true;
    }
    g_HashWake.notify_all();
    for (std::thread& t : hashers) {
        t.join(); // the queue is drained first: every parked connection is resumed
    }
    if (daemon != nullptr) {
        MHD_stop_daemon(daemon);
    }
    {
        std::lock_guard<std::mutex> hold(g_ProbeLock);
        g_ProbeStop = true;
    }
    g_ProbeWake.notify_all();
    if (probe.joinable()) {
        probe.join();
    }
    g_Store.Close(g_Store.Impl);
    return status;
}
