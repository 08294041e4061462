// The update run end to end on the worker's side: every outcome with the exact texts,
// positions and button calls it shows, and the requests the server saw.
#include "update/update_worker.h"

#include <windows.h>

#include <cstdlib>
#include <functional>
#include <memory>

#include "cng_test_key.h"
#include "crypto/sha256.h"
#include "system/launcher_state.h"
#include "test_files.h"
#include "update/check_record.h"
#include "update/patch_loop.h"
#include "update/signed_list.h"
#include "update/state_files.h"
#include "update/update_texts.h"
#include "update/update_timings.h"
#include "update_fixture.h"

namespace {

using Lines = std::vector<std::string>;

class UpdateWorkerTest : public UpdateTest {};

struct CheckRun {
    std::vector<ManifestEntry> Entries;
    std::vector<ManifestEntry> Found;
    PatchResult Result;
};

DWORD WINAPI RunCheck(void* param) {
    CheckRun* run = static_cast<CheckRun*>(param);
    run->Result = RunPatchLoop(run->Entries, &run->Found);
    return 0;
}

// Bytes that depend on their position and on seed, so that a lost, repeated or foreign
// piece shows.
std::string Pattern(size_t length, unsigned seed) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<char>(i * 7u + i / 251u + seed * 131u);
    }
    return bytes;
}

TEST_F(UpdateWorkerTest, AutoUpdateOffMakesNoRequest) {
    g_Launcher.Config.UpdateUrl[0] = '\0';
    DeleteFileA(Path("main.exe").c_str()); // not even the first-run install is tried
    EXPECT_EQ(RunUpdateSequence(), UpdateOutcome::AutoUpdateOff);
    EXPECT_EQ(Ops(), (Lines{"status:Auto update: da tat", "progress:100", "connect:1"}));
    EXPECT_TRUE(Paths().empty());
    EXPECT_FALSE(Exists("main.exe"));
}

TEST_F(UpdateWorkerTest, UnreachableServerEnablesConnect) {
    server_.Stop(); // nothing listens on the port any more
    EXPECT_EQ(RunUpdateSequence(), UpdateOutcome::ManifestUnavailable);
    EXPECT_EQ(Ops(),
              (Lines{"status:Dang kiem tra cap nhat...",
                     "status:Khong ket noi duoc update server - dung file hien tai", "connect:1"}));
}

TEST_F(UpdateWorkerTest, ManifestNotFoundIsLikeUnreachable) {
    server_.SetBody("/launcher/manifest.txt", "<html>missing</html>", 404);
    EXPECT_EQ(RunUpdateSequence(), UpdateOutcome::ManifestUnavailable);
    EXPECT_EQ(Ops().back(), "connect:1");
    EXPECT_EQ(Paths(), (Lines{"/launcher/manifest.txt"}));
}

TEST_F(UpdateWorkerTest, EmptyAndCommentOnlyManifestsAreUpToDate) {
    for (const char* manifest : {"", "# nothing to patch\r\n#\n\n"}) {
        ClearRecordedOps();
        server_.SetBody("/launcher/manifest.txt", manifest);
        EXPECT_EQ(RunUpdateSequence(), UpdateOutcome::Success);
        EXPECT_EQ(Ops(), (Lines{"status:Dang kiem tra cap nhat...", "status:Client da moi nhat",
                                "progress:100"}));
    }
}

TEST_F(UpdateWorkerTest, AllFilesCurrentDownloadsNothing) {
    Put("a.txt", "alpha");
    CreateDirectoryA(Path("data").c_str(), nullptr);
    Put("data\\b.bmd", "beta");
    server_.SetBody("/launcher/manifest.txt", Line("a.txt", "alpha") + Line("data/b.bmd", "beta"));
    EXPECT_EQ(RunUpdateSequence(), UpdateOutcome::Success);
    EXPECT_EQ(Ops(), (Lines{"status:Dang kiem tra cap nhat...", "status:Dang kiem tra a.txt (1/2)",
                            "progress:50", "status:Dang kiem tra data/b.bmd (2/2)", "progress:100",
                            "status:Client da moi nhat", "progress:100"}));
    EXPECT_EQ(Paths(), (Lines{"/launcher/manifest.txt"}));
}

