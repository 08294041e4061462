// HttpRequest against the loopback test server: what goes on the wire, bodies and statuses,
// the progress texts, and every way a response can fail to arrive whole; its streamed form
// with the memory it keeps and the rate limit.
#include "net/http_request.h"

#include <windows.h>
#include <winhttp.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "crc32/crc32.h"
#include "net/http_download.h"
#include "recording_window_ops.h"
#include "system/launcher_state.h"
#include "test_files.h"
#include "test_server.h"
#include "update/file_checksum.h"

namespace {

ByteBuffer Bytes(const std::string& text) {
    return ByteBuffer(text.begin(), text.end());
}

std::string Text(const ByteBuffer& buffer) {
    return std::string(buffer.begin(), buffer.end());
}

// A body whose bytes depend on their position, so a lost or repeated piece shows.
std::string PatternBody(size_t length) {
    std::string body(length, '\0');
    for (size_t i = 0; i < length; ++i) {
        body[i] = static_cast<char>((i * 7u + i / 251u) & 0xFFu);
    }
    return body;
}

class HttpRequestTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_HttpTimeouts = HttpTimeouts();
        g_Launcher.Config.DownloadLimitKBps = 0;
        BuildCrc32Table();
        ASSERT_TRUE(server_.Start());
        ClearRecordedOps();
    }
    void TearDown() override {
        g_HttpTimeouts = HttpTimeouts();
        g_Launcher.Config.DownloadLimitKBps = 0;
    }
    // GET (or POST with formBody) of a path on the test server.
    int Fetch(const std::string& path, ByteBuffer& response, const char* label = nullptr,
              const char* formBody = nullptr) {
        return HttpRequest(server_.Url(path).c_str(), response, label, formBody);
    }
    RecordedRequest OnlyRequest() {
        std::vector<RecordedRequest> requests = server_.Requests();
        EXPECT_EQ(requests.size(), 1u);
        return requests.empty() ? RecordedRequest() : requests[0];
    }
    TestServer server_;
};

TEST(SplitRequestUrl, TakesThePortFromTheUrlOrTheSchemeDefault) {
    RequestUrl parts;
    ASSERT_TRUE(SplitRequestUrl("http://h/x", &parts));
    EXPECT_EQ(parts.Port, 80);
    EXPECT_FALSE(parts.Secure);
    EXPECT_STREQ(parts.HostName, L"h");
    EXPECT_STREQ(parts.UrlPath, L"/x");
    ASSERT_TRUE(SplitRequestUrl("https://h/x", &parts));
    EXPECT_EQ(parts.Port, 443);
    EXPECT_TRUE(parts.Secure);
    ASSERT_TRUE(SplitRequestUrl("http://update.example.net:8080/zorvand/launcher/status", &parts));
    EXPECT_EQ(parts.Port, 8080);
    EXPECT_FALSE(parts.Secure);
    EXPECT_STREQ(parts.HostName, L"update.example.net");
    EXPECT_STREQ(parts.UrlPath, L"/zorvand/launcher/status");
    ASSERT_TRUE(SplitRequestUrl("https://h:8443/", &parts));
    EXPECT_EQ(parts.Port, 8443);
    EXPECT_TRUE(parts.Secure);
}

TEST(SplitRequestUrl, RefusesWhatDoesNotParseOrFit) {
    RequestUrl parts;
    EXPECT_FALSE(SplitRequestUrl("", &parts));
    EXPECT_FALSE(SplitRequestUrl("update.example.net/launcher", &parts));
    EXPECT_FALSE(SplitRequestUrl("ftp://h/x", &parts));
    std::string host255 = "http://" + std::string(255, 'h') + "/x";
    EXPECT_TRUE(SplitRequestUrl(host255.c_str(), &parts));
    std::string host256 = "http://" + std::string(256, 'h') + "/x";
    EXPECT_FALSE(SplitRequestUrl(host256.c_str(), &parts));
    // 1023 characters fit with the terminator; 1024 do not convert at all.
    std::string url1023 = "http://h/" + std::string(1023 - 9, 'p');
    EXPECT_TRUE(SplitRequestUrl(url1023.c_str(), &parts));
    EXPECT_EQ(wcslen(parts.UrlPath), 1023u - 8u);
    std::string url1024 = url1023 + "p";
    EXPECT_FALSE(SplitRequestUrl(url1024.c_str(), &parts));
}

