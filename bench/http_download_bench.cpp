// Times one download into memory by HttpRequest, or streamed to a file by HttpRequestToFile
// (--file TARGET: what a patch file or the game data package takes; --signed-file TARGET
// SIZE SHA256: the same checked against a signed size and SHA-256, as with UpdateKey set),
// or by a bare WinHTTP
// read loop that keeps nothing (the platform's own ceiling), or by that loop keeping the
// body in one reservation of the announced size (--bare-keep: what holding the bytes
// costs, without HttpRequest), and prints the rate and the peak working set for
// scripts/bench-http.sh.
// Usage: qelt_http_bench [--bare | --bare-keep | --file TARGET | --signed-file TARGET SIZE
//        SHA256] <url> [progress label]
// Built as qelt_http_window_bench (QELT_BENCH_WINDOW), HttpRequest runs on a second thread
// and reports its progress to a real main window whose thread handles messages meanwhile,
// as in the launcher.
#include <windows.h>
#include <winhttp.h>
#include <psapi.h>
#if defined(QELT_BENCH_WINDOW)
#include <commctrl.h>

#include "app/main_window.h"
#include "app/startup.h"
#include "system/launcher_state.h"
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "crc32/crc32.h"
#include "net/http_download.h"
#include "net/http_request.h"

namespace {

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

// The same WinHTTP calls as HttpRequest with the same 32768-byte reads, the bytes dropped,
// or appended to keep (reserved once to the announced length) when it is given.
int BareDownload(const char* url, unsigned long long* bytes, ByteBuffer* keep) {
    RequestUrl parts;
    if (!SplitRequestUrl(url, &parts)) {
        return 0;
    }
    HINTERNET session = WinHttpOpen(L"QeltLauncher", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET connection = WinHttpConnect(session, parts.HostName, parts.Port, 0);
    HINTERNET request =
        WinHttpOpenRequest(connection, L"GET", parts.UrlPath, nullptr, WINHTTP_NO_REFERER,
                           WINHTTP_DEFAULT_ACCEPT_TYPES, parts.Secure ? WINHTTP_FLAG_SECURE : 0);
    DWORD status = 0;
    if (WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                           0) &&
        WinHttpReceiveResponse(request, nullptr)) {
        DWORD size = sizeof status;
        WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
        DWORD total = 0;
        size = sizeof total;
        WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &total, &size, WINHTTP_NO_HEADER_INDEX);
        if (keep != nullptr) {
            ReserveBytes(*keep, total);
        }
        static unsigned char chunk[32768];
        DWORD count = 0;
        while (WinHttpReadData(request, chunk, sizeof chunk, &count) && count > 0) {
            *bytes += count;
            if (keep != nullptr && !AppendBytes(*keep, chunk, count)) {
                status = 0;
                break;
            }
        }
    }
    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    return static_cast<int>(status);
}

#if defined(QELT_BENCH_WINDOW)
struct Download {
    const char* Url;
    const char* Label;
    ByteBuffer Body;
    int Status;
};

DWORD WINAPI DownloadThread(LPVOID param) {
    Download* download = static_cast<Download*>(param);
    download->Status = HttpRequest(download->Url, download->Body, download->Label, nullptr);
    return 0;
}

