// One complete HTTP(S) exchange with the update server, body held in memory. The exchange
// itself is WinHTTP (http_request_win.cpp); the progress figures and text shown while a
// body of announced size arrives are platform-free (http_request.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/byte_buffer.h"

// A URL handed to HttpRequest: UpdateUrl and a path below it, terminator included.
constexpr size_t kUrlCapacity = 512;

// GET when formBody is null, else a form POST carrying formBody. Appends the response body
// to response (handed in empty) and returns the HTTP status, or 0 when no complete
// response was obtained. With a progressLabel, reports "Dang tai ..." through SetStatus and
// SetProgress while a body of announced length arrives. A GET keeps to the download rate
// limit of the settings. For small bodies (manifest, status, a form's answer): files are
// downloaded with HttpRequestToFile (net/http_download.h).
// A result of 0 always leaves response as it was handed in, also when a body had begun to
// arrive and then broke off, or when memory ran out while it grew.
int HttpRequest(const char* url, ByteBuffer& response, const char* progressLabel,
                const char* formBody);

// A GET as HttpRequest's, without progress, of a body that may be at most mostBytes long: an
// answer that announces or brings more gives 0, with response as handed in. For what a
// hostile server must not make the launcher hold (the signed list and its signatures).
int HttpRequestUpTo(const char* url, ByteBuffer& response, size_t mostBytes);

// WinHTTP's four time-outs, in milliseconds: resolve, connect, send, receive. Tests shorten
// them; the program keeps these values.
struct HttpTimeouts {
    int ResolveMs = 5000;
    int ConnectMs = 5000;
    int SendMs = 30000;
    int ReceiveMs = 30000;
};
extern HttpTimeouts g_HttpTimeouts;

constexpr int kUrlHostCapacity = 256;  // UTF-16 units, terminator included
constexpr int kUrlPathCapacity = 1024; // UTF-16 units, terminator included

// What a request takes from its URL, as the platform's URL parser splits it.
struct RequestUrl {
    wchar_t HostName[kUrlHostCapacity];
    wchar_t UrlPath[kUrlPathCapacity];
    unsigned short Port; // the scheme's default when the URL names none
    bool Secure;         // https
};

// Converts the URL from the ANSI code page and splits it. False when it is longer than
// 1023 characters, malformed, or its host or path does not fit.
bool SplitRequestUrl(const char* url, RequestUrl* parts);

constexpr char kDownloadStatusFormat[] = "Dang tai %s - %d%% cua %d KB";

// received * 100 / total in unsigned 64-bit arithmetic, truncated; the low 32 bits as the
// position. total must not be 0.
int DownloadPercent(uint64_t received, uint64_t total);

// The announced size in KiB, rounded up.
int DownloadKilobytes(uint64_t total);

// "Dang tai <label> - <percent>% cua <kb> KB". False, out empty, when it does not fit.
bool FormatDownloadStatus(char* out, size_t cap, const char* label, int percent, int kilobytes);
