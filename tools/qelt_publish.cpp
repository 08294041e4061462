// qelt-publish: turns a client folder into the tree an update server serves:
//   <out>/launcher/manifest.txt   CRC-32 and path of every file
//   <out>/patch/<path>            the files themselves
//   <out>/launcher/status         "online" unless it exists already
// Usage: qelt-publish CLIENT_DIR OUT_DIR [--install-dir-length N] [--package FILE]
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crc32/crc32.h"
#include "publish_tree.h"

namespace {

bool MakeDirs(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            std::string part = path.substr(0, i);
            if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
                return false;
            }
        }
    }
    return true;
}

// Copies src to dst while computing its CRC-32, in fixed pieces.
bool CopyWithCrc(const std::string& src, const std::string& dst, uint32_t* crc) {
    FILE* in = fopen(src.c_str(), "rb");
    if (!in) {
        return false;
    }
    FILE* out = fopen(dst.c_str(), "wb");
    if (!out) {
        fclose(in);
        return false;
    }
    static unsigned char buffer[1 << 16];
    uint32_t c = 0xFFFFFFFFu;
    size_t n = 0;
    bool ok = true;
    while ((n = fread(buffer, 1, sizeof buffer, in)) > 0) {
        c = Crc32Update(c, buffer, n);
        ok = ok && fwrite(buffer, 1, n, out) == n;
    }
    ok = ok && !ferror(in);
    fclose(in);
    ok = (fclose(out) == 0) && ok;
    *crc = c ^ 0xFFFFFFFFu;
    return ok;
}

void Walk(const std::string& root, const std::string& relative, std::vector<std::string>* out) {
    const std::string dir = relative.empty() ? root : root + "/" + relative;
    DIR* d = opendir(dir.c_str());
    if (!d) {
        return;
    }
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        const std::string rel = relative.empty() ? name : relative + "/" + name;
        struct stat st;
        if (stat((root + "/" + rel).c_str(), &st) != 0) {
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            Walk(root, rel, out);
        } else if (S_ISREG(st.st_mode)) {
            out->push_back(rel);
        }
    }
    closedir(d);
}

bool WriteText(const std::string& path, const std::string& text) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) {
        return false;
    }
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    return (fclose(f) == 0) && ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s CLIENT_DIR OUT_DIR [--install-dir-length N] [--package FILE]\n",
                argv[0]);
        return 2;
    }
    const std::string client = argv[1];
    const std::string out = argv[2];
    size_t installDirLength = 52;
    std::string package;
    for (int i = 3; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--install-dir-length") == 0) {
            installDirLength = strtoul(argv[i + 1], nullptr, 10);
        } else if (strcmp(argv[i], "--package") == 0) {
            package = argv[i + 1];
        }
    }
    BuildCrc32Table();

    std::vector<std::string> paths;
    Walk(client, "", &paths);
    std::sort(paths.begin(), paths.end());
    std::vector<PublishedFile> files;
    int skipped = 0;
    for (const std::string& path : paths) {
        const std::string problem = PathProblem(path, installDirLength);
        if (!problem.empty()) {
            fprintf(stderr, "skipped %s: %s\n", path.c_str(), problem.c_str());
            ++skipped;
            continue;
        }
        const std::string target = out + "/patch/" + path;
        uint32_t crc = 0;
        if (!MakeDirs(target.substr(0, target.rfind('/'))) ||
            !CopyWithCrc(client + "/" + path, target, &crc)) {
            fprintf(stderr, "cannot copy %s to %s\n", path.c_str(), target.c_str());
            return 1;
        }
        files.push_back(PublishedFile{path, crc});
    }
    if (!MakeDirs(out + "/launcher") ||
        !WriteText(out + "/launcher/manifest.txt", BuildManifest(files))) {
        fprintf(stderr, "cannot write %s/launcher/manifest.txt\n", out.c_str());
        return 1;
    }
    struct stat st;
    if (stat((out + "/launcher/status").c_str(), &st) != 0) {
        WriteText(out + "/launcher/status", "online");
    }
    if (!package.empty()) {
        uint32_t crc = 0;
        if (!MakeDirs(out + "/downloads") ||
            !CopyWithCrc(package, out + "/downloads/Qelt-Data.exe", &crc)) {
            fprintf(stderr, "cannot copy the game data package %s\n", package.c_str());
            return 1;
        }
    }
    printf("published %zu files (%d skipped) to %s\n", files.size(), skipped, out.c_str());
    return 0;
}
