// A loopback HTTP/1.1 server on Winsock for the Wine test programs: one thread accepts,
// one thread per connection answers a single request and closes (Connection: close).
#include "test_server.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>

namespace {

constexpr size_t kMaxHeaderBytes = 65536;
constexpr size_t kMaxRequestBody = 64u << 20;
constexpr size_t kPieceSize = 32768;
constexpr DWORD kIdleLimitMs = 15000; // a silent client is dropped after this
constexpr DWORD kPollMs = 50;

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (tolower(static_cast<unsigned char>(a[i])) !=
            tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::string Trim(const std::string& s) {
    size_t begin = s.find_first_not_of(" \t");
    if (begin == std::string::npos) {
        return std::string();
    }
    size_t end = s.find_last_not_of(" \t");
    return s.substr(begin, end - begin + 1);
}

const char* ReasonPhrase(int status) {
    switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

} // namespace

std::string RecordedRequest::Header(const std::string& name) const {
    for (const auto& header : Headers) {
        if (SameText(header.first, name)) {
            return header.second;
        }
    }
    return std::string();
}

bool RecordedRequest::HasHeader(const std::string& name) const {
    for (const auto& header : Headers) {
        if (SameText(header.first, name)) {
            return true;
        }
    }
    return false;
}

namespace {

// What the server threads share; TestServer::Impl is this record.
struct ServerState {
    CRITICAL_SECTION lock;
    HANDLE stopEvent = nullptr; // manual reset: set while stopping
    HANDLE acceptThread = nullptr;
    SOCKET listener = INVALID_SOCKET;
    bool winsockStarted = false;
    int port = 0;
    std::string folder;
    std::map<std::string, ScriptedResponse> scripted;
    std::vector<RecordedRequest> requests;
    std::vector<HANDLE> connectionThreads;
    std::atomic<unsigned long long> bodyBytes{0};

    ServerState() { InitializeCriticalSection(&lock); }
    ~ServerState() { DeleteCriticalSection(&lock); }

    bool Stopping() const { return WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0; }
    // Sleeps, but wakes at once when the server stops. False when stopping.
    bool Pause(DWORD ms) const { return WaitForSingleObject(stopEvent, ms) == WAIT_TIMEOUT; }
};

struct Connection {
    ServerState* server;
    SOCKET socket;
};

// Waits until the socket has data (or its end); false on stop or after the idle limit.
bool WaitReadable(ServerState* server, SOCKET socket) {
    for (DWORD waited = 0; waited < kIdleLimitMs; waited += kPollMs) {
        if (server->Stopping()) {
            return false;
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(socket, &readable);
        timeval timeout = {0, static_cast<long>(kPollMs * 1000)};
        int ready = select(0, &readable, nullptr, nullptr, &timeout);
        if (ready < 0) {
            return false;
        }
        if (ready > 0) {
            return true;
        }
    }
    return false;
}

// Receives more bytes into data; false when the peer closed, failed or went silent.
bool ReceiveSome(ServerState* server, SOCKET socket, std::string* data) {
    if (!WaitReadable(server, socket)) {
        return false;
    }
    char buffer[16384];
    int n = recv(socket, buffer, sizeof buffer, 0);
    if (n <= 0) {
        return false;
    }
    data->append(buffer, static_cast<size_t>(n));
    return true;
}

bool SendAll(ServerState* server, SOCKET socket, const char* data, size_t length) {
    while (length > 0) {
        if (server->Stopping()) {
            return false;
        }
        int piece = static_cast<int>(std::min<size_t>(length, 1u << 20));
        int n = send(socket, data, piece, 0);
        if (n <= 0) {
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool SendText(ServerState* server, SOCKET socket, const std::string& text) {
    return SendAll(server, socket, text.data(), text.size());
}

// Reads one request: the head up to the blank line, then a body of Content-Length bytes.
bool ReadRequest(ServerState* server, SOCKET socket, RecordedRequest* request) {
    std::string data;
    size_t headEnd;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
        if (data.size() > kMaxHeaderBytes || !ReceiveSome(server, socket, &data)) {
            return false;
        }
        // Not a request line (a TLS hello, for one): hang up instead of waiting for more.
        if (!isupper(static_cast<unsigned char>(data[0]))) {
            return false;
        }
    }
    std::string head = data.substr(0, headEnd);
    std::string rest = data.substr(headEnd + 4);
    size_t lineEnd = head.find("\r\n");
    std::string requestLine = head.substr(0, lineEnd);
    size_t space1 = requestLine.find(' ');
    size_t space2 = requestLine.find(' ', space1 == std::string::npos ? 0 : space1 + 1);
    if (space1 == std::string::npos || space2 == std::string::npos) {
        return false;
    }
    request->Method = requestLine.substr(0, space1);
    request->Path = requestLine.substr(space1 + 1, space2 - space1 - 1);
    while (lineEnd != std::string::npos) {
        size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        std::string line =
            head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
        size_t colon = line.find(':');
        if (colon != std::string::npos) {
            request->Headers.emplace_back(Trim(line.substr(0, colon)),
                                          Trim(line.substr(colon + 1)));
        }
    }
    size_t bodyLength = 0;
    if (request->HasHeader("Content-Length")) {
        bodyLength =
            static_cast<size_t>(strtoull(request->Header("Content-Length").c_str(), nullptr, 10));
        if (bodyLength > kMaxRequestBody) {
            return false;
        }
    }
    while (rest.size() < bodyLength) {
        if (!ReceiveSome(server, socket, &rest)) {
            return false;
        }
    }
    request->Body = rest.substr(0, bodyLength);
    return true;
}

// Sends body in 32768-byte pieces (chunks when chunked), pausing between them, and stops
// after limit body bytes. False when the server stops or the peer goes away.
bool SendBody(ServerState* server, SOCKET socket, const std::string& body,
              const ScriptedResponse& script) {
    size_t limit = std::min(script.CloseAfterBytes, body.size());
    size_t sent = 0;
    for (size_t offset = 0; offset < body.size(); offset += kPieceSize) {
        if (offset > 0 && script.ChunkPauseMs > 0 && !server->Pause(script.ChunkPauseMs)) {
            return false;
        }
        size_t piece = std::min(kPieceSize, body.size() - offset);
        if (script.Chunked) {
            char size[32];
            snprintf(size, sizeof size, "%zx\r\n", piece);
            if (!SendText(server, socket, size)) {
                return false;
            }
        }
        size_t allowed = std::min(piece, limit - sent);
        // Counted before they go, so a client that has them sees them counted.
        server->bodyBytes += allowed;
        if (!SendAll(server, socket, body.data() + offset, allowed)) {
            return false;
        }
        sent += allowed;
        if (sent == limit && limit < body.size()) {
            return true; // cut short on purpose: close without the rest
        }
        if (script.Chunked && !SendText(server, socket, "\r\n")) {
            return false;
        }
    }
    return !script.Chunked || SendText(server, socket, "0\r\n\r\n");
}

// The first byte a "Range: bytes=N-" asks for, when a partial answer is allowed: the range
// has that one form and an If-Range, if any, names one of the answer's validators.
bool RangeStart(const RecordedRequest& request, const std::string& etag,
                const std::string& modified, unsigned long long* first) {
    const std::string range = request.Header("Range");
    const std::string digits = range.size() > 7 ? range.substr(6, range.size() - 7) : "";
    if (range.compare(0, 6, "bytes=") != 0 || range.back() != '-' || digits.empty() ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    if (request.HasHeader("If-Range")) {
        const std::string validator = request.Header("If-Range");
        if (validator.empty() || (validator != etag && validator != modified)) {
            return false;
        }
    }
    *first = strtoull(digits.c_str(), nullptr, 10);
    return true;
}

// The status line and headers of an answer with Connection: close.
std::string Head(int status, const std::string& contentType, const std::string& framing,
                 const std::string& etag, const std::string& modified,
                 const std::string& contentRange) {
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) +
                       "\r\nContent-Type: " + contentType + "\r\n" + framing + "\r\n";
    if (!etag.empty()) {
        head += "ETag: " + etag + "\r\n";
    }
    if (!modified.empty()) {
        head += "Last-Modified: " + modified + "\r\n";
    }
    if (!contentRange.empty()) {
        head += "Content-Range: " + contentRange + "\r\n";
    }
    return head + "Connection: close\r\n\r\n";
}

void SendScripted(ServerState* server, SOCKET socket, const ScriptedResponse& script,
                  const RecordedRequest& request) {
    if (script.DelayMs > 0 && !server->Pause(script.DelayMs)) {
        return;
    }
    if (script.Refuse) {
        return;
    }
    int status = script.Status;
    std::string contentRange;
    unsigned long long first = 0;
    const unsigned long long size = script.Body.size();
    if (status == 200 && !script.Chunked &&
        RangeStart(request, script.ETag, script.LastModified, &first)) {
        status = first < size ? 206 : 416;
        contentRange = first < size ? "bytes " + std::to_string(first) + "-" +
                                          std::to_string(size - 1) + "/" + std::to_string(size)
                                    : "bytes */" + std::to_string(size);
    }
    const std::string body = status == 206   ? script.Body.substr(first)
                             : status == 416 ? std::string()
                                             : script.Body;
    const std::string framing = script.Chunked ? "Transfer-Encoding: chunked"
                                               : "Content-Length: " + std::to_string(body.size());
    if (SendText(server, socket,
                 Head(status, script.ContentType, framing, script.ETag, script.LastModified,
                      contentRange))) {
        SendBody(server, socket, body, script);
    }
}

// Maps a request path to a file below folder; refuses anything that could climb out of it.
bool FolderFile(const std::string& folder, const std::string& path, std::string* file) {
    if (folder.empty() || path.empty() || path[0] != '/' ||
        path.find_first_of("\\:?#") != std::string::npos || path.find("..") != std::string::npos) {
        return false;
    }
    std::string relative = path.substr(1);
    std::replace(relative.begin(), relative.end(), '/', '\\');
    *file = folder + "\\" + relative;
    return true;
}

bool IsPlainFile(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void SendNotFound(ServerState* server, SOCKET socket, const RecordedRequest& request) {
    ScriptedResponse notFound;
    notFound.Status = 404;
    notFound.Body = "not found";
    notFound.ContentType = "text/plain";
    SendScripted(server, socket, notFound, request);
}

// A file with an ETag of its size and time, whole or from the first byte a Range asks for.
void SendFile(ServerState* server, SOCKET socket, const std::string& path,
              const RecordedRequest& request) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        SendNotFound(server, socket, request);
        return;
    }
    LARGE_INTEGER size;
    FILETIME written;
    if (!GetFileSizeEx(file, &size) || !GetFileTime(file, nullptr, nullptr, &written)) {
        CloseHandle(file);
        SendNotFound(server, socket, request);
        return;
    }
    char etag[64];
    snprintf(etag, sizeof etag, "\"%llx-%lx%08lx\"", static_cast<unsigned long long>(size.QuadPart),
             written.dwHighDateTime, written.dwLowDateTime);
    const unsigned long long total = static_cast<unsigned long long>(size.QuadPart);
    unsigned long long first = 0;
    int status = 200;
    std::string contentRange;
    if (RangeStart(request, etag, "", &first)) {
        status = first < total ? 206 : 416;
        contentRange = first < total ? "bytes " + std::to_string(first) + "-" +
                                           std::to_string(total - 1) + "/" + std::to_string(total)
                                     : "bytes */" + std::to_string(total);
    }
    const unsigned long long length = status == 206 ? total - first : status == 416 ? 0 : total;
    LARGE_INTEGER start;
    start.QuadPart = static_cast<LONGLONG>(status == 206 ? first : 0);
    if (SetFilePointerEx(file, start, nullptr, FILE_BEGIN) &&
        SendText(server, socket,
                 Head(status, "application/octet-stream",
                      "Content-Length: " + std::to_string(length), etag, "", contentRange))) {
        std::vector<char> buffer(1u << 20);
        for (unsigned long long left = length; left > 0;) {
            const DWORD want =
                static_cast<DWORD>(std::min<unsigned long long>(buffer.size(), left));
            DWORD read = 0;
            if (!ReadFile(file, buffer.data(), want, &read, nullptr) || read == 0) {
                break;
            }
            server->bodyBytes += read; // counted before they go, as in SendBody
            if (!SendAll(server, socket, buffer.data(), read)) {
                break;
            }
            left -= read;
        }
    }
    CloseHandle(file);
}

// Half-closes, lets the client read to the end, then closes: closing with unread input
// would reset the connection and could destroy data the client has not read yet.
void CloseGracefully(ServerState* server, SOCKET socket) {
    shutdown(socket, SD_SEND);
    char sink[4096];
    for (int i = 0; i < 40 && WaitReadable(server, socket); ++i) {
        if (recv(socket, sink, sizeof sink, 0) <= 0) {
            break;
        }
    }
    closesocket(socket);
}

DWORD WINAPI ServeConnection(void* parameter) {
    Connection* connection = static_cast<Connection*>(parameter);
    ServerState* server = connection->server;
    SOCKET socket = connection->socket;
    delete connection;

    RecordedRequest request;
    if (ReadRequest(server, socket, &request)) {
        EnterCriticalSection(&server->lock);
        server->requests.push_back(request);
        auto found = server->scripted.find(request.Path);
        bool isScripted = found != server->scripted.end();
        ScriptedResponse script = isScripted ? found->second : ScriptedResponse();
        std::string folder = server->folder;
        LeaveCriticalSection(&server->lock);

        std::string file;
        if (isScripted) {
            SendScripted(server, socket, script, request);
        } else if (request.Method == "GET" && FolderFile(folder, request.Path, &file) &&
                   IsPlainFile(file)) {
            SendFile(server, socket, file, request);
        } else {
            SendNotFound(server, socket, request);
        }
    }
    CloseGracefully(server, socket);
    return 0;
}

// Forgets connection threads that have finished, so a long test does not pile up handles.
void ReapFinished(ServerState* server) {
    auto& threads = server->connectionThreads;
    auto finished = [](HANDLE thread) {
        if (WaitForSingleObject(thread, 0) == WAIT_OBJECT_0) {
            CloseHandle(thread);
            return true;
        }
        return false;
    };
    threads.erase(std::remove_if(threads.begin(), threads.end(), finished), threads.end());
}

DWORD WINAPI AcceptLoop(void* parameter) {
    ServerState* server = static_cast<ServerState*>(parameter);
    while (!server->Stopping()) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(server->listener, &readable);
        timeval timeout = {0, static_cast<long>(kPollMs * 1000)};
        if (select(0, &readable, nullptr, nullptr, &timeout) <= 0) {
            continue;
        }
        SOCKET client = accept(server->listener, nullptr, nullptr);
        if (client == INVALID_SOCKET) {
            continue;
        }
        ReapFinished(server);
        Connection* connection = new Connection{server, client};
        HANDLE thread = CreateThread(nullptr, 0, ServeConnection, connection, 0, nullptr);
        if (thread == nullptr) {
            delete connection;
            closesocket(client);
            continue;
        }
        server->connectionThreads.push_back(thread);
    }
    return 0;
}

} // namespace

struct TestServer::Impl : ServerState {};

TestServer::TestServer() : impl_(new Impl) {}

TestServer::~TestServer() {
    Stop();
    delete impl_;
}

bool TestServer::Start() {
    if (impl_->acceptThread != nullptr) {
        return true;
    }
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        return false;
    }
    impl_->winsockStarted = true;
    impl_->stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    impl_->listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (impl_->stopEvent == nullptr || impl_->listener == INVALID_SOCKET) {
        Stop();
        return false;
    }
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0; // the system picks a free port
    int length = sizeof address;
    if (bind(impl_->listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(impl_->listener, SOMAXCONN) != 0 ||
        getsockname(impl_->listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        Stop();
        return false;
    }
    impl_->port = ntohs(address.sin_port);
    impl_->acceptThread = CreateThread(nullptr, 0, AcceptLoop, impl_, 0, nullptr);
    if (impl_->acceptThread == nullptr) {
        Stop();
        return false;
    }
    return true;
}

void TestServer::Stop() {
    if (impl_->stopEvent != nullptr) {
        SetEvent(impl_->stopEvent);
    }
    if (impl_->acceptThread != nullptr) {
        WaitForSingleObject(impl_->acceptThread, INFINITE);
        CloseHandle(impl_->acceptThread);
        impl_->acceptThread = nullptr;
    }
    // Every wait in a connection thread watches the stop event, so these end promptly.
    for (HANDLE thread : impl_->connectionThreads) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    impl_->connectionThreads.clear();
    if (impl_->listener != INVALID_SOCKET) {
        closesocket(impl_->listener);
        impl_->listener = INVALID_SOCKET;
    }
    if (impl_->stopEvent != nullptr) {
        CloseHandle(impl_->stopEvent);
        impl_->stopEvent = nullptr;
    }
    if (impl_->winsockStarted) {
        WSACleanup();
        impl_->winsockStarted = false;
    }
    impl_->port = 0;
}

int TestServer::Port() const {
    return impl_->port;
}

std::string TestServer::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(impl_->port);
}

std::string TestServer::Url(const std::string& path) const {
    return BaseUrl() + path;
}

void TestServer::ServeFolder(const std::string& dir) {
    EnterCriticalSection(&impl_->lock);
    impl_->folder = dir;
    LeaveCriticalSection(&impl_->lock);
}

void TestServer::SetResponse(const std::string& path, const ScriptedResponse& response) {
    EnterCriticalSection(&impl_->lock);
    impl_->scripted[path] = response;
    LeaveCriticalSection(&impl_->lock);
}

void TestServer::SetBody(const std::string& path, const std::string& body, int status) {
    ScriptedResponse response;
    response.Status = status;
    response.Body = body;
    SetResponse(path, response);
}

std::vector<RecordedRequest> TestServer::Requests() const {
    EnterCriticalSection(&impl_->lock);
    std::vector<RecordedRequest> copy = impl_->requests;
    LeaveCriticalSection(&impl_->lock);
    return copy;
}

std::vector<std::string> TestServer::RequestedPaths() const {
    std::vector<std::string> paths;
    for (const RecordedRequest& request : Requests()) {
        paths.push_back(request.Path);
    }
    return paths;
}

unsigned long long TestServer::BodyBytesSent() const {
    return impl_->bodyBytes.load();
}

void TestServer::ClearRequests() {
    EnterCriticalSection(&impl_->lock);
    impl_->requests.clear();
    impl_->bodyBytes = 0;
    LeaveCriticalSection(&impl_->lock);
}
