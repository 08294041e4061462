// What qelt-publish shows while it reads: one rewritten line when standard error is a
// terminal, nothing otherwise.
#pragma once

#include <cstddef>
#include <cstdint>

double Now();

struct Progress {
    bool Terminal = false;
    size_t Files = 0;
    size_t FileCount = 0;
    uint64_t Bytes = 0;
    uint64_t TotalBytes = 0;
    double Start = 0;
    double LastShown = 0;

    Progress();
    void Add(uint64_t bytes);
    void Show(double now) const;
    void End() const;
    double Seconds() const;
    double MegabytesPerSecond() const;
};
