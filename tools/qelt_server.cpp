// qelt-server: a reference update server for development, demos and small deployments.
// Serves an update tree made by qelt-publish (GET), and takes account registrations
// (POST /launcher/register) into a tab-separated accounts file.
// Usage: qelt-server --root DIR [--bind 127.0.0.1] [--port 8080] [--port-file F]
//                    [--accounts FILE] [--seconds N]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace {

std::string g_Root;
std::string g_AccountsFile;
std::mutex g_AccountsLock;
constexpr size_t kMaxHeader = 16384;
constexpr size_t kMaxForm = 4096;

bool SendAll(int fd, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

void Respond(int fd, int status, const char* reason, const std::string& body,
             const char* type = "text/plain; charset=utf-8") {
    char head[256];
    snprintf(
        head, sizeof head,
        "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %zu\r\nConnection: close\r\n\r\n",
        status, reason, type, body.size());
    if (SendAll(fd, head)) {
        SendAll(fd, body);
    }
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string PercentDecode(const std::string& text, bool plusIsSpace) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() + 0 && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else if (plusIsSpace && text[i] == '+') {
            out += ' ';
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string FormValue(const std::string& body, const std::string& key) {
    size_t pos = 0;
    while (pos <= body.size()) {
        size_t end = body.find('&', pos);
        if (end == std::string::npos) {
            end = body.size();
        }
        const std::string pair = body.substr(pos, end - pos);
        const size_t eq = pair.find('=');
        if (eq != std::string::npos && pair.substr(0, eq) == key) {
            return PercentDecode(pair.substr(eq + 1), true);
        }
        pos = end + 1;
    }
    return std::string();
}

void ServeFile(int fd, const std::string& rawPath, bool headOnly) {
    std::string path = PercentDecode(rawPath.substr(0, rawPath.find('?')), false);
    for (char& c : path) {
        if (c == '\\') {
            c = '/'; // manifest paths may use either separator
        }
    }
    if (path.empty() || path[0] != '/' || path.find("..") != std::string::npos ||
        path.find('\0') != std::string::npos) {
        Respond(fd, 404, "Not Found", "not found\n");
        return;
    }
    const std::string file = g_Root + path;
    struct stat st;
    FILE* f =
        (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ? fopen(file.c_str(), "rb") : nullptr;
    if (!f) {
        Respond(fd, 404, "Not Found", "not found\n");
        return;
    }
    char head[256];
    snprintf(head, sizeof head,
             "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: %lld\r\n"
             "Connection: close\r\n\r\n",
             static_cast<long long>(st.st_size));
    bool ok = SendAll(fd, head);
    static thread_local char buffer[1 << 16];
    size_t n = 0;
    while (ok && !headOnly && (n = fread(buffer, 1, sizeof buffer, f)) > 0) {
        ok = SendAll(fd, std::string(buffer, n));
    }
    fclose(f);
}

bool AccountOk(const std::string& a) {
    if (a.size() < 4 || a.size() > 10)
        return false;
    for (unsigned char c : a) {
        if (!isalnum(c))
            return false;
    }
    return true;
}

bool PasswordOk(const std::string& p) {
    if (p.size() < 6 || p.size() > 10)
        return false;
    for (unsigned char c : p) {
        if (c < 0x21 || c > 0x7E || c == '"' || c == '\'' || c == '\\')
            return false;
    }
    return true;
}

void Register(int fd, const std::string& body) {
    const std::string account = FormValue(body, "account");
    const std::string password = FormValue(body, "password");
    const std::string email = FormValue(body, "email");
    if (!AccountOk(account)) {
        Respond(fd, 400, "Bad Request", "Tài khoản không hợp lệ.");
        return;
    }
    if (!PasswordOk(password) || email.empty() || email.find('\t') != std::string::npos ||
        email.find('\n') != std::string::npos) {
        Respond(fd, 400, "Bad Request", "Mật khẩu hoặc email không hợp lệ.");
        return;
    }
    std::lock_guard<std::mutex> lock(g_AccountsLock);
    if (FILE* f = fopen(g_AccountsFile.c_str(), "r")) {
        char line[512];
        while (fgets(line, sizeof line, f)) {
            std::string existing(line, strcspn(line, "\t\n"));
            if (strcasecmp(existing.c_str(), account.c_str()) == 0) {
                fclose(f);
                Respond(fd, 409, "Conflict", "Tài khoản " + account + " đã có người dùng.");
                return;
            }
        }
        fclose(f);
    }
    // The reference server keeps no passwords: a deployment creates the game account here.
    FILE* f = fopen(g_AccountsFile.c_str(), "a");
    if (!f || fprintf(f, "%s\t%s\n", account.c_str(), email.c_str()) < 0) {
        if (f)
            fclose(f);
        Respond(fd, 500, "Internal Server Error", "Máy chủ không lưu được tài khoản.");
        return;
    }
    fclose(f);
    Respond(fd, 200, "OK", "Đăng ký thành công. Chào mừng " + account + "!");
}

void Handle(int fd) {
    timeval timeout = {30, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string data;
    char chunk[4096];
    size_t headerEnd = std::string::npos;
    while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos && data.size() < kMaxHeader) {
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) {
            close(fd);
            return;
        }
        data.append(chunk, static_cast<size_t>(n));
    }
    if (headerEnd == std::string::npos) {
        Respond(fd, 431, "Request Header Fields Too Large", "header too large\n");
        close(fd);
        return;
    }
    const std::string requestLine = data.substr(0, data.find("\r\n"));
    char method[16] = {};
    char target[4096] = {};
    if (sscanf(requestLine.c_str(), "%15s %4095s", method, target) != 2) {
        Respond(fd, 400, "Bad Request", "bad request\n");
        close(fd);
        return;
    }
    size_t contentLength = 0;
    std::string lower = data.substr(0, headerEnd);
    for (char& c : lower)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    const size_t cl = lower.find("\r\ncontent-length:");
    if (cl != std::string::npos) {
        contentLength = strtoul(lower.c_str() + cl + 17, nullptr, 10);
    }
    if (strcmp(method, "POST") == 0 && strcmp(target, "/launcher/register") == 0) {
        if (contentLength > kMaxForm) {
            Respond(fd, 413, "Payload Too Large", "Dữ liệu quá lớn.");
            close(fd);
            return;
        }
        std::string body = data.substr(headerEnd + 4);
        while (body.size() < contentLength) {
            ssize_t n = recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                break;
            body.append(chunk, static_cast<size_t>(n));
        }
        Register(fd, body.substr(0, contentLength));
    } else if (strcmp(method, "GET") == 0 || strcmp(method, "HEAD") == 0) {
        ServeFile(fd, target, strcmp(method, "HEAD") == 0);
    } else {
        Respond(fd, 405, "Method Not Allowed", "method not allowed\n");
    }
    close(fd);
}

} // namespace

int main(int argc, char** argv) {
    std::string bind = "127.0.0.1";
    int port = 8080;
    std::string portFile;
    int seconds = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt == "--root")
            g_Root = argv[i + 1];
        else if (opt == "--bind")
            bind = argv[i + 1];
        else if (opt == "--port")
            port = atoi(argv[i + 1]);
        else if (opt == "--port-file")
            portFile = argv[i + 1];
        else if (opt == "--accounts")
            g_AccountsFile = argv[i + 1];
        else if (opt == "--seconds")
            seconds = atoi(argv[i + 1]);
    }
    if (g_Root.empty()) {
        fprintf(stderr,
                "usage: %s --root DIR [--bind ADDR] [--port N] [--port-file F] "
                "[--accounts FILE] [--seconds N]\n",
                argv[0]);
        return 2;
    }
    if (g_AccountsFile.empty()) {
        g_AccountsFile = g_Root + "/accounts.tsv";
    }
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    int yes = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, bind.c_str(), &address.sin_addr) != 1 ||
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 64) != 0) {
        perror("qelt-server: listen");
        return 1;
    }
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    printf("qelt-server: serving %s on http://%s:%d\n", g_Root.c_str(), bind.c_str(), port);
    fflush(stdout);
    if (!portFile.empty()) {
        if (FILE* f = fopen(portFile.c_str(), "w")) {
            fprintf(f, "%d\n", port);
            fclose(f);
        }
    }
    if (seconds > 0) {
        std::thread([seconds] {
            std::this_thread::sleep_for(std::chrono::seconds(seconds));
            _exit(0);
        }).detach();
    }
    for (;;) {
        int fd = accept(listener, nullptr, nullptr);
        if (fd >= 0) {
            std::thread(Handle, fd).detach();
        }
    }
}