// The check phase reads ahead on other threads; what it shows and what it finds must not
// depend on that. Many more entries than it reads ahead, mixing current, changed, missing,
// locked and folder entries and a file of many pieces, give texts and positions in
// manifest order and exactly the changed entries, in manifest order. The worker is held at
// its first text for long enough that the readers run into the read-ahead bound and must
// be woken by the worker's progress.
TEST_F(UpdateWorkerTest, CheckPhaseReadAheadKeepsTextsAndFindingsInOrder) {
    constexpr int kCount = 300;
    std::string manifest;
    std::vector<std::string> changed;
    HANDLE locked = INVALID_HANDLE_VALUE;
    for (int i = 0; i < kCount; ++i) {
        const std::string path = "f" + std::to_string(i) + ".bin";
        std::string content = "content " + std::to_string(i);
        if (i == 150) {
            content.assign(200000, static_cast<char>('a' + i % 26)); // seven pieces
        }
        manifest += Line(path, content);
        switch (i % 5) {
        case 0: Put(path, content); break;
        case 1: Put(path, content + "!"); break;
        case 2: break; // missing
        case 3: CreateDirectoryA(Path(path).c_str(), nullptr); break;
        case 4:
            Put(path, content);
            if (i == 299) { // current, but held without shared reading
                locked = CreateFileA(Path(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
                ASSERT_NE(locked, INVALID_HANDLE_VALUE);
            }
            break;
        }
        if (i % 5 == 1 || i % 5 == 2 || i % 5 == 3 || i == 299) {
            changed.push_back(path);
        }
    }
    std::unique_ptr<CheckRun> run(new CheckRun{
        ParseManifest(manifest.data(), manifest.size(), g_Launcher.LauncherDir), {}, {}});
    ASSERT_EQ(run->Entries.size(), static_cast<size_t>(kCount));
    bool held = false; // the worker's thread only
    g_OnRecorded = [&held](const RecordedOp& op) {
        if (!held && op.Text.rfind("Dang kiem tra f0.bin ", 0) == 0) {
            held = true;
            Sleep(500); // two readers check far more than the 64 entries of the bound meanwhile
        }
    };
    // On a thread of its own, so that readers never woken end the test instead of hanging
    // it; a run that does not end keeps what it uses.
    HANDLE thread = CreateThread(nullptr, 0, RunCheck, run.get(), 0, nullptr);
    ASSERT_NE(thread, nullptr);
    const DWORD waited = WaitForSingleObject(thread, 60000);
    CloseHandle(thread);
    CloseHandle(locked);
    if (waited != WAIT_OBJECT_0) {
        run.release();
        FAIL() << "the check phase did not end";
    }
    g_OnRecorded = nullptr;
    ASSERT_TRUE(held);
    // The first changed file is not on the server, so the run stops at its download.
    EXPECT_EQ(run->Result, PatchResult::DownloadFailed);

    Lines expected;
    for (int i = 0; i < kCount; ++i) {
        expected.push_back("status:Dang kiem tra f" + std::to_string(i) + ".bin (" +
                           std::to_string(i + 1) + "/" + std::to_string(kCount) + ")");
        expected.push_back("progress:" + std::to_string(100 * (i + 1) / kCount));
    }
    Lines ops = Ops();
    ASSERT_GE(ops.size(), expected.size());
    EXPECT_EQ(Lines(ops.begin(), ops.begin() + static_cast<ptrdiff_t>(expected.size())), expected);
    Lines foundPaths;
    for (const ManifestEntry& entry : run->Found) {
        foundPaths.push_back(entry.Path);
    }
    EXPECT_EQ(foundPaths, changed);
}

TEST_F(UpdateWorkerTest, ThreeChangedFilesIncludingNewNestedFolder) {
    Put("a.txt", "old alpha");
    server_.SetBody("/launcher/manifest.txt", Line("a.txt", "alpha") +
                                                  Line("data/new/x.bmd", "xray") +
                                                  Line("c.txt", "charlie"));
    server_.SetBody("/patch/a.txt", "alpha");
    server_.SetBody("/patch/data/new/x.bmd", "xray");
    server_.SetBody("/patch/c.txt", "charlie");
    EXPECT_EQ(RunUpdateSequence(), UpdateOutcome::Success);
    EXPECT_EQ(Get("a.txt"), "alpha");
    EXPECT_EQ(Get("data\\new\\x.bmd"), "xray");
    EXPECT_EQ(Get("c.txt"), "charlie");
    EXPECT_FALSE(Exists("a.txt.part"));
    EXPECT_EQ(Ops(),
              (Lines{"status:Dang kiem tra cap nhat...", "status:Dang kiem tra a.txt (1/3)",
                     "progress:33", "status:Dang kiem tra data/new/x.bmd (2/3)", "progress:66",
                     "status:Dang kiem tra c.txt (3/3)", "progress:100", "progress:0",
                     "status:Dang tai a.txt (1/3) - 100% cua 1 KB", "progress:100", "progress:0",
                     "status:Dang tai data/new/x.bmd (2/3) - 100% cua 1 KB", "progress:100",
                     "progress:0", "status:Dang tai c.txt (3/3) - 100% cua 1 KB", "progress:100",
                     "status:Da cap nhat 3 file", "progress:100"}));
    EXPECT_EQ(Paths(), (Lines{"/launcher/manifest.txt", "/patch/a.txt", "/patch/data/new/x.bmd",
                              "/patch/c.txt"}));
}

TEST_F(UpdateWorkerTest, NotFoundOnSecondOfThreeStopsTheRun) {
    server_.SetBody("/launcher/manifest.txt",
                    Line("a.txt", "alpha") + Line("b.txt", "bravo") + Line("c.txt", "charlie"));
    server_.SetBody("/patch/a.txt", "alpha");
    server_.SetBody("/patch/b.txt", "gone", 404);
    server_.SetBody("/patch/c.txt", "charlie");
    EXPECT_EQ(RunUpdateSequence(), UpdateOutcome::DownloadFailed);
    EXPECT_EQ(Get("a.txt"), "alpha");
    EXPECT_FALSE(Exists("b.txt"));
    EXPECT_FALSE(Exists("c.txt"));
    EXPECT_EQ(Ops().back(), "status:Tai that bai: b.txt");
    EXPECT_EQ(Paths(), (Lines{"/launcher/manifest.txt", "/patch/a.txt", "/patch/b.txt"}));
}

TEST_F(UpdateWorkerTest, TruncatedBodyWritesNothing) {
    Put("a.txt", "previous");
    server_.SetBody("/launcher/manifest.txt", Line("a.txt", "the whole new content"));
    ScriptedResponse cut;
    cut.Body = "the whole new content";
    cut.CloseAfterBytes = 5;
    server_.SetResponse("/patch/a.txt", cut);
    EXPECT_EQ(RunUpdateSequence(), UpdateOutcome::DownloadFailed);
    EXPECT_EQ(Get("a.txt"), "previous");
    EXPECT_FALSE(Exists("a.txt.part"));
    EXPECT_EQ(Ops().back(), "status:Tai that bai: a.txt");
}

// Bodies that came with status 200 but are not the manifest's bytes: a stale or foreign
// file, and a chunked body whose connection closed early (read as complete under Wine).
// Each ends the run as a failed download and leaves the player's file and folder alone,
// and makes no folder for a file in one that does not exist yet.
TEST_F(UpdateWorkerTest, BodyThatDoesNotMatchTheManifestIsNotWritten) {
    std::string whole(65536, '\0');
    for (size_t i = 0; i < whole.size(); ++i) {
        whole[i] = static_cast<char>(i * 7 + i / 251);
    }
    ScriptedResponse stale;
    stale.Body = "<html>captive portal</html>";
    stale.ETag = "\"portal\""; // would make it resumable: refused, it must leave nothing
    ScriptedResponse cutChunked;
    cutChunked.Body = whole;
    cutChunked.Chunked = true;
    cutChunked.CloseAfterBytes = 40000;
    CreateDirectoryA(Path("data").c_str(), nullptr);
    for (const ScriptedResponse& answer : {stale, cutChunked}) {
        for (const std::string path : {"data/a.bin", "new/deeper/a.bin"}) {
            ClearRecordedOps();
            Put("data\\a.bin", "previous");
            server_.SetBody("/launcher/manifest.txt", Line(path, whole));
            server_.SetResponse("/patch/" + path, answer);
            EXPECT_EQ(RunUpdateSequence(), UpdateOutcome::DownloadFailed);
            EXPECT_TRUE(Get("data\\a.bin") == "previous") << "the player's file was replaced";
            EXPECT_EQ(ListFolder(Path("data")), (Lines{"a.bin"}));
            EXPECT_FALSE(Exists("new")) << "a folder was made for a file that was not written";
            const Lines ops = Ops();
            EXPECT_EQ(ops.back(), "status:Tai that bai: " + path);
            EXPECT_EQ(std::count(ops.begin(), ops.end(), "connect:1"), 0);
        }
    }
}

// A download cut at 60% keeps what arrived; the next run asks for the rest only and shows
// the percentage of the whole file, and nothing is left beside the file afterwards.
TEST_F(UpdateWorkerTest, CutDownloadIsContinuedWithOnlyTheRest) {
    const std::string whole = Pattern(1u << 20, 1);
    const std::string manifest = Line("data/big.pak", whole);
    server_.SetBody("/launcher/manifest.txt", manifest);
    ScriptedResponse answer;
    answer.Body = whole;
    answer.ETag = "\"v1\"";
    answer.CloseAfterBytes = whole.size() * 6 / 10;
    server_.SetResponse("/patch/data/big.pak", answer);
    EXPECT_EQ(RunUpdateSequence(), UpdateOutcome::DownloadFailed);
    EXPECT_EQ(Ops().back(), "status:Tai that bai: data/big.pak");
    EXPECT_FALSE(Exists("data\\big.pak"));
    const size_t kept = Get("data\\big.pak.part").size();
    EXPECT_EQ(kept, answer.CloseAfterBytes);

    ClearRecordedOps();
    server_.ClearRequests();
    answer.CloseAfterBytes = std::string::npos;
    server_.SetResponse("/patch/data/big.pak", answer);
    EXPECT_EQ(RunUpdateSequence(), UpdateOutcome::Success) << ::testing::PrintToString(Ops());
    EXPECT_TRUE(Get("data\\big.pak") == whole);
    EXPECT_EQ(ListFolder(Path("data")), (Lines{"big.pak"}));
    const std::vector<RecordedRequest> requests = server_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].Header("Range"), "bytes=" + std::to_string(kept) + "-");
    EXPECT_EQ(requests[1].Header("If-Range"), "\"v1\"");
    EXPECT_EQ(server_.BodyBytesSent(), manifest.size() + whole.size() - kept);
    const Lines ops = Ops();
    const auto first = std::find_if(ops.begin(), ops.end(), [](const std::string& op) {
        return op.rfind("status:Dang tai ", 0) == 0;
    });
    ASSERT_NE(first, ops.end());
    // The percentage counts the whole file: the first piece of the rest (at most 32 KiB)
    // brings it from 60% to at most 63%.
    const std::string prefix = "status:Dang tai data/big.pak (1/1) - ";
    ASSERT_EQ(first->rfind(prefix, 0), 0u) << *first;
    const int percent = atoi(first->c_str() + prefix.size());
    EXPECT_TRUE(percent >= 60 && percent <= 63) << *first;
    EXPECT_EQ(first->substr(first->find('%')), "% cua 1024 KB");
    EXPECT_TRUE(ContainsRun(ops, {"status:Dang tai data/big.pak (1/1) - 100% cua 1024 KB",
                                  "progress:100", "status:Da cap nhat 1 file", "progress:100"}));
}

