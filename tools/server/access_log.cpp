// The access log: what clients send is written escaped, so a request can never forge a line.
#include "access_log.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "request.h"

namespace {

void AppendLogSafe(std::string& line, const std::string& text, size_t limit) {
    static const char kHex[] = "0123456789abcdef";
    for (size_t i = 0; i < text.size() && i < limit; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x21 || c > 0x7E || c == '"' || c == '\\') {
            line += "\\x";
            line += kHex[c >> 4];
            line += kHex[c & 15];
        } else {
            line += static_cast<char>(c);
        }
    }
}

} // namespace

void LogRequest(const Request& r, const char* outcome) {
    char when[64];
    const time_t now = time(nullptr);
    struct tm tm;
    gmtime_r(&now, &tm);
    strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &tm);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - r.Started)
            .count();
    std::string line;
    line.reserve(256);
    line += when;
    line += ' ';
    line += r.Client;
    line += " \"";
    AppendLogSafe(line, r.Method, 16);
    line += ' ';
    AppendLogSafe(line, r.Url, 400);
    char tail[96];
    snprintf(tail, sizeof tail, "\" %d %llu %.1fms%s%s\n", r.Status,
             static_cast<unsigned long long>(r.Bytes), ms, outcome[0] != '\0' ? " " : "", outcome);
    line += tail;
    ssize_t ignored = write(STDOUT_FILENO, line.data(), line.size());
    (void)ignored;
}

void LogMhdError(void*, const char* format, va_list args) {
    fputs("qelt-server: ", stderr);
    vfprintf(stderr, format, args);
}
