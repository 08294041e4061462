// HttpRequest: one WinHTTP session, connection and request per call, the whole body read
// into the caller's buffer, progress shown while a body of announced size arrives. The
// exchange, the headers and the meter are shared with the streamed form.
#include "net/http_request.h"

#include <cstring>

#include "base/text.h"
#include "net/http_exchange_win.h"
#include "net/net_texts.h"
#include "net/rate_limit.h"
#include "system/launcher_state.h"
#include "ui/window_ops.h"

namespace {

// A reservation is committed at once, so a wrong Content-Length must not claim gigabytes.
constexpr uint64_t kMaxReservation = 1u << 30;

#if !defined(_WIN64)
static_assert(sizeof(URL_COMPONENTS) == 60, "the 32-bit record is 60 bytes");
#endif

uint64_t MillisecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<uint64_t>(now.QuadPart - start.QuadPart) * 1000u /
           static_cast<uint64_t>(frequency.QuadPart);
}

// Reads the body into response. Returns false when it ended early (a failed read, fewer
// bytes than announced, no memory left for the next piece) or grew past most bytes.
bool ReadBody(HINTERNET request, ByteBuffer& response, bool announced, uint64_t most,
              BodyMeter* meter) {
    unsigned char chunk[kReadPieceSize];
    uint64_t received = 0;
    for (;;) {
        DWORD count = 0;
        if (!WinHttpReadData(request, chunk, BodyPieceSize(*meter), &count)) {
            return false;
        }
        if (count == 0) {
            break;
        }
        received += count;
        if (received > most || !AppendBytes(response, chunk, count)) {
            return false;
        }
        MeterPiece(meter, count);
    }
    return !announced || received >= meter->Total;
}

} // namespace

HttpTimeouts g_HttpTimeouts;

bool SplitRequestUrl(const char* url, RequestUrl* parts) {
    wchar_t wideUrl[kUrlPathCapacity];
    // A URL that does not fit leaves the wide buffer unterminated: refuse it.
    if (MultiByteToWideChar(CP_ACP, 0, url, -1, wideUrl, kUrlPathCapacity) == 0) {
        return false;
    }
    URL_COMPONENTS components;
    memset(&components, 0, sizeof components);
    components.dwStructSize = sizeof components;
    components.lpszHostName = parts->HostName;
    components.dwHostNameLength = kUrlHostCapacity;
    components.lpszUrlPath = parts->UrlPath;
    components.dwUrlPathLength = kUrlPathCapacity;
    if (!WinHttpCrackUrl(wideUrl, 0, 0, &components)) {
        return false;
    }
    parts->Port = components.nPort;
    parts->Secure = components.nScheme == INTERNET_SCHEME_HTTPS;
    return true;
}

bool OpenHttpExchange(const char* url, const wchar_t* verb, HttpExchange* exchange) {
    memset(exchange, 0, sizeof *exchange);
    RequestUrl parts;
    if (!SplitRequestUrl(url, &parts)) {
        return false;
    }
    HINTERNET session = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (session == nullptr) {
        return false;
    }
    WinHttpSetTimeouts(session, g_HttpTimeouts.ResolveMs, g_HttpTimeouts.ConnectMs,
                       g_HttpTimeouts.SendMs, g_HttpTimeouts.ReceiveMs);
    HINTERNET connection = WinHttpConnect(session, parts.HostName, parts.Port, 0);
    if (connection == nullptr) {
        WinHttpCloseHandle(session);
        return false;
    }
    DWORD flags = parts.Secure ? WINHTTP_FLAG_SECURE : 0;
    HINTERNET request = WinHttpOpenRequest(connection, verb, parts.UrlPath, nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
    if (request == nullptr) {
        WinHttpCloseHandle(connection);
        WinHttpCloseHandle(session);
        return false;
    }
    exchange->Session = session;
    exchange->Connection = connection;
    exchange->Request = request;
    return true;
}

void CloseHttpExchange(HttpExchange* exchange) {
    if (exchange->Request != nullptr) {
        WinHttpCloseHandle(exchange->Request);
        WinHttpCloseHandle(exchange->Connection);
        WinHttpCloseHandle(exchange->Session);
    }
    memset(exchange, 0, sizeof *exchange);
}

DWORD ResponseStatus(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    return status;
}

bool ResponseHeader(HINTERNET request, const wchar_t* name, char* out, size_t cap) {
    wchar_t wide[256];
    DWORD size = sizeof wide;
    if (cap == 0) {
        return false;
    }
    out[0] = '\0';
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, name, wide, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    const size_t length = size / sizeof(wchar_t);
    if (length >= cap) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (wide[i] < 0x20 || wide[i] > 0x7E) {
            out[0] = '\0';
            return false;
        }
        out[i] = static_cast<char>(wide[i]);
    }
    out[length] = '\0';
    return true;
}

