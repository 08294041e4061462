// The publisher and the reference server together, as an operator runs them: publish a
// client folder, serve it, fetch what a launcher fetches, and register accounts.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#ifndef QELT_PUBLISH_EXE
#error "QELT_PUBLISH_EXE and QELT_SERVER_EXE must name the tools"
#endif

namespace {

struct Reply {
    int Status = 0;
    std::string Body;
};

Reply Exchange(int port, const std::string& request) {
    Reply reply;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return reply;
    }
    send(fd, request.data(), request.size(), 0);
    std::string data;
    char chunk[4096];
    ssize_t n = 0;
    while ((n = recv(fd, chunk, sizeof chunk, 0)) > 0) {
        data.append(chunk, static_cast<size_t>(n));
    }
    close(fd);
    sscanf(data.c_str(), "HTTP/1.1 %d", &reply.Status);
    size_t end = data.find("\r\n\r\n");
    reply.Body = end == std::string::npos ? "" : data.substr(end + 4);
    return reply;
}

Reply Get(int port, const std::string& path) {
    return Exchange(port, "GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n");
}

Reply Post(int port, const std::string& body) {
    return Exchange(port, "POST /launcher/register HTTP/1.1\r\nHost: x\r\nContent-Type: "
                          "application/x-www-form-urlencoded\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\n\r\n" + body);
}

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class ReferenceServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/qelt-tools-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        mkdir((dir_ + "/client").c_str(), 0755);
        mkdir((dir_ + "/client/data").c_str(), 0755);
        Write(dir_ + "/client/main.exe", "123456789");
        Write(dir_ + "/client/data/map 1.att", "abc");
        const std::string publish =
            std::string(QELT_PUBLISH_EXE) + " " + dir_ + "/client " + dir_ + "/tree >/dev/null";
        ASSERT_EQ(system(publish.c_str()), 0);
        server_ = fork();
        if (server_ == 0) {
            execl(QELT_SERVER_EXE, QELT_SERVER_EXE, "--root", (dir_ + "/tree").c_str(), "--port",
                  "0", "--port-file", (dir_ + "/port").c_str(), "--seconds", "60", nullptr);
            _exit(127);
        }
        for (int i = 0; i < 100 && port_ == 0; ++i) {
            usleep(50000);
            port_ = atoi(Read(dir_ + "/port").c_str());
        }
        ASSERT_NE(port_, 0);
    }
    void TearDown() override {
        if (server_ > 0) {
            kill(server_, SIGTERM);
            waitpid(server_, nullptr, 0);
        }
        system(("rm -rf " + dir_).c_str());
    }
    std::string dir_;
    pid_t server_ = 0;
    int port_ = 0;
};

TEST_F(ReferenceServerTest, ServesWhatTheLauncherFetches) {
    Reply manifest = Get(port_, "/launcher/manifest.txt");
    EXPECT_EQ(manifest.Status, 200);
    EXPECT_NE(manifest.Body.find("CBF43926\tmain.exe\n"), std::string::npos) << manifest.Body;
    EXPECT_NE(manifest.Body.find("352441C2\tdata/map 1.att\n"), std::string::npos);
    EXPECT_EQ(Get(port_, "/launcher/status").Body, "online");
    EXPECT_EQ(Get(port_, "/patch/main.exe").Body, "123456789");
    // WinHTTP sends a space as %20 and a backslash separator as %5C.
    EXPECT_EQ(Get(port_, "/patch/data/map%201.att").Body, "abc");
    EXPECT_EQ(Get(port_, "/patch/data%5Cmap%201.att").Body, "abc");
    EXPECT_EQ(Get(port_, "/patch/../client/main.exe").Status, 404);
    EXPECT_EQ(Get(port_, "/patch/missing.bin").Status, 404);
    EXPECT_EQ(Get(port_, "/patch/data").Status, 404);
}

TEST_F(ReferenceServerTest, RegistersEachAccountOnce) {
    Reply first = Post(port_, "account=tuan99&password=p%26ss%3D1&email=tu%E1%BA%A5n%40mail.vn");
    EXPECT_EQ(first.Status, 200);
    EXPECT_NE(first.Body.find("tuan99"), std::string::npos);
    EXPECT_EQ(Read(dir_ + "/tree/accounts.tsv"), "tuan99\ttu\xE1\xBA\xA5n@mail.vn\n");
    Reply again = Post(port_, "account=TUAN99&password=secret1&email=x");
    EXPECT_EQ(again.Status, 409);
    EXPECT_EQ(Post(port_, "account=ab&password=secret1&email=x").Status, 400);
    EXPECT_EQ(Post(port_, "account=abcd&password=a%20b%20c%20d&email=x").Status, 400);
    EXPECT_EQ(Post(port_, "account=abcd&password=secret1&email=").Status, 400);
}

} // namespace
