// Walking a client folder without following links out of it.
#include "client_folder.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "update/state_files.h"

namespace {

void Walk(const std::string& root, const std::string& relative, std::vector<ClientEntry>* files,
          std::vector<std::string>* problems) {
    const std::string dir = relative.empty() ? root : root + "/" + relative;
    const std::string shown = relative.empty() ? "." : relative;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        problems->push_back(shown + ": cannot read the folder: " + strerror(errno));
        return;
    }
    std::vector<std::string> subfolders;
    errno = 0;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") {
            errno = 0;
            continue;
        }
        const std::string rel = relative.empty() ? name : relative + "/" + name;
        struct stat st;
        if (lstat((root + "/" + rel).c_str(), &st) != 0) {
            problems->push_back(rel + ": " + strerror(errno));
        } else if (S_ISLNK(st.st_mode)) {
            problems->push_back(rel + ": is a symbolic link (not followed)");
        } else if (S_ISDIR(st.st_mode)) {
            subfolders.push_back(rel);
        } else if (S_ISREG(st.st_mode)) {
            files->push_back(ClientEntry{rel, static_cast<uint64_t>(st.st_size)});
        } else {
            problems->push_back(rel + ": is not a regular file");
        }
        errno = 0;
    }
    if (errno != 0) {
        problems->push_back(shown + ": cannot read the folder: " + strerror(errno));
    }
    closedir(d);
    for (const std::string& sub : subfolders) {
        Walk(root, sub, files, problems);
    }
}

} // namespace

void ListClientFolder(const std::string& root, std::vector<ClientEntry>* files,
                      std::vector<std::string>* problems) {
    Walk(root, "", files, problems);
    std::sort(files->begin(), files->end(),
              [](const ClientEntry& a, const ClientEntry& b) { return a.Path < b.Path; });
}

std::vector<std::string> TakeOutLauncherStateFiles(std::vector<ClientEntry>* files) {
    std::vector<std::string> out;
    auto kept = std::remove_if(files->begin(), files->end(), [&](const ClientEntry& file) {
        const bool stateFile = IsLauncherStateFile(file.Path.c_str());
        if (stateFile) {
            out.push_back(file.Path);
        }
        return stateFile;
    });
    files->erase(kept, files->end());
    return out;
}
