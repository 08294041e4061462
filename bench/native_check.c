/* The native yardstick of scripts/bench-check.sh: reads every file of a manifest in
 * manifest order through one 32 KiB buffer and computes its CRC-32 with zlib, as the
 * launcher's check phase does, and prints the time taken and how many files matched.
 * Usage: native_check <client folder> <manifest> */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: native_check <client folder> <manifest>\n");
        return 2;
    }
    FILE* manifest = fopen(argv[2], "r");
    if (manifest == NULL) {
        perror(argv[2]);
        return 1;
    }
    static unsigned char buffer[32768];
    char line[1024];
    char path[2048];
    long files = 0;
    long current = 0;
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    while (fgets(line, sizeof line, manifest) != NULL) {
        char* tab = strchr(line, '\t');
        if (tab == NULL) {
            continue;
        }
        tab[strcspn(tab, "\r\n")] = '\0';
        unsigned long expected = strtoul(line, NULL, 16);
        snprintf(path, sizeof path, "%s/%s", argv[1], tab + 1);
        ++files;
        int fd = open(path, O_RDONLY);
        if (fd < 0) {
            continue;
        }
        uLong crc = crc32(0L, Z_NULL, 0);
        ssize_t n;
        while ((n = read(fd, buffer, sizeof buffer)) > 0) {
            crc = crc32(crc, buffer, (uInt)n);
        }
        close(fd);
        current += crc == expected;
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    fclose(manifest);
    double seconds = (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) / 1e9;
    printf("files %ld current %ld seconds %.3f\n", files, current, seconds);
    return current == files ? 0 : 1;
}