// A partial download of one version is never joined to another: here the server keeps its
// validator across versions (of the same size), so only the manifest's CRC-32 tells them
// apart.
TEST_F(UpdateWorkerTest, PartialOfAnotherVersionIsNeverJoined) {
    const std::string versionA = Pattern(300000, 1);
    const std::string versionB = Pattern(300000, 2);
    server_.SetBody("/launcher/manifest.txt", Line("a.bin", versionA));
    ScriptedResponse answer;
    answer.Body = versionA;
    answer.ETag = "\"same-size\"";
    answer.CloseAfterBytes = 180000;
    server_.SetResponse("/patch/a.bin", answer);
    EXPECT_EQ(RunUpdateSequence(), UpdateOutcome::DownloadFailed);
    ASSERT_TRUE(Exists("a.bin.part"));

    server_.ClearRequests();
    server_.SetBody("/launcher/manifest.txt", Line("a.bin", versionB));
    answer.Body = versionB;
    answer.CloseAfterBytes = std::string::npos;
    server_.SetResponse("/patch/a.bin", answer);
    EXPECT_EQ(RunUpdateSequence(), UpdateOutcome::Success);
    EXPECT_TRUE(Get("a.bin") == versionB);
    const std::vector<RecordedRequest> requests = server_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[1].HasHeader("Range"));
    EXPECT_FALSE(Exists("a.bin.part"));
    EXPECT_FALSE(Exists("a.bin.qres"));
}

