// The next version, built in a staging folder that no served path reaches.
#include "build_version.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <set>

#include "common/publish_tree.h"
#include "publish_files.h"
#include "signed_version.h"
#include "tree_versions.h"

namespace {

// What one build works with.
struct Build {
    const Options& Opts;
    const LiveVersion& Live;
    bool Signs;
    Progress* Meter;
    BuildResult* Result;
    std::string Stage;
    std::set<std::string> Paths;   // the new version's files below patch/
    std::set<std::string> Folders; // and their folders
    std::string LastFolder;        // made last (or there already)
    bool LiveRead = false;
};

bool Fail(FileError* error, const std::string& text) {
    error->Text = text;
    error->InTree = true;
    return false;
}

// Removes from the folder root/relative of a recycled version what the new one does not
// have: files it does not list, folders it has no file in.
void Prune(Build* build, const std::string& root, const std::string& relative) {
    const std::string dir = relative.empty() ? root : root + "/" + relative;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        return;
    }
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) {
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) {
            names.push_back(e->d_name);
        }
    }
    closedir(d);
    for (const std::string& name : names) {
        const std::string rel = relative.empty() ? name : relative + "/" + name;
        struct stat st;
        if (lstat((root + "/" + rel).c_str(), &st) != 0) {
            continue;
        }
        if (S_ISDIR(st.st_mode) && build->Folders.count(rel) > 0) {
            Prune(build, root, rel);
        } else if (S_ISDIR(st.st_mode) || build->Paths.count(rel) == 0) {
            RemoveTree(root + "/" + rel);
            build->Result->Dirs.push_back(dir);
        }
    }
}

// The staging folder, made when the new version is sure: the newest version beyond --keep
// (the one most like the new version) renamed out of the versions and pruned, the rest of
// them removed; or a new, empty folder.
bool OpenStage(Build* build, FileError* error) {
    if (!build->Stage.empty()) {
        return true;
    }
    const std::string tree = build->Live.Tree;
    if (!MakeStage(tree, &build->Stage, &error->Text)) {
        error->InTree = true;
        return false;
    }
    const std::vector<std::string> surplus =
        Surplus(tree, build->Live.Number, build->Opts.Keep - 1);
    for (size_t i = 0; i < surplus.size(); ++i) {
        if (i > 0 || rename(surplus[i].c_str(), build->Stage.c_str()) != 0) {
            RemoveTree(surplus[i]);
        }
    }
    for (const char* folder : {"launcher", "downloads", kRecordName}) {
        RemoveTree(build->Stage + "/" + folder);
    }
    Prune(build, build->Stage + "/patch", "");
    build->Result->Dirs.push_back(build->Stage);
    return true;
}

// Creates the folder of target, unless the file before went to the same one (files come
// sorted by path), and notes it for flushing.
bool MakeFolderOf(Build* build, const std::string& target, FileError* error) {
    const std::string folder = FolderOf(target);
    if (folder == build->LastFolder) {
        return true;
    }
    if (!MakeDirs(folder, &build->Result->Dirs)) {
        return Fail(error, "cannot create the folder of " + target);
    }
    build->Result->Dirs.push_back(folder);
    build->LastFolder = folder;
    return true;
}

// Reads one file: only its CRC-32 (and SHA-256) when the live version may hold it already,
// and a copy into the stage when it does not.
bool ReadOne(Build* build, VersionFile* file, FileError* error) {
    unsigned char* sha256 = build->Signs ? file->Sha256 : nullptr;
    file->Hashed = build->Signs;
    FileIdentity liveIdentity;
    const bool candidate = IdentityOf(build->Live.Tree + "/" + file->Served, &liveIdentity) &&
                           liveIdentity.Size == file->Size;
    if (candidate || build->Opts.DryRun) {
        if (!ReadFile(file->Source, file->Size, "", &file->Crc, nullptr, build->Meter, error,
                      sha256)) {
            return false;
        }
        file->InLive = candidate && LiveHolds(build->Live, file->Served, liveIdentity, file->Crc,
                                              sha256, &build->LiveRead, build->Meter);
        file->Identity = liveIdentity;
    }
    if (file->InLive || build->Opts.DryRun) {
        return true;
    }
    // A changed file makes the new version sure; an unchanged client touches nothing.
    if (!OpenStage(build, error)) {
        return false;
    }
    const std::string target = build->Stage + "/" + file->Served;
    if (!MakeFolderOf(build, target, error)) {
        return false;
    }
    unlink(target.c_str()); // a recycled version's file of that name
    file->Copied = ReadFile(file->Source, file->Size, target, &file->Crc, &file->Identity,
                            build->Meter, error, sha256);
    return file->Copied;
}

