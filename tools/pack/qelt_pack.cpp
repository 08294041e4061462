// qelt-pack: builds the game data package (Qelt-Data.exe) that a launcher downloads and runs
// on its first start: the Windows extractor followed by every client file, deflated with
// zlib, and the index of pack_format.h.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/client_folder.h"
#include "crc32/crc32.h"
#include "pack_format.h"
#include "common/publish_tree.h"

namespace {

enum ExitCode { kPacked = 0, kRefused = 1, kUsage = 2, kWriteFailed = 3 };

constexpr char kUsageText[] =
    "usage: qelt-pack [--arch x86|x64] [--stub FILE] [--level 1-9] CLIENT_DIR OUT.exe\n"
    "\n"
    "Builds the first-run game data package: a Windows program (x86 by default, like the\n"
    "launcher) that, started as \"OUT.exe\" -o\"DIR\" -y, extracts every file of CLIENT_DIR\n"
    "into DIR. Publish it with qelt-publish --package OUT.exe. The extractor is taken from\n"
    "qelt-pack-stub-ARCH.exe beside qelt-pack unless --stub names one. --level is the zlib\n"
    "level (default 6). Launchers stream the package to disk and resume it after a cut, but\n"
    "give the extractor 10 minutes: above 8 GB of client data, pack a base client instead.\n"
    "\n"
    "Exit codes:\n"
    "  0  package written\n"
    "  1  refused, nothing written: client missing, empty or unreadable, a name a launcher\n"
    "     cannot write, or no extractor\n"
    "  2  usage error\n"
    "  3  writing the package failed (no partial package is left)\n";

constexpr size_t kPieceSize = 1 << 20;
// A launcher stops the extractor after 10 minutes. It extracted 46 MB/s of client data under
// Wine here (about 27 GB in that time); this leaves room for disks a few times slower.
constexpr uint64_t kClientWarnSize = 8000000000ull;

double Now() {
    timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

std::string ProgramDir() {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        return ".";
    }
    const std::string path(self, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/'));
}

bool WriteAll(FILE* out, const void* data, size_t length, uint64_t* offset) {
    *offset += length;
    return fwrite(data, 1, length, out) == length;
}

// Deflates one file into out at *offset; fills the entry's size, CRC-32 and packed length.
bool PackFile(const std::string& source, uint64_t expectedSize, int level, FILE* out,
              uint64_t* offset, PackEntry* entry, std::string* error) {
    static std::vector<unsigned char> in(kPieceSize);
    static std::vector<unsigned char> packed(kPieceSize);
    const int fd = open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *error = std::string("cannot open: ") + strerror(errno);
        return false;
    }
    z_stream stream = {};
    if (deflateInit(&stream, level) != Z_OK) {
        close(fd);
        *error = "zlib failed to start";
        return false;
    }
    entry->Offset = *offset;
    uint32_t crc = 0xFFFFFFFFu;
    uint64_t size = 0;
    bool ok = true;
    int flush = Z_NO_FLUSH;
    while (ok && flush != Z_FINISH) {
        const ssize_t n = read(fd, in.data(), in.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            *error = std::string("cannot read: ") + strerror(errno);
            ok = false;
            break;
        }
        crc = Crc32Update(crc, in.data(), static_cast<size_t>(n));
        size += static_cast<uint64_t>(n);
        flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
        stream.next_in = in.data();
        stream.avail_in = static_cast<uInt>(n);
        do {
            stream.next_out = packed.data();
            stream.avail_out = static_cast<uInt>(packed.size());
            deflate(&stream, flush);
            const size_t produced = packed.size() - stream.avail_out;
            if (!WriteAll(out, packed.data(), produced, offset)) {
                *error = std::string("cannot write the package: ") + strerror(errno);
                ok = false;
            }
        } while (ok && stream.avail_out == 0);
    }
    deflateEnd(&stream);
    close(fd);
    if (ok && size != expectedSize) {
        *error = "changed while being read";
        ok = false;
    }
    entry->Size = size;
    entry->Crc = crc ^ 0xFFFFFFFFu;
    entry->Packed = *offset - entry->Offset;
    return ok;
}

bool CopyStub(const std::string& stub, FILE* out, uint64_t* offset) {
    FILE* in = fopen(stub.c_str(), "rb");
    if (in == nullptr) {
        return false;
    }
    char piece[65536];
    size_t n = 0;
    bool ok = true;
    while (ok && (n = fread(piece, 1, sizeof piece, in)) > 0) {
        ok = WriteAll(out, piece, n, offset);
    }
    ok = ok && !ferror(in);
    fclose(in);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    std::string arch = "x86";
    std::string stub;
    int level = 6;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            fputs(kUsageText, stdout);
            return kPacked;
        }
        if ((arg == "--arch" || arg == "--stub" || arg == "--level") && i + 1 < argc) {
            const std::string value = argv[++i];
            if (arg == "--arch") {
                arch = value;
            } else if (arg == "--stub") {
                stub = value;
            } else {
                level = atoi(value.c_str());
            }
        } else if (arg.compare(0, 2, "--") == 0) {
            positional.clear();
            break;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2 || (arch != "x86" && arch != "x64") || level < 1 || level > 9) {
        fputs(kUsageText, stderr);
        return kUsage;
    }
    const std::string client = positional[0];
    const std::string outPath = positional[1];
    if (stub.empty()) {
        stub = ProgramDir() + "/qelt-pack-stub-" + arch + ".exe";
    }
    BuildCrc32Table();

