// The next version, built in a staging folder that no served path reaches.
#include "build_version.h"

#include <unistd.h>

#include <set>

#include "common/publish_tree.h"
#include "publish_files.h"
#include "tree_versions.h"

namespace {

// Creates the folder of target, unless the file before went to the same one (files come
// sorted by path).
bool MakeFolderOf(const std::string& target, BuildResult* result, FileError* error) {
    const std::string folder = FolderOf(target);
    if (folder == result->LastFolder) {
        return true;
    }
    if (!MakeDirs(folder, &result->Dirs)) {
        error->Text = "cannot create the folder of " + target;
        error->InTree = true;
        return false;
    }
    result->LastFolder = folder;
    return true;
}

// Reads one file: only its CRC-32 when the live version may hold it already, and a copy
// into the stage when it does not.
bool ReadOne(const Options& options, const LiveVersion& live, std::string* stage, VersionFile* file,
             bool* liveRead, Progress* progress, BuildResult* result, FileError* error) {
    FileIdentity liveIdentity;
    const bool candidate = IdentityOf(live.Tree + "/" + file->Served, &liveIdentity) &&
                           liveIdentity.Size == file->Size;
    if (candidate || options.DryRun) {
        if (!ReadFile(file->Source, file->Size, "", &file->Crc, nullptr, progress, error)) {
            return false;
        }
        file->InLive =
            candidate && LiveHolds(live, file->Served, liveIdentity, file->Crc, liveRead, progress);
        file->Identity = liveIdentity;
    }
    if (file->InLive || options.DryRun) {
        return true;
    }
    // The stage is made at the first file to copy: an unchanged client touches nothing.
    if (stage->empty() && !MakeStage(live.Tree, stage, &error->Text)) {
        error->InTree = true;
        return false;
    }
    const std::string target = *stage + "/" + file->Served;
    if (!MakeFolderOf(target, result, error)) {
        return false;
    }
    file->Copied =
        ReadFile(file->Source, file->Size, target, &file->Crc, &file->Identity, progress, error);
    return file->Copied;
}

// Links a file the live version holds into the stage; copies it from its source where no
// link can be made.
bool LinkOne(const LiveVersion& live, const std::string& stage, VersionFile* file,
             Progress* progress, BuildResult* result, FileError* error) {
    const std::string target = stage + "/" + file->Served;
    if (!MakeFolderOf(target, result, error)) {
        return false;
    }
    if (link((live.Tree + "/" + file->Served).c_str(), target.c_str()) == 0) {
        return true;
    }
    uint32_t crc = 0;
    return ReadFile(file->Source, file->Size, target, &crc, &file->Identity, progress, error);
}

int Failed(const std::string& stage, const FileError& error, BuildResult* result) {
    if (!stage.empty()) {
        RemoveTree(stage);
        rmdir(FolderOf(stage).c_str()); // a versions folder this publish made, when empty
    }
    result->Stage.clear();
    result->Error = error.Text;
    return error.InTree ? kWriteFailed : kRefused;
}

} // namespace

int BuildVersion(const Options& options, const LiveVersion& live, std::vector<VersionFile>* files,
                 Progress* progress, BuildResult* result, const std::function<void()>& whenNew) {
    std::string stage;
    FileError error;
    bool liveRead = false;
    bool allInLive = true;
    std::set<std::string> paths;
    std::vector<PublishedFile> published;
    for (VersionFile& file : *files) {
        if (!ReadOne(options, live, &stage, &file, &liveRead, progress, result, &error)) {
            return Failed(stage, error, result);
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
        paths.insert(file.ManifestPath);
        published.push_back(PublishedFile{file.ManifestPath, file.Crc});
    }
    for (const auto& listed : live.Listed) {
        if (paths.count(listed.first) == 0) {
            result->Removed.push_back(listed.first);
        }
    }
    const std::string manifest = BuildManifest(published);
    const std::string status = !options.Status.empty() ? options.Status
                               : live.HasStatus        ? live.Status
                                                       : "online";
    // Nothing to switch to when the live version, vouched for by its record, already is it.
    result->Same = live.Versioned && !liveRead && allInLive && result->Removed.empty() &&
                   manifest == live.Manifest && live.HasStatus && status == live.Status;
    if (options.DryRun || result->Same) {
        return kPublished;
    }
    whenNew();
    if (stage.empty() && !MakeStage(live.Tree, &stage, &result->Error)) {
        return kWriteFailed;
    }

    for (VersionFile& file : *files) {
        if (file.InLive && !LinkOne(live, stage, &file, progress, result, &error)) {
            return Failed(stage, error, result);
        }
    }
    for (const char* folder : kServedFolders) {
        if (!MakeDirs(stage + "/" + folder, &result->Dirs)) {
            return Failed(stage, FileError{"cannot create " + stage + "/" + folder, true}, result);
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
        return Failed(stage, error, result);
    }
    result->Stage = stage;
    return kPublished;
}
