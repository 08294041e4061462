// WriteAll: write(2) until every byte is out.
#include "common/write_all.h"

#include <unistd.h>

#include <cerrno>

bool WriteAll(int fd, const void* data, size_t length) {
    const char* next = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t written = write(fd, next, length);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        next += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}