bool ResponseLength(HINTERNET request, uint64_t* length) {
    char text[32];
    return ResponseHeader(request, L"Content-Length", text, sizeof text) &&
           ParseWholeNumber(text, length);
}

void StartBodyMeter(BodyMeter* meter, const char* label, uint64_t total, uint64_t received,
                    bool limited) {
    meter->Label = label;
    meter->Total = total;
    meter->Received = received;
    meter->Kilobytes = DownloadKilobytes(total);
    meter->Shown = -1;
    meter->LimitKBps = limited ? g_Launcher.Config.DownloadLimitKBps : 0;
    meter->PacedBytes = 0;
    QueryPerformanceCounter(&meter->Started);
}

DWORD BodyPieceSize(const BodyMeter& meter) {
    return RateLimitPieceSize(meter.LimitKBps, kReadPieceSize);
}

void MeterPiece(BodyMeter* meter, DWORD count) {
    meter->Received += count;
    // The text only changes with the percentage: most pieces show nothing new.
    if (meter->Label != nullptr && meter->Total != 0) {
        const int percent = DownloadPercent(meter->Received, meter->Total);
        if (percent != meter->Shown) {
            meter->Shown = percent;
            char text[kStatusTextCapacity];
            FormatDownloadStatus(text, sizeof text, meter->Label, percent, meter->Kilobytes);
            SetStatus(text);
            SetProgress(percent);
        }
    }
    if (meter->LimitKBps != 0) {
        meter->PacedBytes += count;
        const uint64_t wait =
            RateLimitWaitMs(meter->PacedBytes, MillisecondsSince(meter->Started), meter->LimitKBps);
        if (wait > 0) {
            Sleep(static_cast<DWORD>(wait < 60000 ? wait : 60000));
        }
    }
}

namespace {

// HttpRequest with a bound on the body: an answer that announces or brings more than most
// bytes is no response.
int BoundedRequest(const char* url, ByteBuffer& response, const char* progressLabel,
                   const char* formBody, uint64_t most) {
    HttpExchange exchange;
    if (!OpenHttpExchange(url, formBody != nullptr ? L"POST" : L"GET", &exchange)) {
        return 0;
    }
    int result = 0;
    BOOL sent;
    if (formBody != nullptr) {
        DWORD length = static_cast<DWORD>(strlen(formBody));
        sent = WinHttpSendRequest(exchange.Request, kFormContentTypeHeader, static_cast<DWORD>(-1),
                                  const_cast<char*>(formBody), length, length, 0);
    } else {
        sent = WinHttpSendRequest(exchange.Request, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                  WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
    }
    if (sent && WinHttpReceiveResponse(exchange.Request, nullptr)) {
        const DWORD status = ResponseStatus(exchange.Request);
        uint64_t total = 0;
        const bool announced = ResponseLength(exchange.Request, &total);

        size_t entrySize = response.size();
        if (total <= most) {
            // One allocation for a body of known size; failing that, the buffer grows as it
            // goes.
            ReserveBytes(
                response,
                entrySize + static_cast<size_t>(total < kMaxReservation ? total : kMaxReservation));
            BodyMeter meter;
            StartBodyMeter(&meter, progressLabel, total, 0, formBody == nullptr);
            if (ReadBody(exchange.Request, response, announced, most, &meter)) {
                result = static_cast<int>(status);
            }
        }
        // A cut-off body is no response: the caller gets 0 and its buffer back as it was.
        if (result == 0) {
            if (entrySize == 0) {
                ByteBuffer().swap(response);
            } else {
                response.resize(entrySize);
            }
        }
    }
    CloseHttpExchange(&exchange);
    return result;
}

} // namespace

int HttpRequest(const char* url, ByteBuffer& response, const char* progressLabel,
                const char* formBody) {
    return BoundedRequest(url, response, progressLabel, formBody, UINT64_MAX);
}

int HttpRequestUpTo(const char* url, ByteBuffer& response, size_t mostBytes) {
    return BoundedRequest(url, response, nullptr, nullptr, mostBytes);
}
