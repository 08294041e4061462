// The loopback test server itself: folder serving, its refusals, and a prompt stop.
#include "test_server.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/http_request.h"
#include "test_files.h"

namespace {

std::string Text(const ByteBuffer& buffer) {
    return std::string(buffer.begin(), buffer.end());
}

class TestServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = MakeScratchDir("server");
        ASSERT_TRUE(CreateDirectoryA((dir_ + "\\launcher").c_str(), nullptr));
        ASSERT_TRUE(WriteWholeFile(dir_ + "\\launcher\\status", "online"));
        ASSERT_TRUE(WriteWholeFile(dir_ + "\\secret.txt", "secret"));
        ASSERT_TRUE(CreateDirectoryA((dir_ + "\\site").c_str(), nullptr));
        ASSERT_TRUE(WriteWholeFile(dir_ + "\\site\\index.txt", "index"));
        ASSERT_TRUE(server_.Start());
        server_.ServeFolder(dir_ + "\\site");
    }
    void TearDown() override {
        server_.Stop();
        RemoveTree(dir_);
    }
    int Get(const std::string& path, ByteBuffer* body) {
        body->clear();
        return HttpRequest(server_.Url(path).c_str(), *body, nullptr, nullptr);
    }
    std::string dir_;
    TestServer server_;
};

TEST_F(TestServerTest, ServesFilesBelowTheFolderAndNothingElse) {
    ByteBuffer body;
    EXPECT_EQ(Get("/index.txt", &body), 200);
    EXPECT_EQ(Text(body), "index");
    EXPECT_EQ(Get("/missing.txt", &body), 404);
    EXPECT_EQ(Get("/", &body), 404); // a folder is not a file
    EXPECT_EQ(Get("/../secret.txt", &body), 404);
    EXPECT_EQ(Get("/%2e%2e/secret.txt", &body), 404);
    server_.ServeFolder(dir_);
    EXPECT_EQ(Get("/launcher/status", &body), 200);
    EXPECT_EQ(Text(body), "online");
    // A scripted answer wins over a file of the same path.
    server_.SetBody("/launcher/status", "offline");
    EXPECT_EQ(Get("/launcher/status", &body), 200);
    EXPECT_EQ(Text(body), "offline");
}

TEST_F(TestServerTest, RecordsEveryRequestInOrderUntilCleared) {
    ByteBuffer body;
    Get("/index.txt", &body);
    Get("/missing.txt", &body);
    HttpRequest(server_.Url("/form").c_str(), body, nullptr, "a=1");
    std::vector<std::string> expected = {"/index.txt", "/missing.txt", "/form"};
    EXPECT_EQ(server_.RequestedPaths(), expected);
    std::vector<RecordedRequest> requests = server_.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2].Method, "POST");
    EXPECT_EQ(requests[2].Body, "a=1");
    EXPECT_EQ(requests[2].Header("content-length"), "3"); // names match in any case
    server_.ClearRequests();
    EXPECT_TRUE(server_.Requests().empty());
}

// A client that hangs on a long delay must not keep Stop waiting for it.
DWORD WINAPI FetchSlow(void* url) {
    ByteBuffer body;
    HttpRequest(static_cast<std::string*>(url)->c_str(), body, nullptr, nullptr);
    return 0;
}

TEST_F(TestServerTest, StopEndsPendingAnswersPromptly) {
    ScriptedResponse slow;
    slow.DelayMs = 60000;
    server_.SetResponse("/slow", slow);
    std::string url = server_.Url("/slow");
    HANDLE client = CreateThread(nullptr, 0, FetchSlow, &url, 0, nullptr);
    ASSERT_NE(client, nullptr);
    for (int i = 0; i < 100 && server_.Requests().empty(); ++i) {
        Sleep(50);
    }
    ASSERT_EQ(server_.Requests().size(), 1u);
    DWORD start = GetTickCount();
    server_.Stop();
    EXPECT_LT(GetTickCount() - start, 5000u);
    EXPECT_EQ(WaitForSingleObject(client, 30000), WAIT_OBJECT_0);
    CloseHandle(client);
}

} // namespace
