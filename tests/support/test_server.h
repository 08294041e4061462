// A loopback HTTP/1.1 server for the Wine test programs. It runs on its own thread in the
// test process, listens on 127.0.0.1 with a free port, serves scripted answers per path
// (or files from a folder, with validators and ranges), records every request, counts the
// body bytes it sends, and stops when destroyed.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

struct ScriptedResponse {
    int Status = 200;
    std::string Body;
    bool Chunked = false;                       // no Content-Length, chunked transfer encoding
    size_t CloseAfterBytes = std::string::npos; // announce the whole length, send only this many
    unsigned DelayMs = 0;                       // wait before answering
    bool Refuse = false;                        // close the connection without any answer
    unsigned ChunkPauseMs = 0;                  // pause between 32768-byte pieces of the body
    std::string ContentType = "application/octet-stream";
    // Validators, sent when not empty. With one, a "Range: bytes=N-" is answered 206 with
    // the rest (416 past the end) unless an If-Range names another validator.
    std::string ETag; // with its quotes
    std::string LastModified;
};

struct RecordedRequest {
    std::string Method;
    std::string Path; // as sent on the request line
    std::vector<std::pair<std::string, std::string>> Headers;
    std::string Body;
    // Value of the first header with that name (case-insensitive), or "" when absent.
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
};

class TestServer {
  public:
    TestServer();
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    bool Start();
    void Stop();
    int Port() const;
    std::string BaseUrl() const;                    // "http://127.0.0.1:<port>"
    std::string Url(const std::string& path) const; // BaseUrl() + path

    // Answers GET <path> for files below dir (when no scripted response matches).
    void ServeFolder(const std::string& dir);
    // Scripted answer for an exact path; replaces any earlier one for that path.
    void SetResponse(const std::string& path, const ScriptedResponse& response);
    void SetBody(const std::string& path, const std::string& body, int status = 200);

    std::vector<RecordedRequest> Requests() const;
    std::vector<std::string> RequestedPaths() const;
    // Body bytes sent in all answers since the start or the last ClearRequests.
    unsigned long long BodyBytesSent() const;
    void ClearRequests();

  private:
    struct Impl;
    Impl* impl_;
};
