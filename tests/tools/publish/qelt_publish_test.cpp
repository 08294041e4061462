// qelt-publish as an operator runs it: refusals leave the tree exactly as it was, the
// manifest reads back through the launcher's parser, re-publishing rewrites only what
// changed, and a reader polling the tree while it publishes never sees a partial file.
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "update/manifest.h"

#ifndef QELT_PUBLISH_EXE
#error "QELT_PUBLISH_EXE must name the publisher"
#endif

namespace {

struct Result {
    int Code = -1;
    std::string Output;
};

Result Publish(const std::string& arguments) {
    Result result;
    FILE* pipe = popen((std::string(QELT_PUBLISH_EXE) + " " + arguments + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char piece[4096];
    size_t n = 0;
    while ((n = fread(piece, 1, sizeof piece, pipe)) > 0) {
        result.Output.append(piece, n);
    }
    const int status = pclose(pipe);
    result.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

void Write(const std::string& path, const std::string& text) {
    system(("mkdir -p '" + path.substr(0, path.rfind('/')) + "'").c_str());
    std::ofstream(path, std::ios::binary) << text;
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// zlib's CRC-32, independent of the project's.
uLong Crc(const std::string& bytes) {
    return crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
}

// Every file below dir with its bytes, inode and modification time: a fingerprint that
// changes when anything in the tree is written.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
    std::map<std::string, std::string> files;
    FILE* list = popen(("cd '" + dir + "' && find . | sort").c_str(), "r");
    char line[4096];
    while (list != nullptr && fgets(line, sizeof line, list) != nullptr) {
        std::string path = line;
        path.pop_back();
        struct stat st;
        lstat((dir + "/" + path).c_str(), &st);
        files[path] = std::to_string(st.st_ino) + "/" + std::to_string(st.st_mtim.tv_sec) + "." +
                      std::to_string(st.st_mtim.tv_nsec) + "/" + std::to_string(st.st_size) + "/" +
                      std::to_string(Crc(Read(dir + "/" + path)));
    }
    if (list != nullptr) {
        pclose(list);
    }
    return files;
}

class QeltPublish : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/qelt-publish-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        client_ = dir_ + "/client";
        tree_ = dir_ + "/tree";
        Write(client_ + "/main.exe", "123456789");
        Write(client_ + "/data/map 1.att", std::string(100000, 'm'));
        Write(client_ + "/data/empty.bin", "");
        Write(client_ + "/Data2/deep/er/file.txt", "abc");
    }
    void TearDown() override { system(("rm -rf '" + dir_ + "'").c_str()); }

    std::string dir_;
    std::string client_;
    std::string tree_;
};

TEST_F(QeltPublish, RefusalsLeaveTheTreeByteForByteUnchanged) {
    ASSERT_EQ(Publish(client_ + " " + tree_).Code, 0);
    const auto before = Snapshot(tree_);
    // Republishing the tree's own patch folder once truncated every file to nothing.
    Result own = Publish(tree_ + "/patch " + tree_);
    EXPECT_EQ(own.Code, 1);
    EXPECT_NE(own.Output.find("overlap"), std::string::npos) << own.Output;
    EXPECT_EQ(Publish(client_ + " " + client_ + "/sub").Code, 1);
    EXPECT_NE(access((client_ + "/sub").c_str(), F_OK), 0);
    EXPECT_EQ(Publish(dir_ + "/missing " + tree_).Code, 1);
    // Bad names and links refuse the whole publish and each is named.
    Write(client_ + "/new.txt", "would be published");
    Write(client_ + "/data/CON.txt", "x");
    Write(client_ + "/MAIN.EXE", "x");
    ASSERT_EQ(symlink("..", (client_ + "/data/loop").c_str()), 0);
    Result names = Publish(client_ + " " + tree_);
    EXPECT_EQ(names.Code, 1);
    for (const char* named : {"data/CON.txt", "MAIN.EXE and main.exe", "data/loop"}) {
        EXPECT_NE(names.Output.find(named), std::string::npos) << names.Output;
    }
    EXPECT_EQ(Snapshot(tree_), before);
}

TEST_F(QeltPublish, ManifestRoundTripsAndRepublishRewritesOnlyWhatChanged) {
    ASSERT_EQ(Publish(client_ + " " + tree_).Code, 0);
    const std::string manifest = Read(tree_ + "/launcher/manifest.txt");
    const auto entries = ParseManifest(manifest.data(), manifest.size(), "C:\\Games\\Qelt");
    ASSERT_EQ(entries.size(), 4u) << manifest;
    std::string lines;
    for (const ManifestEntry& entry : entries) {
        const std::string content = Read(client_ + "/" + entry.Path);
        EXPECT_EQ(entry.Crc, Crc(content)) << entry.Path;
        EXPECT_EQ(Read(tree_ + "/patch/" + entry.Path), content);
        char crc[9];
        snprintf(crc, sizeof crc, "%08X", entry.Crc);
        lines += std::string(crc) + "\t" + entry.Path + "\n";
    }
    EXPECT_EQ(manifest, lines); // sorted, upper-case hex, LF, nothing else
    EXPECT_EQ(entries[0].Path, "Data2/deep/er/file.txt");
    EXPECT_EQ(Read(tree_ + "/launcher/status"), "online");

    const auto first = Snapshot(tree_);
    ASSERT_EQ(Publish(client_ + " " + tree_).Code, 0);
    EXPECT_EQ(Snapshot(tree_), first); // no file rewritten, not even the manifest's bytes
    Write(client_ + "/data/empty.bin", "now longer");
    std::string same = std::string(100000, 'm');
    same[5000] = 'n'; // same size, different content
    Write(client_ + "/data/map 1.att", same);
    unlink((client_ + "/Data2/deep/er/file.txt").c_str());
    Result dry = Publish(client_ + " " + tree_ + " --dry-run");
    EXPECT_EQ(dry.Code, 0);
    EXPECT_NE(dry.Output.find("removed Data2/deep/er/file.txt"), std::string::npos) << dry.Output;
    EXPECT_EQ(Snapshot(tree_), first);
    ASSERT_EQ(Publish(client_ + " " + tree_ + " --status offline").Code, 0);
    const auto second = Snapshot(tree_);
    EXPECT_EQ(second.at("./patch/main.exe"), first.at("./patch/main.exe"));
    EXPECT_NE(second.at("./patch/data/map 1.att"), first.at("./patch/data/map 1.att"));
    EXPECT_EQ(Read(tree_ + "/patch/data/empty.bin"), "now longer");
    EXPECT_EQ(second.count("./patch/Data2"), 0u); // emptied folders go with their files
    EXPECT_EQ(Read(tree_ + "/launcher/status"), "offline");
    EXPECT_EQ(Read(tree_ + "/launcher/manifest.txt").find("Data2"), std::string::npos);
}

// Version v of file i: a self-describing body whose length changes with v, so a reader can
// tell a whole version from a mix or a cut.
std::string Body(int file, int version) {
    std::string body = "v" + std::to_string(version) + " f" + std::to_string(file) + ":";
    const size_t length = 20000 + static_cast<size_t>((version * 7919 + file * 104729) % 300000);
    for (size_t i = body.size(); i < length; ++i) {
        body.push_back(static_cast<char>('a' + (i * 31 + static_cast<size_t>(version)) % 26));
    }
    return body;
}

bool IsWholeVersion(int file, const std::string& body) {
    int version = -1;
    int seen = -1;
    return sscanf(body.c_str(), "v%d f%d:", &version, &seen) == 2 && seen == file &&
           body == Body(file, version);
}

TEST_F(QeltPublish, ReaderDuringRepeatedPublishesSeesOnlyWholeFilesAndManifests) {
    constexpr int kFiles = 6;
    system(("rm -rf '" + client_ + "'").c_str());
    auto writeVersion = [&](int version) {
        for (int i = 0; i < kFiles; ++i) {
            // Rewritten in place: the client side has no atomicity to offer the reader.
            Write(client_ + "/f" + std::to_string(i), Body(i, version + i % 2));
        }
    };
    writeVersion(0);
    ASSERT_EQ(Publish(client_ + " " + tree_).Code, 0);

    std::atomic<bool> done{false};
    std::atomic<int> manifests{0}, bodies{0}, partialManifests{0}, partialBodies{0};
    std::thread reader([&] {
        while (!done) {
            const std::string manifest = Read(tree_ + "/launcher/manifest.txt");
            const auto entries = ParseManifest(manifest.data(), manifest.size(), "");
            ++manifests;
            if (entries.size() != kFiles || manifest.back() != '\n') {
                ++partialManifests;
                continue;
            }
            for (const ManifestEntry& entry : entries) {
                ++bodies;
                if (!IsWholeVersion(atoi(entry.Path.c_str() + 1),
                                    Read(tree_ + "/patch/" + entry.Path))) {
                    ++partialBodies;
                }
            }
        }
    });
    int failures = 0;
    for (int round = 1; round <= 20; ++round) {
        writeVersion(round);
        failures += Publish(client_ + " " + tree_).Code != 0;
    }
    done = true;
    reader.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(partialManifests, 0);
    EXPECT_EQ(partialBodies, 0);
    EXPECT_GT(manifests, 20);
    EXPECT_GT(bodies, 20 * kFiles);
    for (int i = 0; i < kFiles; ++i) {
        EXPECT_EQ(Read(tree_ + "/patch/f" + std::to_string(i)), Body(i, 20 + i % 2));
    }
}

} // namespace