TEST_F(HttpRequestTest, GetReachesTheExplicitPortWithTheUserAgentAndNoBody) {
    server_.SetBody("/launcher/manifest.txt", "manifest");
    ByteBuffer response;
    EXPECT_EQ(Fetch("/launcher/manifest.txt", response), 200);
    EXPECT_EQ(Text(response), "manifest");
    RecordedRequest request = OnlyRequest();
    EXPECT_EQ(request.Method, "GET");
    EXPECT_EQ(request.Path, "/launcher/manifest.txt");
    EXPECT_EQ(request.Header("Host"), "127.0.0.1:" + std::to_string(server_.Port()));
    EXPECT_EQ(request.Header("User-Agent"), "QeltLauncher");
    EXPECT_EQ(request.Body, "");
    EXPECT_FALSE(request.HasHeader("Content-Type"));
    if (request.HasHeader("Content-Length")) {
        EXPECT_EQ(request.Header("Content-Length"), "0");
    }
    EXPECT_TRUE(RecordedOps().empty());
}

TEST_F(HttpRequestTest, PostCarriesTheFormTypeAndTheBodyEvenWhenEmpty) {
    server_.SetBody("/launcher/register", "ok");
    ByteBuffer response;
    EXPECT_EQ(Fetch("/launcher/register", response, nullptr, ""), 200);
    EXPECT_EQ(Text(response), "ok");
    RecordedRequest empty = OnlyRequest();
    EXPECT_EQ(empty.Method, "POST");
    EXPECT_EQ(empty.Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(empty.Header("Content-Length"), "0");
    EXPECT_EQ(empty.Body, "");
    EXPECT_EQ(empty.Header("User-Agent"), "QeltLauncher");

    server_.ClearRequests();
    response.clear();
    const char* form = "account=qelt01&password=a%26b%3Dc&email=x%40y.z";
    EXPECT_EQ(Fetch("/launcher/register", response, nullptr, form), 200);
    RecordedRequest filled = OnlyRequest();
    EXPECT_EQ(filled.Method, "POST");
    EXPECT_EQ(filled.Body, form);
    EXPECT_EQ(filled.Header("Content-Length"), std::to_string(strlen(form)));
    EXPECT_EQ(filled.Header("Content-Type"), "application/x-www-form-urlencoded");
}

TEST_F(HttpRequestTest, AnyStatusComesBackWithItsBody) {
    ScriptedResponse notFound;
    notFound.Status = 404;
    notFound.Body = "<html><body><h1>404 Not Found</h1></body></html>";
    notFound.ContentType = "text/html";
    server_.SetResponse("/patch/missing.dat", notFound);
    server_.SetBody("/launcher/register", "Tai khoan da ton tai", 409);
    ByteBuffer response;
    EXPECT_EQ(Fetch("/patch/missing.dat", response, "missing.dat"), 404);
    EXPECT_EQ(Text(response), notFound.Body);
    response.clear();
    EXPECT_EQ(Fetch("/launcher/register", response, nullptr, "a=b"), 409);
    EXPECT_EQ(Text(response), "Tai khoan da ton tai");
    response.clear();
    EXPECT_EQ(Fetch("/nothing/scripted/here", response), 404);
    EXPECT_EQ(Text(response), "not found");
}

TEST_F(HttpRequestTest, ChunkedBodyIsReadWholeWithoutProgress) {
    ScriptedResponse chunked;
    chunked.Chunked = true;
    chunked.Body = PatternBody(100000);
    server_.SetResponse("/patch/big.bin", chunked);
    ByteBuffer response;
    EXPECT_EQ(Fetch("/patch/big.bin", response, "big.bin (1/1)"), 200);
    EXPECT_EQ(response.size(), chunked.Body.size());
    EXPECT_TRUE(Text(response) == chunked.Body);
    EXPECT_TRUE(RecordedOps().empty());
}

TEST_F(HttpRequestTest, ProgressIsShownOncePerPieceOfAnAnnouncedBody) {
    ScriptedResponse twoPieces;
    twoPieces.Body = PatternBody(65536);
    twoPieces.ChunkPauseMs = 300; // each read then brings exactly one 32768-byte piece
    server_.SetResponse("/patch/data/x.pak", twoPieces);
    ByteBuffer response;
    EXPECT_EQ(Fetch("/patch/data/x.pak", response, "x"), 200);
    EXPECT_TRUE(Text(response) == twoPieces.Body);
    std::vector<std::string> expected = {"status:Dang tai x - 50% cua 64 KB", "progress:50",
                                         "status:Dang tai x - 100% cua 64 KB", "progress:100"};
    EXPECT_EQ(RecordedOpLines(), expected);
}

TEST_F(HttpRequestTest, KilobyteFigureIsRoundedUp) {
    const struct {
        size_t length;
        const char* text;
    } cases[] = {
        {1, "status:Dang tai f - 100% cua 1 KB"},
        {1024, "status:Dang tai f - 100% cua 1 KB"},
        {1025, "status:Dang tai f - 100% cua 2 KB"},
    };
    for (const auto& c : cases) {
        server_.SetBody("/f", std::string(c.length, 'k'));
        ClearRecordedOps();
        ByteBuffer response;
        EXPECT_EQ(Fetch("/f", response, "f"), 200);
        EXPECT_EQ(response.size(), c.length);
        std::vector<std::string> expected = {c.text, "progress:100"};
        EXPECT_EQ(RecordedOpLines(), expected) << c.length << " bytes";
    }
}

TEST_F(HttpRequestTest, NoLabelMeansNoProgressAndAnEmptyBodyIsFine) {
    server_.SetBody("/launcher/status", "online");
    server_.SetBody("/empty", "");
    ByteBuffer response;
    EXPECT_EQ(Fetch("/launcher/status", response), 200);
    EXPECT_EQ(Text(response), "online");
    response.clear();
    EXPECT_EQ(Fetch("/empty", response, "empty"), 200);
    EXPECT_TRUE(response.empty());
    EXPECT_TRUE(RecordedOps().empty());
}

TEST_F(HttpRequestTest, BodyCutShortOfItsLengthIsNoResponse) {
    ScriptedResponse cut;
    cut.Body = PatternBody(100000);
    cut.CloseAfterBytes = 40000;
    server_.SetResponse("/patch/cut.bin", cut);
    ByteBuffer response;
    EXPECT_EQ(Fetch("/patch/cut.bin", response, "cut.bin"), 0);
    EXPECT_TRUE(response.empty());
    for (const RecordedOp& op : RecordedOps()) {
        EXPECT_NE(op.Value, 100);
        EXPECT_EQ(op.Text.find("100%"), std::string::npos);
    }

    // The same for a body cut within its first read, and for a buffer that held bytes.
    cut.CloseAfterBytes = 10;
    server_.SetResponse("/patch/cut.bin", cut);
    response = Bytes("kept");
    EXPECT_EQ(Fetch("/patch/cut.bin", response), 0);
    EXPECT_EQ(Text(response), "kept");
}

TEST_F(HttpRequestTest, ReadThatFailsWithinTheBodyIsNoResponse) {
    // A chunked body has no length to compare with: only the failed read tells. The server
    // stalls after the first piece until the (shortened) receive time-out ends the read.
    g_HttpTimeouts.ReceiveMs = 2000;
    ScriptedResponse stalled;
    stalled.Chunked = true;
    stalled.Body = PatternBody(65536);
    stalled.ChunkPauseMs = 45000;
    server_.SetResponse("/patch/stalled.bin", stalled);
    ByteBuffer response = Bytes("kept");
    EXPECT_EQ(Fetch("/patch/stalled.bin", response, "stalled.bin"), 0);
    EXPECT_EQ(Text(response), "kept");
}

TEST_F(HttpRequestTest, AnswerlessCloseIsNoResponse) {
    ScriptedResponse refuse;
    refuse.Refuse = true;
    server_.SetResponse("/launcher/status", refuse);
    ByteBuffer response = Bytes("untouched");
    EXPECT_EQ(Fetch("/launcher/status", response), 0);
    EXPECT_EQ(Text(response), "untouched");
    EXPECT_EQ(server_.RequestedPaths(), std::vector<std::string>{"/launcher/status"});
}

TEST_F(HttpRequestTest, SlowAnswerWithinTheTimeoutsArrives) {
    ScriptedResponse slow;
    slow.Body = "late";
    slow.DelayMs = 1500;
    server_.SetResponse("/slow", slow);
    ByteBuffer response;
    DWORD start = GetTickCount();
    EXPECT_EQ(Fetch("/slow", response), 200);
    EXPECT_GE(GetTickCount() - start, 1400u);
    EXPECT_EQ(Text(response), "late");
}

TEST_F(HttpRequestTest, RefusedConnectionLeavesTheBufferUntouched) {
    TestServer gone;
    ASSERT_TRUE(gone.Start());
    std::string url = gone.Url("/launcher/manifest.txt");
    gone.Stop(); // nobody listens on that port any more
    ByteBuffer response = Bytes("untouched");
    EXPECT_EQ(HttpRequest(url.c_str(), response, "x", nullptr), 0);
    EXPECT_EQ(Text(response), "untouched");
    EXPECT_TRUE(RecordedOps().empty());
}

TEST_F(HttpRequestTest, UnresolvableHostFailsWithinTheResolveTimeout) {
    ByteBuffer response = Bytes("untouched");
    DWORD start = GetTickCount();
    EXPECT_EQ(HttpRequest("http://nonexistent.invalid/", response, nullptr, nullptr), 0);
    EXPECT_LT(GetTickCount() - start, 30000u);
    EXPECT_EQ(Text(response), "untouched");
}

TEST_F(HttpRequestTest, MalformedUrlIsNoResponse) {
    ByteBuffer response = Bytes("untouched");
    EXPECT_EQ(HttpRequest("not a url", response, nullptr, nullptr), 0);
    std::string overlong = server_.Url("/") + std::string(1100, 'p');
    EXPECT_EQ(HttpRequest(overlong.c_str(), response, nullptr, nullptr), 0);
    EXPECT_EQ(Text(response), "untouched");
    EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(HttpRequestTest, HttpsToAPlainHttpPortIsNoResponse) {
    server_.SetBody("/launcher/status", "online");
    std::string url = "https://127.0.0.1:" + std::to_string(server_.Port()) + "/launcher/status";
    ByteBuffer response = Bytes("untouched");
    EXPECT_EQ(HttpRequest(url.c_str(), response, nullptr, nullptr), 0);
    EXPECT_EQ(Text(response), "untouched");
    // The client spoke TLS: no plain request ever reached the server.
    EXPECT_TRUE(server_.Requests().empty());
}

// Writes size bytes of PatternBody's kind in pieces, never the whole in memory, and returns
// their CRC-32.
uint32_t WritePatternFile(const std::string& path, uint64_t size) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
    const std::string piece = PatternBody(1u << 20);
    uint32_t crc = 0xFFFFFFFFu;
    for (uint64_t done = 0; done < size;) {
        const DWORD length = static_cast<DWORD>(std::min<uint64_t>(piece.size(), size - done));
        DWORD written = 0;
        if (!WriteFile(file, piece.data(), length, &written, nullptr) || written == 0) {
            break;
        }
        crc = Crc32Update(crc, piece.data(), written);
        done += written;
    }
    CloseHandle(file);
    return crc ^ 0xFFFFFFFFu;
}

PROCESS_MEMORY_COUNTERS MemoryCounters() {
    PROCESS_MEMORY_COUNTERS counters;
    memset(&counters, 0, sizeof counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters;
}

// The largest working set seen at any progress report of a download into target, less the
// working set before it. The process's peak would not do: it only ever grows, and what an
// earlier test or Wine's first start in a new prefix took stays in it.
SIZE_T WorkingSetGrowth(const std::string& url, const std::string& target, uint32_t crc) {
    const SIZE_T before = MemoryCounters().WorkingSetSize;
    SIZE_T largest = before;
    g_OnRecorded = [&largest](const RecordedOp&) {
        largest = std::max(largest, MemoryCounters().WorkingSetSize);
    };
    const DownloadResult result =
        HttpRequestToFile(url.c_str(), target.c_str(), ExpectedBody{true, crc}, "body");
    g_OnRecorded = nullptr;
    EXPECT_EQ(result, DownloadResult::Written) << url;
    return largest - before;
}

// A body streams to disk: a few hundred MiB lift the working set during the download no
// more than a 1 MiB body does.
TEST_F(HttpRequestTest, StreamedBodyKeepsMemoryFlatWhateverItsSize) {
    constexpr uint64_t kMiB = 1u << 20;
    constexpr uint64_t kLarge = 320 * kMiB;
    const std::string dir = MakeScratchDir("stream");
    server_.ServeFolder(dir);
    const uint32_t smallCrc = WritePatternFile(dir + "\\small.bin", kMiB);
    const uint32_t largeCrc = WritePatternFile(dir + "\\large.bin", kLarge);
    const std::string target = dir + "\\got.bin";
    {
        // The measure can tell: memory the process holds shows in its working set.
        const SIZE_T before = MemoryCounters().WorkingSetSize;
        std::vector<char> held(kLarge / 2);
        volatile char* page = held.data();
        for (size_t i = 0; i < held.size(); i += 4096) {
            page[i] = 1;
        }
        ASSERT_GT(MemoryCounters().WorkingSetSize, before + kLarge / 4);
    }
    const SIZE_T small = WorkingSetGrowth(server_.Url("/small.bin"), target, smallCrc);
    const SIZE_T large = WorkingSetGrowth(server_.Url("/large.bin"), target, largeCrc);
    EXPECT_LT(large, small + 64 * kMiB)
        << "a 1 MiB body took " << small / kMiB << " MiB more, a 320 MiB one " << large / kMiB;
    uint32_t written = 0;
    EXPECT_TRUE(FileChecksum(target.c_str(), &written));
    EXPECT_EQ(written, largeCrc);
    EXPECT_EQ(ListFolder(dir), (std::vector<std::string>{"got.bin", "large.bin", "small.bin"}));
    RemoveTree(dir);
}

// DownloadLimitKBps holds a body to its rate (only a missing limit could make this quick on
// loopback) and shows the same progress text as ever.
TEST_F(HttpRequestTest, DownloadLimitHoldsTheRate) {
    const std::string body = PatternBody(512 * 1024);
    server_.SetBody("/patch/f", body);
    const std::string dir = MakeScratchDir("limit");
    const std::string target = dir + "\\f";
    g_Launcher.Config.DownloadLimitKBps = 256;
    LARGE_INTEGER start, end, frequency;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    EXPECT_EQ(HttpRequestToFile(server_.Url("/patch/f").c_str(), target.c_str(),
                                ExpectedBody{true, BufferChecksum(body.data(), body.size())}, "f"),
              DownloadResult::Written);
    QueryPerformanceCounter(&end);
    const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) /
                           static_cast<double>(frequency.QuadPart);
    EXPECT_GE(seconds, 1.9); // 512 KiB at 256 KiB/s: 2 s
    std::string written;
    EXPECT_TRUE(ReadWholeFile(target, &written) && written == body);
    const std::vector<std::string> ops = RecordedOpLines();
    ASSERT_GE(ops.size(), 2u);
    EXPECT_EQ(ops[ops.size() - 2], "status:Dang tai f - 100% cua 512 KB");
    EXPECT_EQ(ops.back(), "progress:100");
    RemoveTree(dir);
}

// openssl s_server with a certificate made for the run: a real TLS peer that nobody trusts.
class SelfSignedTlsServer {
  public:
    ~SelfSignedTlsServer() {
        if (process_ != nullptr) {
            CloseHandle(process_); // the server ends after two connections, or after 60 s
        }
        RemoveTree(windowsDir_);
    }
    // Starts the server on a free port; false when openssl could not be started.
    bool Start() {
        port_ = FreePort();
        char dir[128];
        snprintf(dir, sizeof dir, "/tmp/qelt-tls-%lu-%lu", GetCurrentProcessId(), GetTickCount());
        unixDir_ = dir;
        windowsDir_ = "Z:" + unixDir_;
        std::replace(windowsDir_.begin(), windowsDir_.end(), '/', '\\');
        if (port_ == 0 || !CreateDirectoryA(windowsDir_.c_str(), nullptr)) {
            return false;
        }
        // Wine starts Unix programs by path; the script needs no quotes of its own.
        std::string command =
            "/bin/sh -c \"cd " + unixDir_ +
            " && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
            " -keyout key.pem -out cert.pem -subj /CN=127.0.0.1 -days 1 >req.log 2>&1"
            " && exec timeout 60 openssl s_server -accept 127.0.0.1:" +
            std::to_string(port_) +
            " -cert cert.pem -key key.pem -naccept 2 -www >server.log 2>&1\"";
        STARTUPINFOA startup;
        memset(&startup, 0, sizeof startup);
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info;
        std::vector<char> line(command.begin(), command.end());
        line.push_back('\0');
        if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &info)) {
            return false;
        }
        CloseHandle(info.hThread);
        process_ = info.hProcess;
        // The handle Wine gives for a Unix program does not follow its life: watch the log.
        for (int i = 0; i < 200; ++i) { // s_server says ACCEPT once it listens
            if (Log().find("ACCEPT") != std::string::npos) {
                return true;
            }
            Sleep(100);
        }
        return false;
    }
    int Port() const { return port_; }
    std::string Log() const {
        std::string log;
        ReadWholeFile(windowsDir_ + "\\server.log", &log);
        return log;
    }

  private:
    static int FreePort() {
        TestServer probe;
        return probe.Start() ? probe.Port() : 0; // closed again when probe goes
    }
    int port_ = 0;
    std::string unixDir_;
    std::string windowsDir_;
    HANDLE process_ = nullptr;
};

