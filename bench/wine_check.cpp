// The Wine yardstick of scripts/bench-check.sh: the launcher's check without the launcher.
// Reads every file of a manifest through the same Win32 calls as the check phase
// (CreateFileA, 32 KiB ReadFile, CloseHandle) and the same CRC-32, on one or more threads
// taking files in manifest order, and prints the time taken and how many files matched.
// What it costs over native_check is what Wine charges per file, before any window.
// With "open" it only opens and closes each file: what the open alone costs.
// Usage: qelt_wine_check <client folder> <manifest> [threads, default 1] [open]
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crc32/crc32.h"

namespace {

struct Entry {
    std::string Path;
    uint32_t Crc;
};

struct Run {
    const std::vector<Entry>* Entries;
    bool OpenOnly;
    std::atomic<size_t> Next{0};
    std::atomic<long> Current{0};
};

bool Checksum(const char* path, bool openOnly, uint32_t* checksum) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    if (openOnly) {
        CloseHandle(file);
        return false;
    }
    static thread_local unsigned char buffer[32768];
    uint32_t crc = 0xFFFFFFFFu;
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read != 0) {
        crc = Crc32Update(crc, buffer, read);
    }
    CloseHandle(file);
    *checksum = crc ^ 0xFFFFFFFFu;
    return true;
}

DWORD WINAPI Reader(LPVOID param) {
    Run& run = *static_cast<Run*>(param);
    for (size_t i = run.Next++; i < run.Entries->size(); i = run.Next++) {
        const Entry& entry = (*run.Entries)[i];
        uint32_t crc = 0;
        if (Checksum(entry.Path.c_str(), run.OpenOnly, &crc) && crc == entry.Crc) {
            ++run.Current;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: qelt_wine_check <client folder> <manifest> [threads]\n");
        return 2;
    }
    const int threads = argc > 3 ? atoi(argv[3]) : 1;
    if (threads < 1 || threads > 16) {
        fprintf(stderr, "threads: 1 to 16\n");
        return 2;
    }
    BuildCrc32Table();
    FILE* manifest = fopen(argv[2], "r");
    if (manifest == nullptr) {
        fprintf(stderr, "cannot open %s\n", argv[2]);
        return 1;
    }
    std::vector<Entry> entries;
    char line[1024];
    while (fgets(line, sizeof line, manifest) != nullptr) {
        char* tab = strchr(line, '\t');
        if (tab == nullptr) {
            continue;
        }
        tab[strcspn(tab, "\r\n")] = '\0';
        std::string path = std::string(argv[1]) + "\\" + (tab + 1);
        for (char& c : path) {
            c = c == '/' ? '\\' : c;
        }
        entries.push_back({path, static_cast<uint32_t>(strtoul(line, nullptr, 16))});
    }
    fclose(manifest);

    Run run;
    run.Entries = &entries;
    run.OpenOnly = argc > 4 && strcmp(argv[4], "open") == 0;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    std::vector<HANDLE> started;
    for (int t = 1; t < threads; ++t) {
        HANDLE thread = CreateThread(nullptr, 0, Reader, &run, 0, nullptr);
        if (thread != nullptr) {
            started.push_back(thread);
        }
    }
    Reader(&run);
    for (HANDLE thread : started) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    QueryPerformanceCounter(&end);
    const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) /
                           static_cast<double>(frequency.QuadPart);
    printf("files %zu current %ld seconds %.3f\n", entries.size(), run.Current.load(), seconds);
    return run.OpenOnly || run.Current.load() == static_cast<long>(entries.size()) ? 0 : 1;
}
