// SHA-256 on CNG in the download's 32 KiB pieces, beside the CRC-32 the launcher already
// computes over each body: what hashing a body as it arrives costs (run under Wine).
// Usage: qelt_sha256_bench.exe [MiB] [runs]; prints the best and the median MiB/s of each.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "crc32/crc32.h"
#include "crypto/sha256.h"

namespace {

constexpr size_t kPiece = 32768;

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

void Report(const char* name, std::vector<double> rates) {
    std::sort(rates.begin(), rates.end());
    printf("%-28s best %7.0f MiB/s   median %7.0f MiB/s\n", name, rates.back(),
           rates[rates.size() / 2]);
}

} // namespace

int main(int argc, char** argv) {
    const size_t mib = argc > 1 ? static_cast<size_t>(atoi(argv[1])) : 256;
    const int runs = argc > 2 ? atoi(argv[2]) : 5;
    if (mib == 0 || runs <= 0) {
        fprintf(stderr, "usage: qelt_sha256_bench [MiB] [runs]\n");
        return 2;
    }
    std::vector<unsigned char> body(mib << 20);
    uint32_t state = 0x12345678u;
    for (unsigned char& value : body) {
        state = state * 1664525u + 1013904223u;
        value = static_cast<unsigned char>(state >> 24);
    }
    BuildCrc32Table();
    SelectCrc32Path(FastestCrc32Path());
    std::vector<double> shaRates;
    std::vector<double> crcRates;
    unsigned char digest[kSha256DigestSize] = {};
    uint32_t crc = 0;
    for (int run = 0; run < runs; ++run) {
        LARGE_INTEGER start;
        LARGE_INTEGER end;
        QueryPerformanceCounter(&start);
        Sha256Hash hash;
        if (!Sha256Begin(&hash)) {
            fprintf(stderr, "no SHA-256 from CNG\n");
            return 1;
        }
        for (size_t at = 0; at < body.size(); at += kPiece) {
            Sha256Add(&hash, body.data() + at, std::min(kPiece, body.size() - at));
        }
        Sha256Finish(&hash, digest);
        QueryPerformanceCounter(&end);
        shaRates.push_back(static_cast<double>(mib) / Seconds(start, end));

        QueryPerformanceCounter(&start);
        crc = 0xFFFFFFFFu;
        for (size_t at = 0; at < body.size(); at += kPiece) {
            crc = Crc32Update(crc, body.data() + at, std::min(kPiece, body.size() - at));
        }
        QueryPerformanceCounter(&end);
        crcRates.push_back(static_cast<double>(mib) / Seconds(start, end));
    }
    printf("%zu MiB in %zu-byte pieces, %d runs (digest %02x%02x.., crc %08x)\n", mib, kPiece, runs,
           digest[0], digest[1], static_cast<unsigned>(crc ^ 0xFFFFFFFFu));
    Report("SHA-256 (CNG)", shaRates);
    Report("CRC-32 (fastest path)", crcRates);
    return 0;
}