// The same GET over WinHTTP with certificate checks off: shows that TLS itself works here.
int FetchIgnoringCertificate(int port, std::string* body) {
    HINTERNET session = WinHttpOpen(L"probe", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET connection =
        WinHttpConnect(session, L"127.0.0.1", static_cast<INTERNET_PORT>(port), 0);
    HINTERNET request = WinHttpOpenRequest(connection, L"GET", L"/", nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
    DWORD ignore = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                   SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
    WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &ignore, sizeof ignore);
    DWORD status = 0;
    if (WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                           0) &&
        WinHttpReceiveResponse(request, nullptr)) {
        DWORD size = sizeof status;
        WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
        // s_server keeps the connection open after its page: read only what has come, and
        // stop at the page's end.
        char chunk[4096];
        DWORD available = 0;
        DWORD count = 0;
        while (body->find("</HTML>") == std::string::npos &&
               WinHttpQueryDataAvailable(request, &available) && available > 0 &&
               WinHttpReadData(request, chunk, available < sizeof chunk ? available : sizeof chunk,
                               &count) &&
               count > 0) {
            body->append(chunk, count);
        }
    }
    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    return static_cast<int>(status);
}

TEST(HttpRequestTls, SelfSignedCertificateIsNotTrusted) {
    SelfSignedTlsServer tls;
    ASSERT_TRUE(tls.Start()) << "openssl s_server did not start:\n" << tls.Log();
    std::string url = "https://127.0.0.1:" + std::to_string(tls.Port()) + "/launcher/status";
    ByteBuffer response = Bytes("untouched");
    EXPECT_EQ(HttpRequest(url.c_str(), response, nullptr, nullptr), 0);
    EXPECT_EQ(Text(response), "untouched");
    std::string page;
    EXPECT_EQ(FetchIgnoringCertificate(tls.Port(), &page), 200);
    EXPECT_NE(page.find("s_server"), std::string::npos);
}

} // namespace
