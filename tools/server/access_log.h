// qelt-server's access log on standard output, and libmicrohttpd's own messages on
// standard error.
#pragma once

#include <cstdarg>

struct Request;

// One line per request, written whole with one write so that lines from several threads
// never mix. outcome is empty, or a word such as "timed-out".
void LogRequest(const Request& r, const char* outcome);

// libmicrohttpd's error logger.
void LogMhdError(void*, const char* format, va_list args);