TEST_F(UpdateWorkerTest, LocalPathThatIsAFolderCannotBeWritten) {
    CreateDirectoryA(Path("maps").c_str(), nullptr);
    server_.SetBody("/launcher/manifest.txt", Line("maps", "map data"));
    server_.SetBody("/patch/maps", "map data");
    EXPECT_EQ(RunUpdateSequence(), UpdateOutcome::WriteFailed);
    EXPECT_EQ(Ops().back(), "status:Khong ghi duoc file: maps");
    EXPECT_FALSE(Exists("maps.part"));
}

TEST_F(UpdateWorkerTest, TrailingSlashUrlIsUsedAsWritten) {
    strcat(g_Launcher.Config.UpdateUrl, "/");
    server_.SetBody("//launcher/manifest.txt", Line("data/w.txt", "west"));
    server_.SetBody("//patch/data/w.txt", "west");
    EXPECT_EQ(RunUpdateSequence(), UpdateOutcome::Success);
    EXPECT_EQ(Get("data\\w.txt"), "west");
    EXPECT_EQ(Paths(), (Lines{"//launcher/manifest.txt", "//patch/data/w.txt"}));
}

TEST_F(UpdateWorkerTest, BackslashSeparatorsWork) {
    // The launcher puts the path in the URL as written; the platform's HTTP client sends
    // a backslash escaped.
    server_.SetBody("/launcher/manifest.txt", Line("maps\\m.att", "map"));
    server_.SetBody("/patch/maps%5Cm.att", "map");
    EXPECT_EQ(RunUpdateSequence(), UpdateOutcome::Success);
    EXPECT_EQ(Get("maps\\m.att"), "map");
}

TEST_F(UpdateWorkerTest, OldLauncherFileRemoved) {
    Put("Launcher.exe.old", "previous build");
    server_.SetBody("/launcher/manifest.txt", "");
    EXPECT_EQ(RunUpdateSequence(), UpdateOutcome::Success);
    EXPECT_FALSE(Exists("Launcher.exe.old"));
}

