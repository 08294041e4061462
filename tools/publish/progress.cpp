// The progress line of qelt-publish.
#include "progress.h"

#include <sys/time.h>
#include <unistd.h>

#include <cstdio>

double Now() {
    timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

Progress::Progress() : Terminal(isatty(STDERR_FILENO) != 0), Start(Now()) {}

void Progress::Add(uint64_t bytes) {
    Bytes += bytes;
    const double now = Now();
    if (Terminal && now - LastShown >= 0.2) {
        LastShown = now;
        Show(now);
    }
}

void Progress::Show(double now) const {
    const double seconds = now - Start > 1e-6 ? now - Start : 1e-6;
    fprintf(stderr, "\r%zu/%zu files, %.1f/%.1f MB, %.0f MB/s   ", Files, FileCount,
            static_cast<double>(Bytes) / 1e6, static_cast<double>(TotalBytes) / 1e6,
            static_cast<double>(Bytes) / 1e6 / seconds);
}

void Progress::End() const {
    if (Terminal) {
        Show(Now());
        fputc('\n', stderr);
    }
}

double Progress::Seconds() const {
    return Now() - Start;
}

double Progress::MegabytesPerSecond() const {
    const double seconds = Seconds();
    return static_cast<double>(Bytes) / 1e6 / (seconds > 1e-6 ? seconds : 1e-6);
}
