// Static files with ETag, Last-Modified, one byte range and sendfile for the large ones.
#include "static_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// Files up to this size are read into memory and sent with their headers in one send.
constexpr uint64_t kSmallFile = 16384;

void HttpDate(time_t when, char* out, size_t cap) {
    struct tm tm;
    gmtime_r(&when, &tm);
    strftime(out, cap, "%a, %d %b %Y %H:%M:%S GMT", &tm);
}

const char* ContentType(const std::string& path) {
    const size_t dot = path.rfind('.');
    const std::string ext = dot == std::string::npos ? std::string() : path.substr(dot);
    if (ext == ".txt" || path == "launcher/status") {
        return "text/plain; charset=utf-8";
    }
    return "application/octet-stream";
}

} // namespace

MHD_Result ServeFile(MHD_Connection* connection, Request* r, const std::string& root,
                     const ServedPath& path) {
    const int fd = OpenServedFile(root, path);
    if (fd < 0) {
        return NotFound(connection, r);
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return NotFound(connection, r);
    }
    char etag[96];
    snprintf(etag, sizeof etag, "\"%llx-%llx-%lx\"", static_cast<unsigned long long>(st.st_size),
             static_cast<unsigned long long>(st.st_mtim.tv_sec) * 1000000000ull +
                 static_cast<unsigned long long>(st.st_mtim.tv_nsec),
             static_cast<unsigned long>(st.st_ino));
    char modified[64];
    HttpDate(st.st_mtim.tv_sec, modified, sizeof modified);
    const uint64_t size = static_cast<uint64_t>(st.st_size);

    const char* ifNoneMatch =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "If-None-Match");
    int status = MHD_HTTP_OK;
    uint64_t first = 0;
    uint64_t length = size;
    char contentRange[96] = "";
    MHD_Response* response = nullptr;
    if (ifNoneMatch != nullptr && strstr(ifNoneMatch, etag) != nullptr) {
        status = MHD_HTTP_NOT_MODIFIED;
        close(fd);
        response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
        length = 0;
    } else {
        const char* range = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Range");
        const char* ifRange = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "If-Range");
        if (range != nullptr && (ifRange == nullptr || strcmp(ifRange, etag) == 0)) {
            switch (ParseByteRange(range, size, &first, &length)) {
            case RangeResult::Satisfiable:
                status = MHD_HTTP_PARTIAL_CONTENT;
                snprintf(contentRange, sizeof contentRange, "bytes %llu-%llu/%llu",
                         static_cast<unsigned long long>(first),
                         static_cast<unsigned long long>(first + length - 1),
                         static_cast<unsigned long long>(size));
                break;
            case RangeResult::Unsatisfiable:
                close(fd);
                snprintf(contentRange, sizeof contentRange, "bytes */%llu",
                         static_cast<unsigned long long>(size));
                response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
                status = MHD_HTTP_RANGE_NOT_SATISFIABLE;
                length = 0;
                break;
            case RangeResult::Ignored: break;
            }
        }
        if (response == nullptr && length <= kSmallFile) {
            // Small files (the status, the manifest) go out with their headers in one send.
            void* bytes = malloc(length > 0 ? length : 1);
            const ssize_t got =
                bytes != nullptr ? pread(fd, bytes, length, static_cast<off_t>(first)) : -1;
            close(fd);
            if (got != static_cast<ssize_t>(length)) {
                free(bytes);
                return MHD_NO;
            }
            response = MHD_create_response_from_buffer(length, bytes, MHD_RESPMEM_MUST_FREE);
            if (response == nullptr) {
                free(bytes);
            }
        } else if (response == nullptr) {
            // The response owns fd from here and closes it when it is destroyed.
            response =
                MHD_create_response_from_fd_at_offset64(length, fd, static_cast<int64_t>(first));
            if (response == nullptr) {
                close(fd);
            }
        }
    }
    if (response == nullptr) {
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, ContentType(path.Relative));
    MHD_add_response_header(response, MHD_HTTP_HEADER_ETAG, etag);
    MHD_add_response_header(response, MHD_HTTP_HEADER_LAST_MODIFIED, modified);
    MHD_add_response_header(response, MHD_HTTP_HEADER_ACCEPT_RANGES, "bytes");
    if (contentRange[0] != '\0') {
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_RANGE, contentRange);
    }
    if (path.Relative == "launcher/status" || path.Relative == "launcher/manifest.txt" ||
        path.Relative == "launcher/files.txt" || path.Relative == "launcher/files.sig") {
        MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
    }
    const MHD_Result queued =
        MHD_queue_response(connection, static_cast<unsigned>(status), response);
    MHD_destroy_response(response);
    r->Status = status;
    r->Bytes = r->Method == "HEAD" ? 0 : length;
    return queued;
}