// The launcher's main window on this thread; the download on another, this thread handling
// messages until it ends.
int WindowDownload(const char* url, const char* label, ByteBuffer& body) {
    InitCommonControls();
    CreateLauncherFonts();
    RegisterWindowClasses(GetModuleHandleA(nullptr));
    HWND window = CreateWindowExA(0, kMainWindowClass, "bench", kMainWindowStyle, 0, 0, 470, 530,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (window == nullptr) {
        return 0;
    }
    ShowWindow(window, SW_SHOW);
    static Download download;
    download.Url = url;
    download.Label = label;
    HANDLE thread = CreateThread(nullptr, 0, DownloadThread, &download, 0, nullptr);
    while (thread != nullptr &&
           MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    if (thread != nullptr) {
        CloseHandle(thread);
    }
    body.swap(download.Body);
    return download.Status;
}
#endif

} // namespace

// The streamed form, with no expected checksum (as for an unsigned game data package) or
// with a signed size and SHA-256; the bytes are the target's size afterwards.
int FileDownload(const char* url, const char* target, const ExpectedBody& expected,
                 const char* label, unsigned long long* bytes) {
    if (HttpRequestToFile(url, target, expected, label) != DownloadResult::Written) {
        return 0;
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(target, GetFileExInfoStandard, &data)) {
        return 0;
    }
    *bytes = static_cast<unsigned long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    return 200;
}

// 64 hexadecimal digits into a digest.
bool ReadDigest(const char* text, unsigned char digest[kSha256DigestSize]) {
    if (strlen(text) != 2 * kSha256DigestSize) {
        return false;
    }
    for (size_t i = 0; i < kSha256DigestSize; ++i) {
        char pair[3] = {text[2 * i], text[2 * i + 1], '\0'};
        char* end = nullptr;
        digest[i] = static_cast<unsigned char>(strtoul(pair, &end, 16));
        if (*end != '\0') {
            return false;
        }
    }
    return true;
}

int main(int argc, char** argv) {
    const bool keep = argc >= 2 && strcmp(argv[1], "--bare-keep") == 0;
    const bool bare = keep || (argc >= 2 && strcmp(argv[1], "--bare") == 0);
    const bool signedFile = argc >= 5 && strcmp(argv[1], "--signed-file") == 0;
    const char* target =
        (argc >= 3 && strcmp(argv[1], "--file") == 0) || signedFile ? argv[2] : nullptr;
    ExpectedBody expected = {false, 0};
    if (signedFile) {
        expected.HasDigest = true;
        expected.Size = strtoull(argv[3], nullptr, 10);
        if (!ReadDigest(argv[4], expected.Sha256)) {
            fprintf(stderr, "qelt_http_bench: %s is no SHA-256\n", argv[4]);
            return 2;
        }
    }
    int first = bare ? 2 : signedFile ? 5 : target != nullptr ? 3 : 1;
    if (argc <= first) {
        fprintf(stderr, "usage: qelt_http_bench [--bare | --bare-keep | --file TARGET | "
                        "--signed-file TARGET SIZE SHA256] <url> [progress label]\n");
        return 2;
    }
    BuildCrc32Table(); // as the launcher does at start-up
    const char* url = argv[first];
    const char* label = argc > first + 1 ? argv[first + 1] : nullptr;
    LARGE_INTEGER start, end;
    ByteBuffer body;
    unsigned long long bytes = 0;
    QueryPerformanceCounter(&start);
#if defined(QELT_BENCH_WINDOW)
    int status =
        bare ? BareDownload(url, &bytes, keep ? &body : nullptr) : WindowDownload(url, label, body);
#else
    int status = bare                ? BareDownload(url, &bytes, keep ? &body : nullptr)
                 : target != nullptr ? FileDownload(url, target, expected, label, &bytes)
                                     : HttpRequest(url, body, label, nullptr);
#endif
    QueryPerformanceCounter(&end);
    if (!bare && target == nullptr) {
        bytes = body.size();
    }
    double seconds = Seconds(start, end);
    PROCESS_MEMORY_COUNTERS memory;
    memset(&memory, 0, sizeof memory);
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    double mib = static_cast<double>(bytes) / 1048576.0;
    printf("status %d bytes %llu seconds %.3f rate_mib_s %.1f peak_working_set_mib %.1f\n", status,
           bytes, seconds, seconds > 0 ? mib / seconds : 0.0,
           static_cast<double>(memory.PeakWorkingSetSize) / 1048576.0);
    return status == 200 ? 0 : 1;
}