TEST_F(UpdateWorkerTest, LockedOldLauncherFileGivesUpAfterTenTries) {
    Put("Launcher.exe.old", "still running");
    HANDLE holder = CreateFileA(Path("Launcher.exe.old").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const DWORD start = GetTickCount();
    RemoveOldLauncher();
    const DWORD elapsed = GetTickCount() - start;
    CloseHandle(holder);
    EXPECT_TRUE(Exists("Launcher.exe.old"));
    EXPECT_GE(elapsed, 9u * g_UpdateTimings.OldFileRetryMs); // it waited between the tries
    RemoveOldLauncher();
    EXPECT_FALSE(Exists("Launcher.exe.old"));
}

// Signed updates. A tree served both ways, as qelt-publish --sign makes it: the manifest for
// launchers without a key, the list and its signatures for launchers with one.
using Files = std::map<std::string, std::string>;

class SignedUpdateTest : public UpdateTest {
  protected:
    void SetUp() override {
        UpdateTest::SetUp();
        ASSERT_TRUE(MakeCngTestKey(&key_));
        ASSERT_TRUE(MakeCngTestKey(&other_));
    }
    void TearDown() override {
        DestroyCngTestKey(&key_);
        DestroyCngTestKey(&other_);
        UpdateTest::TearDown();
    }

    static void UseKey(const std::string& text) {
        snprintf(g_Launcher.Config.UpdateKey, sizeof g_Launcher.Config.UpdateKey, "%s",
                 text.c_str());
    }
    static std::string KeyOf(const CngTestKey& key) { return FormatUpdateKey(key.Public); }

    static std::string ListOf(const Files& files, const std::string& package, uint64_t sequence) {
        SignedList list;
        list.Sequence = sequence;
        list.CreatedUnix = 1700000000;
        list.HasPackage = !package.empty();
        list.PackageSize = package.size();
        Sha256Of(package.data(), package.size(), list.PackageSha256);
        for (const auto& file : files) {
            SignedListEntry entry;
            entry.Path = file.first;
            entry.Size = file.second.size();
            entry.Crc = BufferChecksumOf(file.second);
            Sha256Of(file.second.data(), file.second.size(), entry.Sha256);
            list.Entries.push_back(entry);
        }
        return FormatSignedList(list);
    }

    static std::string SignatureOf(const std::string& list, const CngTestKey& key) {
        ListSignature signature;
        unsigned char digest[kSha256DigestSize];
        EXPECT_TRUE(Sha256Of(list.data(), list.size(), digest) &&
                    SignWithCngTestKey(key, digest, signature.Bytes));
        return FormatSignatureLine(signature);
    }

    // Serves files and package (none when empty) both ways, the list signed by key.
    void Serve(const Files& files, const std::string& package, uint64_t sequence,
               const CngTestKey& key) {
        std::string manifest;
        for (const auto& file : files) {
            manifest += Line(file.first, file.second);
            server_.SetBody("/patch/" + file.first, file.second);
        }
        server_.SetBody("/launcher/manifest.txt", manifest);
        const std::string list = ListOf(files, package, sequence);
        server_.SetBody("/launcher/files.txt", list);
        server_.SetBody("/launcher/files.sig", SignatureOf(list, key));
        server_.SetBody("/downloads/Qelt-Data.exe", package, package.empty() ? 404 : 200);
    }

    CngTestKey key_;
    CngTestKey other_;
};

// The same first run into an empty folder, a changed file and a new one of several buffers,
// by a launcher without UpdateKey and by one with it: the same texts in the same order and
// the same files; the one reads only the manifest, the other only the list.
TEST_F(SignedUpdateTest, SignedTreeUpdatesAsAnUnsignedOneAndKeylessLaunchersAsBefore) {
    const std::string big = Pattern((3u << 20) + 12345, 3);
    const Files files = {{"a.txt", "alpha"}, {"data/new/x.bmd", big}, {"main.exe", "game"}};
    Serve(files, ReadProgram(QELT_FAKE_EXTRACTOR_EXE), 3, key_);
    std::vector<Lines> ops;
    std::vector<Files> folders;
    const std::string first = dir_;
    for (bool keyed : {false, true}) {
        dir_ = MakeScratchDir("signed");
        UseLauncherPath(dir_, "Launcher.exe");
        Put("a.txt", "old alpha");
        UseKey(keyed ? KeyOf(key_) : "");
        ClearRecordedOps();
        server_.ClearRequests();
        EXPECT_EQ(RunUpdateSequence(), UpdateOutcome::Success);
        ops.push_back(Ops());
        folders.push_back(Folder());
        const Lines lists = keyed ? Lines{"/launcher/files.txt", "/launcher/files.sig"} : Lines{};
        const Lines manifest = keyed ? Lines{} : Lines{"/launcher/manifest.txt"};
        Lines expected = lists;
        expected.push_back("/downloads/Qelt-Data.exe");
        expected.insert(expected.end(), manifest.begin(), manifest.end());
        expected.insert(expected.end(), {"/patch/a.txt", "/patch/data/new/x.bmd"});
        EXPECT_EQ(Paths(), expected);
        RemoveTree(dir_);
    }
    dir_ = first;
    EXPECT_EQ(ops[0], ops[1]);
    EXPECT_TRUE(ContainsRun(ops[1], {"status:Da cap nhat 2 file", "progress:100"}));
    EXPECT_TRUE(folders[1]["data\\new\\x.bmd"] == big);
    EXPECT_EQ(folders[1][kUpdateSequenceName], "3\n");
    folders[1].erase(kUpdateSequenceName);
    for (Files& folder : folders) { // what the stand-in extractor notes of itself
        folder.erase("extractor-cmdline.txt");
        folder.erase("extractor-pid.txt");
    }
    EXPECT_TRUE(folders[0] == folders[1]);
}

// A signed download cut at 60% is continued with only its rest, and the SHA-256 covers the
// bytes of both runs: the rest of another file of the same size and CRC-32 is refused.
TEST_F(SignedUpdateTest, CutDownloadIsContinuedUnderItsDigest) {
    const std::string whole = Pattern((3u << 20) + 4321, 5);
    // Other bytes in the rest, the CRC-32 of the whole kept.
    for (const std::string& rest : {Forged(whole, whole.size() - 100), whole}) {
        Serve({{"main.exe", "game"}, {"big.pak", whole}}, "", 1, key_);
        UseKey(KeyOf(key_));
        ScriptedResponse answer;
        answer.Body = whole;
        answer.ETag = "\"v1\"";
        answer.CloseAfterBytes = whole.size() * 6 / 10;
        server_.SetResponse("/patch/big.pak", answer);
        EXPECT_EQ(RunUpdateSequence(), UpdateOutcome::DownloadFailed);
        ASSERT_EQ(Get("big.pak.part").size(), answer.CloseAfterBytes);

        answer.Body = whole.substr(0, answer.CloseAfterBytes) + rest.substr(answer.CloseAfterBytes);
        answer.CloseAfterBytes = std::string::npos;
        server_.SetResponse("/patch/big.pak", answer);
        ClearRecordedOps();
        server_.ClearRequests();
        const bool genuine = rest == whole;
        EXPECT_EQ(RunUpdateSequence(),
                  genuine ? UpdateOutcome::Success : UpdateOutcome::DownloadFailed);
        EXPECT_EQ(server_.Requests().back().Header("Range"),
                  "bytes=" + std::to_string(whole.size() * 6 / 10) + "-");
        EXPECT_TRUE(Get("big.pak") == (genuine ? whole : "<missing>"));
        const Lines left = genuine ? Lines{"big.pak", "main.exe", kUpdateSequenceName}
                                   : Lines{"main.exe", kUpdateSequenceName};
        EXPECT_EQ(ListFolder(dir_), left);
    }
}

// What a hostile server, a hijacked name or a plain-HTTP network could serve a launcher
// with UpdateKey: each is refused, and the client folder stays exactly as it was.
TEST_F(SignedUpdateTest, EachForgeryIsRefusedAndLeavesTheFolderAsItWas) {
    const std::string package = ReadProgram(QELT_FAKE_EXTRACTOR_EXE);
    const Files current = {
        {"Launcher.exe", "launcher v1"}, {"a.txt", "old alpha"}, {"main.exe", "game"}};
    Files changed = current;
    changed["a.txt"] = "alpha, the new one";
    Files newLauncher = current;
    newLauncher["Launcher.exe"] = "launcher v2";
    const char* kRefusedList = "status:Cap nhat khong co chu ky hop le - dung file hien tai";
    const std::string big(kSignedListMaxBytes + 1, 'x');
    struct Forgery {
        const char* Name;
        std::function<void()> Arrange; // after the genuine tree of changed files is served
        UpdateOutcome Outcome;
        Lines LastOps;
        bool Fetches; // anything below /patch/ or /downloads/ is asked for
    };
    const Forgery forgeries[] = {
        {"list edited after signing",
         [&] {
             std::string list = ListOf(changed, package, 7);
             char& digit = list[list.find(" a.txt\n") - 1]; // a.txt's SHA-256, last digit
             digit = digit == '0' ? '1' : '0';
             server_.SetBody("/launcher/files.txt", list);
         },
         UpdateOutcome::UnsignedUpdate,
         {kRefusedList, "connect:1"},
         false},
        {"list signed with another key",
         [&] { Serve(changed, package, 7, other_); },
         UpdateOutcome::UnsignedUpdate,
         {kRefusedList, "connect:1"},
         false},
        {"an older list after a newer one",
         [&] { Serve(changed, package, 6, key_); },
         UpdateOutcome::UnsignedUpdate,
         {kRefusedList, "connect:1"},
         false},
        {"unsigned tree",
         [&] {
             server_.SetBody("/launcher/files.txt", "", 404);
             server_.SetBody("/launcher/files.sig", "", 404);
         },
         UpdateOutcome::UnsignedUpdate,
         {kRefusedList, "connect:1"},
         false},
        {"list beyond its bound",
         [&] { server_.SetBody("/launcher/files.txt", big); },
         UpdateOutcome::ManifestUnavailable,
         {"status:Khong ket noi duoc update server - dung file hien tai", "connect:1"},
         false},
        {"UpdateKey that is no key",
         [&] { UseKey(KeyOf(key_).substr(1)); },
         UpdateOutcome::UnsignedUpdate,
         {kRefusedList, "connect:1"},
         false},
        {"damaged sequence record",
         [&] { Put(kUpdateSequenceName, "7"); },
         UpdateOutcome::UnsignedUpdate,
         {kRefusedList, "connect:1"},
         false},
        {"patch body with the signed size and CRC-32",
         [&] { server_.SetBody("/patch/a.txt", Forged(changed.at("a.txt"))); },
         UpdateOutcome::DownloadFailed,
         {"status:Tai that bai: a.txt"},
         true},
        {"patch body longer than signed, without a length",
         [&] {
             ScriptedResponse longer;
             longer.Body = changed.at("a.txt") + std::string(40u << 20, 'x');
             longer.Chunked = true;
             server_.SetResponse("/patch/a.txt", longer);
         },
         UpdateOutcome::DownloadFailed,
         {"status:Tai that bai: a.txt"},
         true},
        {"launcher build with the signed size and CRC-32",
         [&] {
             Serve(newLauncher, package, 7, key_);
             server_.SetBody("/patch/Launcher.exe", Forged(newLauncher.at("Launcher.exe")));
         },
         UpdateOutcome::Success,
         {"status:Ban launcher tren server bi loi - bo qua cap nhat launcher",
          "status:Client da moi nhat", "progress:100"},
         true},
        {"first-run package of the signed size",
         [&] {
             DeleteFileA(Path("main.exe").c_str());
             server_.SetBody("/downloads/Qelt-Data.exe", Forged(package));
         },
         UpdateOutcome::GameDataFailed,
         {"status:Khong tai duoc du lieu game - kiem tra UpdateUrl trong Launcher.ini"},
         true},
    };
    for (const Forgery& forgery : forgeries) {
        SCOPED_TRACE(forgery.Name);
        for (const auto& file : current) {
            Put(file.first, file.second);
        }
        Put(kUpdateSequenceName, "7\n");
        UseKey(KeyOf(key_));
        Serve(changed, package, 7, key_);
        forgery.Arrange();
        const Files before = Folder();
        ClearRecordedOps();
        server_.ClearRequests();
        EXPECT_EQ(RunUpdateSequence(), forgery.Outcome);
        EXPECT_TRUE(Folder() == before) << ::testing::PrintToString(Folder());
        const Lines ops = Ops();
        ASSERT_GE(ops.size(), forgery.LastOps.size());
        EXPECT_EQ(Lines(ops.end() - static_cast<ptrdiff_t>(forgery.LastOps.size()), ops.end()),
                  forgery.LastOps);
        EXPECT_EQ(std::count(ops.begin(), ops.end(), "close"), 0); // no restart
        bool fetched = false;
        for (const std::string& path : Paths()) {
            fetched = fetched || path.rfind("/patch/", 0) == 0 || path.rfind("/downloads/", 0) == 0;
            EXPECT_NE(path, "/launcher/manifest.txt");
        }
        EXPECT_EQ(fetched, forgery.Fetches);
        // Not even a body that goes on and on is taken in beyond its signed size (what the
        // sockets hold meanwhile aside).
        EXPECT_LT(server_.BodyBytesSent(), 16u << 20);
    }
}

TEST_F(UpdateWorkerTest, ManifestEntriesNamingTheLaunchersStateFilesAreLeftOut) {
    Put("qelt-check.dat", "the launcher's own");
    server_.SetBody("/launcher/manifest.txt", Line("qelt-check.dat", "server bytes") +
                                                  Line("./QELT-SEQUENCE.DAT", "server bytes") +
                                                  Line("a.txt", "alpha"));
    server_.SetBody("/patch/a.txt", "alpha");
    EXPECT_EQ(RunUpdateSequence(), UpdateOutcome::Success);
    EXPECT_EQ(Get("qelt-check.dat"), "the launcher's own");
    EXPECT_FALSE(Exists("qelt-sequence.dat"));
    const Lines ops = Ops();
    EXPECT_TRUE(ContainsRun(ops, {"status:Dang kiem tra a.txt (1/1)", "progress:100"}));
    EXPECT_EQ(Paths(), (Lines{"/launcher/manifest.txt", "/patch/a.txt"}));
}

// The quick check. A file held open without sharing cannot be read: a check that opens it
// finds it unreadable and asks the server for it, so the request log shows every open.
class QuickCheckTest : public UpdateTest {
  protected:
    void SetUp() override {
        UpdateTest::SetUp();
        g_Launcher.Config.QuickCheck = true;
        g_UpdateTimings.RacyWindowMs = 0; // files written just before the record count
    }
    void TearDown() override {
        Unlock();
        UpdateTest::TearDown();
    }
    void Lock(const std::vector<std::string>& files) {
        for (const std::string& file : files) {
            HANDLE held = CreateFileA(Path(file).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE) << file;
            locks_.push_back(held);
        }
    }
    void Unlock() {
        for (HANDLE held : locks_) {
            CloseHandle(held);
        }
        locks_.clear();
    }
    Lines Run(UpdateOutcome expected) {
        ClearRecordedOps();
        server_.ClearRequests();
        EXPECT_EQ(RunUpdateSequence(), expected);
        return Paths();
    }
    // New content of the same size, with the old write time put back: a change the
    // folder's listing cannot see.
    void ChangeBehindStamp(const std::string& file, const std::string& content) {
        FILETIME written;
        HANDLE handle = CreateFileA(Path(file).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        DWORD done = 0;
        EXPECT_TRUE(GetFileTime(handle, nullptr, nullptr, &written));
        EXPECT_TRUE(
            WriteFile(handle, content.data(), static_cast<DWORD>(content.size()), &done, nullptr));
        EXPECT_TRUE(SetFileTime(handle, nullptr, nullptr, &written));
        CloseHandle(handle);
    }
    CheckRecord Record() const {
        std::string bytes = Get(kQuickCheckRecordName);
        CheckRecord record;
        EXPECT_TRUE(ParseCheckRecord(bytes.data(), bytes.size(), &record));
        return record;
    }
    void PutRecord(const CheckRecord& record) {
        ByteBuffer bytes;
        ASSERT_TRUE(SerialiseCheckRecord(record, &bytes));
        Put(kQuickCheckRecordName, std::string(bytes.begin(), bytes.end()));
    }

    std::vector<HANDLE> locks_;
};

TEST_F(QuickCheckTest, OpensOnlyWhatChangedSinceItWasVerified) {
    const Lines files = {"a.bin", "data/b.bin", "data/c.bin", "data/d.bin", "e.bin"};
    std::string manifest;
    for (const std::string& file : files) {
        manifest += Line(file, "content of " + file);
        server_.SetBody("/patch/" + file, "content of " + file);
    }
    server_.SetBody("/launcher/manifest.txt", manifest);
    Put("A.BIN", "content of a.bin");                  // current, and named in other letter case
    EXPECT_EQ(Run(UpdateOutcome::Success).size(), 5u); // the manifest and the other files

    // Every file was verified or written by the last run: none is opened now.
    const Lines local = {"a.bin", "data\\b.bin", "data\\c.bin", "data\\d.bin", "e.bin"};
    Lock(local);
    EXPECT_EQ(Run(UpdateOutcome::Success), (Lines{"/launcher/manifest.txt"}));
    Lines expected;
    for (size_t i = 0; i < files.size(); ++i) {
        expected.push_back("status:Dang kiem tra " + files[i] + " (" + std::to_string(i + 1) +
                           "/5)");
        expected.push_back("progress:" + std::to_string(20 * (i + 1)));
    }
    expected.push_back("status:Client da moi nhat");
    expected.push_back("progress:100");
    EXPECT_TRUE(ContainsRun(Ops(), expected));
    Unlock();

    Put("data\\b.bin", "CONTENT OF data/b.bin"); // rewritten, same size
    DeleteFileA(Path("data\\c.bin").c_str());
    Put("data\\d.bin", "content of data/d.bin, longer");
    ChangeBehindStamp("e.bin", "CONTENT OF e.bin");
    manifest.replace(0, manifest.find('\n') + 1, Line("a.bin", "new a")); // a new version
    server_.SetBody("/launcher/manifest.txt", manifest);
    server_.SetBody("/patch/a.bin", "new a");
    EXPECT_EQ(Run(UpdateOutcome::Success),
              (Lines{"/launcher/manifest.txt", "/patch/a.bin", "/patch/data/b.bin",
                     "/patch/data/c.bin", "/patch/data/d.bin"}));
    EXPECT_EQ(Get("a.bin"), "new a");
    EXPECT_EQ(Get("data\\b.bin"), "content of data/b.bin");
    EXPECT_EQ(Get("e.bin"), "CONTENT OF e.bin"); // the trade: found at the next full check

    // What the downloads wrote is in the record too.
    Lock(local);
    EXPECT_EQ(Run(UpdateOutcome::Success), (Lines{"/launcher/manifest.txt"}));
    Unlock();

    // Without the setting every file is read as before, and the record is left alone.
    const std::string record = Get(kQuickCheckRecordName);
    g_Launcher.Config.QuickCheck = false;
    EXPECT_EQ(Run(UpdateOutcome::Success), (Lines{"/launcher/manifest.txt", "/patch/e.bin"}));
    EXPECT_EQ(Get("e.bin"), "content of e.bin");
    EXPECT_EQ(Get(kQuickCheckRecordName), record);
}

// Each way a record cannot be trusted makes the run read every file, here the one held
// open; a record that can be trusted does not.
TEST_F(QuickCheckTest, RecordThatCannotBeTrustedMeansReadingEveryFile) {
    Put("a.txt", "alpha");
    Put("b.txt", "bravo");
    server_.SetBody("/launcher/manifest.txt", Line("a.txt", "alpha") + Line("b.txt", "bravo"));
    server_.SetBody("/patch/a.txt", "alpha");
    enum Spoil { kTrusted, kMissing, kDamaged, kOtherBuild, kWeekOld, kWrittenJustBefore };
    const char* const names[] = {"trusted",
                                 "missing",
                                 "damaged",
                                 "another build",
                                 "a week since the last full check",
                                 "the file written just before the record"};
    for (Spoil spoil : {kTrusted, kMissing, kDamaged, kOtherBuild, kWeekOld, kWrittenJustBefore}) {
        g_UpdateTimings.RacyWindowMs = 0;
        DeleteFileA(Path(kQuickCheckRecordName).c_str());
        EXPECT_EQ(Run(UpdateOutcome::Success), (Lines{"/launcher/manifest.txt"})) << names[spoil];
        CheckRecord record = Record();
        std::string bytes = Get(kQuickCheckRecordName);
        switch (spoil) {
        case kTrusted: break;
        case kMissing: DeleteFileA(Path(kQuickCheckRecordName).c_str()); break;
        case kDamaged:
            bytes[bytes.size() / 2] ^= 1;
            Put(kQuickCheckRecordName, bytes);
            break;
        case kOtherBuild:
            record.Build.Words[1] += 1;
            PutRecord(record);
            break;
        case kWeekOld:
            record.FullCheckTime -= kFullCheckIntervalTicks;
            PutRecord(record);
            break;
        case kWrittenJustBefore: g_UpdateTimings.RacyWindowMs = 600000; break;
        }
        Lock({"a.txt"});
        ClearRecordedOps();
        server_.ClearRequests();
        RunUpdateSequence(); // writing a.txt fails or not, as the platform decides
        Unlock();
        const Lines paths = Paths();
        EXPECT_EQ(paths.size() == 2 && paths[1] == "/patch/a.txt", spoil != kTrusted)
            << names[spoil];
    }
}

} // namespace
