// qelt-publish as an operator runs it: refusals leave the tree exactly as it was, the
// manifest reads back through the launcher's parser, re-publishing rewrites only what
// changed, a reader polling the tree while it publishes never sees a partial file, what a
// launcher fetches through qelt-server stays whole whenever a publish is killed, a full
// disk leaves the live version as it was, and a signed tree's list vouches for exactly its
// files under a sequence number that never goes down.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/name_rules_table.h"
#include "common/signing.h"
#include "crc_forge.h"
#include "update/manifest.h"
#include "update/signed_list.h"

#if !defined(QELT_PUBLISH_EXE) || !defined(QELT_SERVER_EXE)
#error "QELT_PUBLISH_EXE and QELT_SERVER_EXE must name the publisher and the server"
#endif

extern char** environ;

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
    system(("mkdir -p '" + path.substr(0, path.rfind('/')) + "' 2>/dev/null").c_str());
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

// The lines a shell command prints.
std::vector<std::string> Lines(const std::string& command) {
    std::vector<std::string> lines;
    FILE* pipe = popen(command.c_str(), "r");
    char line[4096];
    while (pipe != nullptr && fgets(line, sizeof line, pipe) != nullptr) {
        lines.emplace_back(line, strcspn(line, "\n"));
    }
    if (pipe != nullptr) {
        pclose(pipe);
    }
    return lines;
}

// Each path find lists below dir with its bytes, inode, modification time and size: a
// fingerprint that changes when anything there is written.
std::map<std::string, std::string> Fingerprints(const std::string& dir, const std::string& find) {
    std::map<std::string, std::string> files;
    for (const std::string& path : Lines("cd '" + dir + "' && " + find + " 2>/dev/null")) {
        struct stat st;
        const std::string full = dir + "/" + path;
        (find.compare(0, 7, "find -L") == 0 ? stat : lstat)(full.c_str(), &st);
        files[path] = std::to_string(st.st_ino) + "/" + std::to_string(st.st_mtim.tv_sec) + "." +
                      std::to_string(st.st_mtim.tv_nsec) + "/" + std::to_string(st.st_size) + "/" +
                      std::to_string(Crc(Read(full)));
    }
    return files;
}

// Everything below dir, links not followed.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
    return Fingerprints(dir, "find .");
}

// What is served: the files below TREE/launcher, patch and downloads, links followed,
// keyed "patch/main.exe".
std::map<std::string, std::string> ServedSnapshot(const std::string& tree) {
    return Fingerprints(tree, "find -L launcher patch downloads -type f");
}

// Starts a program with its output in log ("" for none); its process id, or -1.
pid_t Spawn(const std::vector<std::string>& arguments, const std::string& log) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const char* out = log.empty() ? "/dev/null" : log.c_str();
    posix_spawn_file_actions_addopen(&actions, 1, out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Percent-escapes what a URL path cannot carry as it is.
std::string Escape(const std::string& path) {
    std::string escaped;
    for (unsigned char c : path) {
        if (isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_') {
            escaped.push_back(static_cast<char>(c));
        } else {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02X", c);
            escaped += hex;
        }
    }
    return escaped;
}

// One GET over a fresh connection; the status (0 when none came) and the body.
int HttpGet(int port, const std::string& path, std::string* body) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return 0;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{30, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return 0;
    }
    const std::string request =
        "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string response;
    char piece[65536];
    ssize_t n = 0;
    while ((n = recv(fd, piece, sizeof piece, 0)) > 0) {
        response.append(piece, static_cast<size_t>(n));
    }
    close(fd);
    const size_t head = response.find("\r\n\r\n");
    if (response.compare(0, 9, "HTTP/1.1 ") != 0 || head == std::string::npos) {
        return 0;
    }
    *body = response.substr(head + 4);
    return atoi(response.c_str() + 9);
}

