// Parsing of qelt-server's command line.
#include "options.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

Options g_Options;

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
    "  --max-connections N   connections held at once; the excess is closed as soon as it\n"
    "                        is accepted (default 10000)\n"
    "  --connections-per-address N\n"
    "                        connections held at once from one client address; the excess\n"
    "                        is closed as soon as it is accepted (default 64; 0: no limit;\n"
    "                        a --trusted-proxy has none)\n"
    "  --timeout S           a connection idle this many seconds is closed (default 15)\n"
    "  --request-timeout S   a request whose line, headers and body have not all arrived\n"
    "                        this many seconds after its connection was ready for it has\n"
    "                        its connection closed, however steadily it trickles (default 20)\n"
    "  --hash-threads N      password hashes computed at once, 64 MiB each (default 2)\n"
    "  --register-limit N    registrations per client address per minute (default 5; 0: none)\n"
    "  --trusted-proxy ADDR  a reverse proxy at ADDR names the client in X-Real-IP; used for\n"
    "                        the registration limit and the log (repeatable)\n"
    "  --on-register CMD     run CMD ACCOUNT after each account is stored (not waited for)\n"
    "  --help                this text\n";

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

} // namespace

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
        } else if (name == "--request-timeout") {
            ok = ParseUnsigned(value, 3600, &g_Options.RequestTimeoutSeconds) &&
                 g_Options.RequestTimeoutSeconds > 0;
        } else if (name == "--connections-per-address") {
            ok = ParseUnsigned(value, 1000000, &g_Options.ConnectionsPerAddress);
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
