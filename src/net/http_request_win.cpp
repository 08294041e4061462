// HttpRequest: one WinHTTP session, connection and request per call, the whole body read
// into the caller's buffer, progress shown while a body of announced size arrives.
#include "net/http_request.h"

#include <windows.h>
#include <winhttp.h>

#include <cstring>

#include "base/text.h"
#include "net/net_texts.h"
#include "ui/window_ops.h"

namespace {

constexpr DWORD kChunkSize = 32768;
// A reservation is committed at once, so a wrong Content-Length must not claim gigabytes.
constexpr DWORD kMaxReservation = 1u << 30;

#if !defined(_WIN64)
static_assert(sizeof(URL_COMPONENTS) == 60, "the 32-bit record is 60 bytes");
#endif

// Reads the body into response. Returns false when it ended early: a failed read, fewer
// bytes than announced, or no memory left for the next piece.
bool ReadBody(HINTERNET request, ByteBuffer& response, DWORD total, const char* progressLabel) {
    unsigned char chunk[kChunkSize];
    int kilobytes = DownloadKilobytes(total);
    int shown = -1; // the text only changes with the percentage: most pieces show nothing new
    unsigned long long received = 0;
    for (;;) {
        DWORD count = 0;
        if (!WinHttpReadData(request, chunk, kChunkSize, &count)) {
            return false;
        }
        if (count == 0) {
            break;
        }
        if (!AppendBytes(response, chunk, count)) {
            return false;
        }
        received += count;
        const int percent =
            progressLabel != nullptr && total != 0 ? DownloadPercent(response.size(), total) : -1;
        if (percent != shown) {
            shown = percent;
            char text[kStatusTextCapacity];
            FormatDownloadStatus(text, sizeof text, progressLabel, percent, kilobytes);
            SetStatus(text);
            SetProgress(percent);
        }
    }
    return received >= total;
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

int HttpRequest(const char* url, ByteBuffer& response, const char* progressLabel,
                const char* formBody) {
    RequestUrl parts;
    if (!SplitRequestUrl(url, &parts)) {
        return 0;
    }

    HINTERNET session = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (session == nullptr) {
        return 0;
    }
    WinHttpSetTimeouts(session, g_HttpTimeouts.ResolveMs, g_HttpTimeouts.ConnectMs,
                       g_HttpTimeouts.SendMs, g_HttpTimeouts.ReceiveMs);
    HINTERNET connection = WinHttpConnect(session, parts.HostName, parts.Port, 0);
    if (connection == nullptr) {
        WinHttpCloseHandle(session);
        return 0;
    }
    const wchar_t* verb = formBody != nullptr ? L"POST" : L"GET";
    DWORD flags = parts.Secure ? WINHTTP_FLAG_SECURE : 0;
    HINTERNET request = WinHttpOpenRequest(connection, verb, parts.UrlPath, nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
    if (request == nullptr) {
        WinHttpCloseHandle(connection);
        WinHttpCloseHandle(session);
        return 0;
    }

    int result = 0;
    BOOL sent;
    if (formBody != nullptr) {
        DWORD length = static_cast<DWORD>(strlen(formBody));
        sent = WinHttpSendRequest(request, kFormContentTypeHeader, static_cast<DWORD>(-1),
                                  const_cast<char*>(formBody), length, length, 0);
    } else {
        sent = WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                  WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
    }
    if (sent && WinHttpReceiveResponse(request, nullptr)) {
        DWORD status = 0;
        DWORD size = sizeof status;
        WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
        DWORD total = 0;
        size = sizeof total;
        WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &total, &size, WINHTTP_NO_HEADER_INDEX);

        size_t entrySize = response.size();
        // One allocation for a body of known size; failing that, the buffer grows as it goes.
        ReserveBytes(response, entrySize + (total < kMaxReservation ? total : kMaxReservation));
        if (ReadBody(request, response, total, progressLabel)) {
            result = static_cast<int>(status);
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

    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    return result;
}