// Links a file the live version holds into the stage, unless a recycled version has it
// there already; copies it from its source where no link can be made.
bool LinkOne(Build* build, VersionFile* file, FileError* error) {
    const std::string target = build->Stage + "/" + file->Served;
    FileIdentity there;
    if (IdentityOf(target, &there) && there.Inode == file->Identity.Inode) {
        return true;
    }
    if (!MakeFolderOf(build, target, error)) {
        return false;
    }
    unlink(target.c_str());
    if (link((build->Live.Tree + "/" + file->Served).c_str(), target.c_str()) == 0) {
        return true;
    }
    uint32_t crc = 0;
    return ReadFile(file->Source, file->Size, target, &crc, &file->Identity, build->Meter, error);
}

int Failed(Build* build, const FileError& error) {
    if (!build->Stage.empty()) {
        RemoveTree(build->Stage);
        rmdir(FolderOf(build->Stage).c_str()); // a versions folder this publish made, when empty
    }
    build->Result->Stage.clear();
    build->Result->Error = error.Text;
    return error.InTree ? kWriteFailed : kRefused;
}

} // namespace

int BuildVersion(const Options& options, const LiveVersion& live, const Signing* signing,
                 std::vector<VersionFile>* files, Progress* progress, BuildResult* result) {
    Build build{options, live, signing != nullptr, progress, result, "", {}, {}, "", false};
    for (const VersionFile& file : *files) {
        if (!file.ManifestPath.empty()) {
            build.Paths.insert(file.ManifestPath);
            for (size_t slash = file.ManifestPath.find('/'); slash != std::string::npos;
                 slash = file.ManifestPath.find('/', slash + 1)) {
                build.Folders.insert(file.ManifestPath.substr(0, slash));
            }
        }
    }
    FileError error;
    bool allInLive = true;
    std::vector<PublishedFile> published;
    for (VersionFile& file : *files) {
        if (!ReadOne(&build, &file, &error)) {
            return Failed(&build, error);
        }
        ++progress->Files;
        allInLive = allInLive && file.InLive;
        if (file.ManifestPath.empty()) {
            continue;
        }
        file.Listed = live.Listed.count(file.ManifestPath) > 0;
        result->Added += !file.Listed;
        result->Changed += file.Listed && !file.InLive;
        result->Unchanged += file.Listed && file.InLive;
        published.push_back(PublishedFile{file.ManifestPath, file.Crc});
    }
    for (const auto& listed : live.Listed) {
        if (build.Paths.count(listed.first) == 0) {
            result->Removed.push_back(listed.first);
        }
    }
    const std::string manifest = BuildManifest(published);
    const std::string status = !options.Status.empty() ? options.Status
                               : live.HasStatus        ? live.Status
                                                       : "online";
    SignedList list;
    if (signing != nullptr) {
        list = ListOfFiles(*files, signing->Sequence);
        if (options.Package.empty() && !CarryPackage(live, signing->Keys, &list, &error.Text)) {
            error.InTree = true;
            return Failed(&build, error);
        }
    }
    const bool listSame =
        signing != nullptr ? LiveListIsSame(live, list, signing->Keys) : !live.HasList;
    // Nothing to switch to when the live version, vouched for by its record, already is it.
    result->Same = live.Versioned && !build.LiveRead && allInLive && result->Removed.empty() &&
                   manifest == live.Manifest && live.HasStatus && status == live.Status && listSame;
    if (options.DryRun || result->Same) {
        return kPublished;
    }
    if (!OpenStage(&build, &error)) {
        return Failed(&build, error);
    }
    for (VersionFile& file : *files) {
        if (file.InLive && !LinkOne(&build, &file, &error)) {
            return Failed(&build, error);
        }
    }
    const std::string stage = build.Stage;
    for (const char* folder : kServedFolders) {
        if (!MakeDirs(stage + "/" + folder, &result->Dirs)) {
            return Failed(&build, FileError{"cannot create " + stage + "/" + folder, true});
        }
    }
    // The status and other packages carry over; files the new version has are kept.
    const bool statusCarried =
        options.Status.empty() && live.HasStatus &&
        link((live.Tree + "/launcher/status").c_str(), (stage + "/launcher/status").c_str()) == 0;
    if (!LinkTree(live.Tree + "/downloads", stage + "/downloads", "#qelt-new", &result->Dirs,
                  &error) ||
        (!statusCarried && !WriteTextFile(stage + "/launcher/status", status, &error)) ||
        !WriteTextFile(stage + "/launcher/manifest.txt", manifest, &error) ||
        !WriteTextFile(stage + "/" + kRecordName, RecordText(*files), &error)) {
        return Failed(&build, error);
    }
    if (signing != nullptr && !WriteSignedList(stage, list, signing->Keys, &error.Text)) {
        error.InTree = true;
        return Failed(&build, error);
    }
    result->Dirs.push_back(stage + "/launcher");
    result->Dirs.push_back(stage + "/downloads");
    result->Stage = stage;
    return kPublished;
}
