// What the two forms of a request share: the WinHTTP handles of one exchange, the response
// headers they read, and the meter that shows a body's progress and holds it to the rate
// limit while it arrives.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstddef>
#include <cstdint>

// The three handles of one request; all null, or all open.
struct HttpExchange {
    HINTERNET Session;
    HINTERNET Connection;
    HINTERNET Request;
};

// Opens session, connection and request for the URL with the time-outs of g_HttpTimeouts.
// False, with nothing left open, when the URL does not parse or a handle cannot be had.
bool OpenHttpExchange(const char* url, const wchar_t* verb, HttpExchange* exchange);

// Closes the request, the connection and the session, in that order.
void CloseHttpExchange(HttpExchange* exchange);

// The status code, 0 when it cannot be read.
DWORD ResponseStatus(HINTERNET request);

// A response header as 8-bit text. False, out empty, when it is absent, does not fit or is
// not printable ASCII.
bool ResponseHeader(HINTERNET request, const wchar_t* name, char* out, size_t cap);

// The announced body length. False when the response has none (or an unreadable one).
bool ResponseLength(HINTERNET request, uint64_t* length);

// One fixed read: a body arrives in pieces of at most this many bytes.
constexpr DWORD kReadPieceSize = 32768;

// Progress and pace of one body. Progress is shown only with a label and a known total,
// and only when the percentage moves; the pace keeps to g_Launcher's DownloadLimitKBps.
struct BodyMeter {
    const char* Label;
    uint64_t Total;    // the whole body's length; 0 when none was announced
    uint64_t Received; // bytes of the body so far, those of an earlier run included
    int Kilobytes;
    int Shown;             // the percentage on the status line, -1 before the first
    uint32_t LimitKBps;    // 0: no limit
    uint64_t PacedBytes;   // bytes this exchange received, which the limit counts
    LARGE_INTEGER Started; // when this exchange's body began
};

// limited: whether the rate limit applies (downloads do; a form's answer does not).
void StartBodyMeter(BodyMeter* meter, const char* label, uint64_t total, uint64_t received,
                    bool limited);

// The size of the next read.
DWORD BodyPieceSize(const BodyMeter& meter);

// Counts a piece that arrived: shows the new percentage if it moved, then waits as long as
// the rate limit asks.
void MeterPiece(BodyMeter* meter, DWORD count);