    std::vector<std::string> problems;
    struct stat st;
    if (stat(client.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        problems.push_back(client + ": no such client folder");
    }
    if (stat(stub.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        problems.push_back(stub + ": no extractor (build it with cmake --build --preset tools, or "
                                  "name one with --stub)");
    }
    std::vector<ClientEntry> files;
    if (problems.empty()) {
        ListClientFolder(client, &files, &problems);
    }
    for (const std::string& path : TakeOutLauncherStateFiles(&files)) {
        fprintf(stderr, "qelt-pack: leaving out %s: the launcher's own state file\n", path.c_str());
    }
    std::vector<std::string> paths;
    uint64_t totalBytes = 0;
    for (const ClientEntry& file : files) {
        const std::string problem = PathProblem(file.Path);
        if (!problem.empty()) {
            problems.push_back(file.Path + ": " + problem);
        }
        paths.push_back(file.Path);
        totalBytes += file.Size;
    }
    for (const auto& pair : CaseCollisions(paths)) {
        problems.push_back(pair.first + " and " + pair.second + ": one file on Windows");
    }
    char clientReal[PATH_MAX];
    char outDirReal[PATH_MAX];
    const std::string outDir =
        outPath.find('/') == std::string::npos ? "." : outPath.substr(0, outPath.rfind('/') + 1);
    if (problems.empty() && realpath(client.c_str(), clientReal) != nullptr &&
        realpath(outDir.c_str(), outDirReal) != nullptr &&
        (std::string(outDirReal) + "/")
                .compare(0, strlen(clientReal) + 1, std::string(clientReal) + "/") == 0) {
        problems.push_back(outPath + ": the package would land inside the client folder");
    }
    if (problems.empty() && files.empty()) {
        problems.push_back(client + ": the client folder holds no file");
    }
    if (!problems.empty()) {
        for (const std::string& problem : problems) {
            fprintf(stderr, "qelt-pack: %s\n", problem.c_str());
        }
        fprintf(stderr, "qelt-pack: refused, nothing was written\n");
        return kRefused;
    }
    const double start = Now();
    const std::string temp = outPath + ".part";
    FILE* out = fopen(temp.c_str(), "wb");
    if (out == nullptr) {
        fprintf(stderr, "qelt-pack: cannot create %s: %s\n", temp.c_str(), strerror(errno));
        return kWriteFailed;
    }
    uint64_t offset = 0;
    std::string index;
    std::string error;
    bool ok = CopyStub(stub, out, &offset);
    if (!ok) {
        error = stub + ": cannot copy the extractor";
    }
    for (size_t i = 0; ok && i < files.size(); ++i) {
        PackEntry entry;
        entry.Path = files[i].Path;
        ok = PackFile(client + "/" + files[i].Path, files[i].Size, level, out, &offset, &entry,
                      &error);
        if (!ok) {
            error = files[i].Path + ": " + error;
        }
        AppendPackEntry(&index, entry);
    }
    if (ok) {
        PackTrailer trailer;
        trailer.IndexOffset = offset;
        trailer.IndexLength = index.size();
        trailer.FileCount = static_cast<uint32_t>(files.size());
        trailer.IndexCrc = BufferChecksum(index.data(), index.size());
        const std::string tail = EncodePackTrailer(trailer);
        ok = WriteAll(out, index.data(), index.size(), &offset) &&
             WriteAll(out, tail.data(), tail.size(), &offset) && fflush(out) == 0 &&
             fsync(fileno(out)) == 0;
        if (!ok) {
            error = std::string("cannot write the package: ") + strerror(errno);
        }
    }
    ok = fclose(out) == 0 && ok;
    ok = ok && chmod(temp.c_str(), 0755) == 0 && rename(temp.c_str(), outPath.c_str()) == 0;
    if (!ok) {
        unlink(temp.c_str());
        fprintf(stderr, "qelt-pack: %s\n", error.empty() ? strerror(errno) : error.c_str());
        return kWriteFailed;
    }
    if (totalBytes > kClientWarnSize) {
        fprintf(stderr,
                "qelt-pack: warning: the package holds %.1f GB of client data; a launcher stops "
                "its extraction after 10 minutes, which a slow disk may need for this much. Pack "
                "a base client and publish the rest as patch files.\n",
                static_cast<double>(totalBytes) / 1e9);
    }
    const double seconds = Now() - start;
    printf("packed %zu files, %.1f MB into %s (%.1f MB, %s) in %.2f s (%.0f MB/s)\n", files.size(),
           static_cast<double>(totalBytes) / 1e6, outPath.c_str(),
           static_cast<double>(offset) / 1e6, arch.c_str(), seconds,
           static_cast<double>(totalBytes) / 1e6 / (seconds > 1e-6 ? seconds : 1e-6));
    return kPacked;
}