// The real qelt-server on a free loopback port, serving tree.
class Server {
  public:
    Server(const std::string& tree, const std::string& scratch) {
        const std::string portFile = scratch + "/port";
        unlink(portFile.c_str());
        pid_ = Spawn({QELT_SERVER_EXE, "--root", tree, "--port", "0", "--port-file", portFile,
                      "--db", "sqlite:" + scratch + "/accounts.db"},
                     scratch + "/server.log");
        for (int i = 0; i < 600 && port_ == 0 && pid_ > 0; ++i) {
            port_ = atoi(Read(portFile).c_str());
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~Server() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    int Port() const { return port_; }

  private:
    pid_t pid_ = -1;
    int port_ = 0;
};

// What a launcher would find through the server: the manifest, then every file it lists
// with the CRC-32 listed; and no other file of the served folders answered.
std::vector<std::string> ServedStateProblems(const std::string& tree, int port) {
    std::string manifest;
    if (HttpGet(port, "/launcher/manifest.txt", &manifest) != 200) {
        return {"no manifest"};
    }
    std::vector<std::string> problems;
    std::set<std::string> known = {"launcher/manifest.txt", "launcher/status"};
    for (const ManifestEntry& entry : ParseManifest(manifest.data(), manifest.size(), "")) {
        known.insert("patch/" + entry.Path);
        std::string body;
        const int status = HttpGet(port, "/patch/" + Escape(entry.Path), &body);
        if (status != 200 || Crc(body) != entry.Crc) {
            problems.push_back(entry.Path + ": status " + std::to_string(status) + ", " +
                               (status == 200 ? "another CRC-32 than listed" : "not served"));
        }
    }
    for (const auto& file : ServedSnapshot(tree)) {
        std::string body;
        if (known.count(file.first) == 0 && HttpGet(port, "/" + Escape(file.first), &body) == 200) {
            problems.push_back("a file no manifest lists is served: " + file.first);
        }
    }
    return problems;
}

// A tree as an older qelt-publish wrote it: the served folders are real folders.
void WriteOlderTree(const std::string& tree, const std::string& client) {
    system(("rm -rf '" + tree + "' && mkdir -p '" + tree + "/launcher' && cp -r '" + client +
            "' '" + tree + "/patch'")
               .c_str());
    std::string manifest;
    for (const std::string& path :
         Lines("cd '" + client + "' && find . -type f | cut -c3- | LC_ALL=C sort")) {
        char crc[16];
        snprintf(crc, sizeof crc, "%08lX\t", Crc(Read(client + "/" + path)));
        manifest += crc + path + "\n";
    }
    Write(tree + "/launcher/manifest.txt", manifest);
    Write(tree + "/launcher/status", "online");
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
    void TearDown() override {
        if (!mounted_.empty()) {
            umount2(mounted_.c_str(), MNT_DETACH);
        }
        system(("rm -rf '" + dir_ + "'").c_str());
    }

    std::string dir_;
    std::string mounted_;
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
    // Bad names and links refuse the whole publish and each is named: every name of the
    // shared table that this file system can hold.
    Write(client_ + "/new.txt", "would be published");
    ASSERT_EQ(symlink("..", (client_ + "/data/loop").c_str()), 0);
    std::vector<std::string> named = {"data/loop"};
    for (const NameCase& name : NameCases()) {
        if (name.Kind != "refused" && name.Kind != "collide" && name.Kind != "fold") {
            continue;
        }
        const size_t count = name.Kind == "refused" ? 1 : 2;
        for (size_t i = 0; i < count; ++i) {
            const std::string path = "/" + name.Fields[i] + "/";
            if (path.find("//") != std::string::npos || path.find("/./") != std::string::npos ||
                path.find("/../") != std::string::npos) {
                continue; // not a name a folder can hold
            }
            Write(client_ + "/" + name.Fields[i], "x");
            if (access((client_ + "/" + name.Fields[i]).c_str(), F_OK) == 0) {
                named.push_back(name.Fields[i]);
            }
        }
    }
    EXPECT_GT(named.size(), 30u);
    Result names = Publish(client_ + " " + tree_);
    EXPECT_EQ(names.Code, 1);
    for (const std::string& name : named) {
        EXPECT_NE(names.Output.find(name), std::string::npos) << name << "\n" << names.Output;
    }
    EXPECT_NE(names.Output.find("MAIN.EXE and main.exe"), std::string::npos) << names.Output;
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
    const auto firstServed = ServedSnapshot(tree_);
    ASSERT_EQ(Publish(client_ + " " + tree_ + " --status offline").Code, 0);
    const auto second = ServedSnapshot(tree_);
    EXPECT_EQ(second.at("patch/main.exe"), firstServed.at("patch/main.exe")); // shared, not copied
    EXPECT_NE(second.at("patch/data/map 1.att"), firstServed.at("patch/data/map 1.att"));
    EXPECT_EQ(Read(tree_ + "/patch/data/empty.bin"), "now longer");
    EXPECT_EQ(second.count("patch/Data2/deep/er/file.txt"), 0u);
    EXPECT_EQ(Read(tree_ + "/launcher/status"), "offline");
    EXPECT_EQ(Read(tree_ + "/launcher/manifest.txt").find("Data2"), std::string::npos);

    // A served file changed behind the publisher's back, size kept, is found and replaced.
    Write(tree_ + "/patch/main.exe", "987654321");
    ASSERT_EQ(Publish(client_ + " " + tree_).Code, 0);
    EXPECT_EQ(Read(tree_ + "/patch/main.exe"), "123456789");

    // --keep: a new version leaves that many in all, the oldest made over into the new one
    // (a file that became a folder, a file gone); an unchanged client removes none.
    Write(client_ + "/solo", "a file");
    for (const char* text : {"two", "three", "four"}) {
        Write(client_ + "/main.exe", text);
        ASSERT_EQ(Publish(client_ + " " + tree_ + " --keep 2").Code, 0);
        unlink((client_ + "/solo").c_str());
        Write(client_ + "/solo/inner.txt", text);
        unlink((client_ + "/data/empty.bin").c_str());
    }
    EXPECT_EQ(Lines("ls '" + tree_ + "/versions'").size(), 2u);
    ASSERT_EQ(Publish(client_ + " " + tree_ + " --keep 2").Code, 0);
    EXPECT_EQ(Lines("ls '" + tree_ + "/versions'").size(), 2u);
    std::map<std::string, std::string> clientFiles;
    std::map<std::string, std::string> servedFiles;
    for (const std::string& path : Lines("cd '" + client_ + "' && find . -type f")) {
        clientFiles["patch/" + path.substr(2)] = Read(client_ + "/" + path);
    }
    for (const auto& file : ServedSnapshot(tree_)) {
        if (file.first.compare(0, 6, "patch/") == 0) {
            servedFiles[file.first] = Read(tree_ + "/" + file.first);
        }
    }
    EXPECT_EQ(servedFiles, clientFiles);
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

// Publishes killed with SIGKILL at random points, over a tree of an older qelt-publish
// (each round from scratch) and over a versioned one (each round on the last): after each,
// a launcher fetching through qelt-server finds every listed file with its CRC-32, and
// nothing else is served. The next whole publish cleans up behind them.
TEST_F(QeltPublish, KilledPublishesLeaveEveryServedStateWhole) {
    constexpr int kFiles = 40;
    constexpr int kRoundsFromOlderTree = 4;
    constexpr int kRounds = 8;
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    system(("rm -rf '" + client_ + "'").c_str());
    auto change = [&](int round) {
        for (int i = 0; i < kFiles; ++i) {
            if (round == 0 || random() % 3 == 0) {
                Write(client_ + "/d" + std::to_string(i % 3) + "/f" + std::to_string(i),
                      Body(i, round));
            }
        }
        // A file that comes and goes.
        if (round % 2 == 1) {
            Write(client_ + "/extra/r" + std::to_string(round), Body(99, round));
        } else {
            system(("rm -rf '" + client_ + "/extra'").c_str());
        }
    };
    auto timed = [&](const std::function<void()>& publish) {
        const auto start = std::chrono::steady_clock::now();
        publish();
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now() - start)
            .count();
    };
    auto killedPublish = [&](long long window, const std::string& what) {
        const long long delay = static_cast<long long>(random() % (window + 1));
        const pid_t pid = Spawn({QELT_PUBLISH_EXE, client_, tree_}, "");
        if (pid <= 0) {
            ADD_FAILURE() << "cannot start " << QELT_PUBLISH_EXE;
            return what + " not started";
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return what + " killed after " + std::to_string(delay) + " us (seed " +
               std::to_string(seed) + ")";
    };

    change(0);
    WriteOlderTree(tree_, client_);
    Server server(tree_, dir_);
    ASSERT_GT(server.Port(), 0) << Read(dir_ + "/server.log");
    ASSERT_EQ(ServedStateProblems(tree_, server.Port()), std::vector<std::string>());
    const long long takeOver = timed([&] { ASSERT_EQ(Publish(client_ + " " + tree_).Code, 0); });
    for (int round = 1; round <= kRoundsFromOlderTree; ++round) {
        WriteOlderTree(tree_, client_);
        change(round);
        const std::string what = killedPublish(takeOver, "take-over " + std::to_string(round));
        EXPECT_EQ(ServedStateProblems(tree_, server.Port()), std::vector<std::string>()) << what;
    }
    change(100);
    const long long publish = timed([&] { ASSERT_EQ(Publish(client_ + " " + tree_).Code, 0); });
    for (int round = 101; round <= 100 + kRounds; ++round) {
        change(round);
        const std::string what = killedPublish(publish, "publish " + std::to_string(round));
        EXPECT_EQ(ServedStateProblems(tree_, server.Port()), std::vector<std::string>()) << what;
    }

    // A whole publish serves the client exactly and leaves only the versions it keeps.
    Result last = Publish(client_ + " " + tree_);
    ASSERT_EQ(last.Code, 0) << last.Output;
    EXPECT_EQ(ServedStateProblems(tree_, server.Port()), std::vector<std::string>());
    for (const auto& file : Snapshot(client_)) {
        std::string body;
        if (file.first.size() > 2 && Read(client_ + "/" + file.first).size() > 0) {
            EXPECT_EQ(HttpGet(server.Port(), "/patch/" + Escape(file.first.substr(2)), &body), 200);
            EXPECT_EQ(body, Read(client_ + "/" + file.first)) << file.first;
        }
    }
    const std::string line = Lines("cd '" + tree_ + "' && ls -A . versions | tr '\\n' ' '").at(0);
    EXPECT_TRUE(
        std::regex_match(line, std::regex(R"(\.: \.qelt-publish\.lock current downloads )"
                                          R"(launcher patch versions  versions: (\d+ ){1,3})")))
        << line;
}

// A disk that fills during a publish: the live version stays exactly as it was, nothing of
// the attempt is left, and --rollback brings back the version before it.
TEST_F(QeltPublish, FullDiskLeavesTheLiveVersionAndRollbackBringsThePreviousBack) {
    const std::string disk = dir_ + "/disk";
    mkdir(disk.c_str(), 0755);
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=1m") != 0) {
        GTEST_SKIP() << "a small tmpfs needs root: " << strerror(errno);
    }
    mounted_ = disk;
    const std::string tree = disk + "/tree";
    ASSERT_EQ(Publish(client_ + " " + tree).Code, 0);
    const auto first = ServedSnapshot(tree);
    Write(client_ + "/main.exe", "version two");
    ASSERT_EQ(Publish(client_ + " " + tree + " --status offline").Code, 0);
    const auto second = ServedSnapshot(tree);
    ASSERT_NE(second, first);

    Write(client_ + "/data/huge.bin", std::string(2 << 20, 'h'));
    Result full = Publish(client_ + " " + tree);
    EXPECT_EQ(full.Code, 3) << full.Output;
    EXPECT_NE(full.Output.find("No space left"), std::string::npos) << full.Output;
    EXPECT_EQ(ServedSnapshot(tree), second);
    const auto afterFailure = Snapshot(tree);
    EXPECT_EQ(afterFailure.count("./versions/3"), 0u);
    for (const auto& file : afterFailure) {
        EXPECT_EQ(file.first.find("/."), file.first.find("/.qelt-publish.lock")) << file.first;
    }

    Result back = Publish("--rollback " + tree);
    EXPECT_EQ(back.Code, 0) << back.Output;
    EXPECT_EQ(ServedSnapshot(tree), first);
    EXPECT_EQ(Read(tree + "/launcher/status"), "online");
    const auto before = Snapshot(tree);
    Result none = Publish("--rollback " + tree);
    EXPECT_EQ(none.Code, 1);
    EXPECT_NE(none.Output.find("no earlier version"), std::string::npos) << none.Output;
    EXPECT_EQ(Snapshot(tree), before);
}

// What a signed publish serves, read back as a launcher with the key would: the list parses
// with the launcher's parser, each file's size, CRC-32 and SHA-256 (sha256sum's) are those
// of the served bytes, and the signature file has one signature per key. Empty when all is
// as it must be; the sequence number in *sequence.
std::vector<std::string> SignedTreeProblems(const std::string& tree,
                                            const std::vector<std::string>& keyLines,
                                            uint64_t* sequence) {
    const std::string list = Read(tree + "/launcher/files.txt");
    const std::string signatures = Read(tree + "/launcher/files.sig");
    SignedList parsed;
    std::vector<ListSignature> parsedSignatures;
    if (!ParseSignedList(list.data(), list.size(), "C:\\Games\\Qelt", &parsed) ||
        !ParseSignatures(signatures.data(), signatures.size(), &parsedSignatures)) {
        return {"no signed list"};
    }
    *sequence = parsed.Sequence;
    std::vector<std::string> problems;
    auto hex = [](const unsigned char* bytes) {
        std::string text;
        for (size_t i = 0; i < kSha256Size; ++i) {
            char pair[3];
            snprintf(pair, sizeof pair, "%02x", bytes[i]);
            text += pair;
        }
        return text;
    };
    auto sha256sum = [](const std::string& path) {
        return Lines("sha256sum '" + path + "'").at(0).substr(0, 64);
    };
    const auto manifest = ParseManifest(Read(tree + "/launcher/manifest.txt").data(),
                                        Read(tree + "/launcher/manifest.txt").size(), "");
    if (manifest.size() != parsed.Entries.size()) {
        problems.push_back("the list and the manifest name different files");
    }
    for (const SignedListEntry& entry : parsed.Entries) {
        const std::string path = tree + "/patch/" + entry.Path;
        const std::string bytes = Read(path);
        if (entry.Size != bytes.size() || entry.Crc != Crc(bytes) ||
            hex(entry.Sha256) != sha256sum(path)) {
            problems.push_back(entry.Path + ": not the served bytes");
        }
    }
    const std::string package = tree + "/downloads/Qelt-Data.exe";
    if (parsed.HasPackage != (access(package.c_str(), F_OK) == 0) ||
        (parsed.HasPackage && (hex(parsed.PackageSha256) != sha256sum(package) ||
                               parsed.PackageSize != Read(package).size()))) {
        problems.push_back("the package line is not the served package");
    }
    if (parsedSignatures.size() != keyLines.size()) {
        problems.push_back(std::to_string(parsedSignatures.size()) + " signatures");
    }
    for (size_t i = 0; i < keyLines.size() && i < parsedSignatures.size(); ++i) {
        unsigned char key[kUpdateKeySize];
        if (!ParseUpdateKey(keyLines[i].c_str() + strlen("UpdateKey="), key) ||
            !VerifyBytes(key, list, parsedSignatures[i])) {
            problems.push_back("signature " + std::to_string(i + 1) + " is not by its key");
        }
    }
    return problems;
}

TEST_F(QeltPublish, SignedTreesVouchForTheirFilesUnderASequenceThatNeverGoesDown) {
    const std::string oldKey = dir_ + "/old.pem";
    const std::string newKey = dir_ + "/new.pem";
    Result keygen = Publish("--keygen " + oldKey);
    ASSERT_EQ(keygen.Code, 0) << keygen.Output;
    const std::string oldLine = keygen.Output.substr(0, keygen.Output.find('\n'));
    ASSERT_EQ(oldLine.size(), strlen("UpdateKey=") + 128) << keygen.Output;
    const std::string pem = Read(oldKey);
    EXPECT_EQ(Publish("--keygen " + oldKey).Code, 1); // never over a key
    EXPECT_EQ(Read(oldKey), pem);
    keygen = Publish("--keygen " + newKey);
    const std::string newLine = keygen.Output.substr(0, keygen.Output.find('\n'));
    const std::string signOld = " --sign " + oldKey;
    const std::string signBoth = signOld + " --sign " + newKey;

    Write(dir_ + "/package.exe", "MZ first-run package");
    ASSERT_EQ(Publish(client_ + " " + tree_ + signOld + " --package " + dir_ + "/package.exe").Code,
              0);
    uint64_t sequence = 0;
    EXPECT_EQ(SignedTreeProblems(tree_, {oldLine}, &sequence), std::vector<std::string>());
    EXPECT_EQ(sequence, 1u);
    const auto first = ServedSnapshot(tree_);
    ASSERT_EQ(Publish(client_ + " " + tree_ + signOld).Code, 0); // nothing to sign again
    EXPECT_EQ(ServedSnapshot(tree_), first);

    // A changed file; the package carries over with the digest that was signed for it, even
    // when the tree's copy was changed behind the publisher's back.
    const std::string packageLine = Lines("sed -n 4p '" + tree_ + "/launcher/files.txt'").at(0);
    Write(tree_ + "/downloads/Qelt-Data.exe", "MZ other-run package");
    Write(client_ + "/main.exe", "second");
    ASSERT_EQ(Publish(client_ + " " + tree_ + signOld).Code, 0);
    EXPECT_EQ(Lines("sed -n 4p '" + tree_ + "/launcher/files.txt'").at(0), packageLine);
    Write(tree_ + "/downloads/Qelt-Data.exe", "MZ first-run package");
    EXPECT_EQ(SignedTreeProblems(tree_, {oldLine}, &sequence), std::vector<std::string>());
    EXPECT_EQ(sequence, 2u);

    // A key change: both keys sign, and again only when something changes.
    ASSERT_EQ(Publish(client_ + " " + tree_ + signBoth).Code, 0);
    EXPECT_EQ(SignedTreeProblems(tree_, {oldLine, newLine}, &sequence), std::vector<std::string>());
    EXPECT_EQ(sequence, 3u);
    const auto rotated = ServedSnapshot(tree_);
    ASSERT_EQ(Publish(client_ + " " + tree_ + signBoth).Code, 0);
    EXPECT_EQ(ServedSnapshot(tree_), rotated);

    // Without a key a signed tree is not rolled back; with one the previous files go live
    // again under a number higher than any before, even with the tree's record of it lost.
    const auto before = Snapshot(tree_);
    Result unsigned_ = Publish("--rollback " + tree_);
    EXPECT_EQ(unsigned_.Code, 1);
    EXPECT_NE(unsigned_.Output.find("--sign"), std::string::npos) << unsigned_.Output;
    EXPECT_EQ(Snapshot(tree_), before);
    ASSERT_EQ(unlink((tree_ + "/.qelt-publish.sequence").c_str()), 0);
    Result back = Publish("--rollback " + tree_ + signBoth);
    ASSERT_EQ(back.Code, 0) << back.Output;
    EXPECT_EQ(SignedTreeProblems(tree_, {oldLine, newLine}, &sequence), std::vector<std::string>());
    EXPECT_EQ(sequence, 4u);
    EXPECT_EQ(Read(tree_ + "/patch/main.exe"), "second"); // version 2's files, signed by both
    // Version 1's list is by the old key alone: the new key does not sign it unseen.
    const auto once = Snapshot(tree_);
    EXPECT_EQ(Publish("--rollback " + tree_ + " --sign " + newKey).Code, 1);
    EXPECT_EQ(Snapshot(tree_), once);
    back = Publish("--rollback " + tree_ + signBoth);
    EXPECT_EQ(back.Code, 0) << back.Output;
    EXPECT_EQ(SignedTreeProblems(tree_, {oldLine, newLine}, &sequence), std::vector<std::string>());
    EXPECT_EQ(sequence, 5u);
    EXPECT_EQ(Read(tree_ + "/patch/main.exe"), "123456789");
    ASSERT_EQ(Publish(client_ + " " + tree_ + " --sign " + newKey).Code, 0);
    EXPECT_EQ(SignedTreeProblems(tree_, {newLine}, &sequence), std::vector<std::string>());
    EXPECT_EQ(sequence, 6u);

    // Published without a key: a warning, and no list. The last number is still known from
    // the older versions' lists when the tree's record of it is lost, and from that record
    // when those versions are gone as well.
    Write(client_ + "/main.exe", "unsigned");
    Result plain = Publish(client_ + " " + tree_);
    ASSERT_EQ(plain.Code, 0);
    EXPECT_NE(plain.Output.find("warning: the live version is signed"), std::string::npos);
    EXPECT_NE(access((tree_ + "/launcher/files.txt").c_str(), F_OK), 0);
    ASSERT_EQ(unlink((tree_ + "/.qelt-publish.sequence").c_str()), 0);
    Write(client_ + "/main.exe", "signed again");
    ASSERT_EQ(Publish(client_ + " " + tree_ + " --sign " + newKey).Code, 0);
    EXPECT_EQ(SignedTreeProblems(tree_, {newLine}, &sequence), std::vector<std::string>());
    EXPECT_EQ(sequence, 7u);
    for (const char* text : {"unsigned 2", "unsigned 3"}) {
        Write(client_ + "/main.exe", text);
        ASSERT_EQ(Publish(client_ + " " + tree_ + " --keep 2").Code, 0);
    }
    Write(client_ + "/main.exe", "signed once more");
    ASSERT_EQ(Publish(client_ + " " + tree_ + " --sign " + newKey).Code, 0);
    EXPECT_EQ(SignedTreeProblems(tree_, {newLine}, &sequence), std::vector<std::string>());
    EXPECT_EQ(sequence, 8u);

    // A served file changed behind the publisher's back with its size and CRC-32 kept is
    // found out by its SHA-256: the client's copy goes live again.
    Write(tree_ + "/patch/data/map 1.att",
          ForgeSameCrc(Read(client_ + "/data/map 1.att"), 10,
                       [](const std::string& bytes) { return Crc(bytes); }));
    ASSERT_EQ(Publish(client_ + " " + tree_ + " --sign " + newKey).Code, 0);
    EXPECT_EQ(SignedTreeProblems(tree_, {newLine}, &sequence), std::vector<std::string>());
    EXPECT_EQ(sequence, 9u);

    // A live list that cannot be read hides the last number: nothing is published over it.
    Write(tree_ + "/launcher/files.txt", "qelt-files 1\nsequence x\n");
    const auto damaged = Snapshot(tree_);
    Write(client_ + "/main.exe", "third");
    EXPECT_EQ(Publish(client_ + " " + tree_ + " --sign " + newKey).Code, 1);
    EXPECT_EQ(Snapshot(tree_), damaged);
}

} // namespace
