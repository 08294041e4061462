// Signed file list, signature file, update key and sequence record: what each parser takes
// and refuses, and that the writers give what the parsers read back.
#include "update/signed_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const char kDir[] = "C:\\Games\\Qelt";
const std::string kSha(64, 'a'); // a digest text: 32 bytes of 0xAA
const std::string kHead = "qelt-files 1\nsequence 7\ncreated 2024-02-29T23:59:59Z\n";

std::string FileLine(const std::string& path, const std::string& size = "5") {
    return "file " + size + " 0A1B2C3D " + kSha + " " + path + "\n";
}

bool Parse(const std::string& body, SignedList* list, const char* dir = kDir) {
    return ParseSignedList(body.data(), body.size(), dir, list);
}

TEST(SignedList, ReadsEveryField) {
    const std::string body =
        kHead + "package 123456789012 " + std::string(63, '0') + "F\n" + "file 0 FFFFFFFF " +
        "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad Data/a b.txt\n" +
        FileLine("main.exe", "18446744073709551615");
    SignedList list;
    ASSERT_TRUE(Parse(body, &list));
    EXPECT_EQ(list.Sequence, 7u);
    EXPECT_EQ(list.CreatedUnix, 1709251199u); // date -u -d 2024-02-29T23:59:59Z +%s
    ASSERT_TRUE(list.HasPackage);
    EXPECT_EQ(list.PackageSize, 123456789012u);
    EXPECT_EQ(list.PackageSha256[0], 0);
    EXPECT_EQ(list.PackageSha256[31], 0x0F);
    ASSERT_EQ(list.Entries.size(), 2u);
    EXPECT_EQ(list.Entries[0].Path, "Data/a b.txt");
    EXPECT_EQ(list.Entries[0].Size, 0u);
    EXPECT_EQ(list.Entries[0].Crc, 0xFFFFFFFFu);
    EXPECT_EQ(list.Entries[0].Sha256[0], 0xBA);
    EXPECT_EQ(list.Entries[0].Sha256[31], 0xAD);
    EXPECT_EQ(list.Entries[1].Path, "main.exe");
    EXPECT_EQ(list.Entries[1].Size, UINT64_MAX);
    EXPECT_EQ(list.Entries[1].Crc, 0x0A1B2C3Du);

    SignedList empty;
    ASSERT_TRUE(Parse(kHead, &empty)); // a client of no files is still a list
    EXPECT_FALSE(empty.HasPackage);
    EXPECT_TRUE(empty.Entries.empty());
}

struct RefusedCase {
    const char* why;
    std::string body;
};

// Every case is the well-formed list of ReadsEveryField's shape with one thing broken.
TEST(SignedList, OneBrokenLineRefusesTheWholeList) {
    const std::string a = FileLine("a.txt");
    const std::string b = FileLine("b.txt");
    const std::string withoutLastLf = kHead + a.substr(0, a.size() - 1);
    const RefusedCase cases[] = {
        {"no final LF", withoutLastLf},
        {"CR LF", "qelt-files 1\r\nsequence 7\r\ncreated 2024-02-29T23:59:59Z\r\n"},
        {"empty line", kHead + "\n" + a},
        {"other format version", "qelt-files 2\nsequence 7\ncreated 2024-02-29T23:59:59Z\n"},
        {"no sequence", "qelt-files 1\ncreated 2024-02-29T23:59:59Z\n" + a},
        {"sequence with a leading zero",
         "qelt-files 1\nsequence 07\ncreated 2024-01-01T00:00:00Z\n"},
        {"sequence past 2^64-1",
         "qelt-files 1\nsequence 18446744073709551616\ncreated 2024-01-01T00:00:00Z\n"},
        {"negative sequence", "qelt-files 1\nsequence -1\ncreated 2024-01-01T00:00:00Z\n"},
        {"no leap day in 2023", "qelt-files 1\nsequence 7\ncreated 2023-02-29T00:00:00Z\n"},
        {"no leap day in 2100", "qelt-files 1\nsequence 7\ncreated 2100-02-29T00:00:00Z\n"},
        {"before 1970", "qelt-files 1\nsequence 7\ncreated 1969-12-31T23:59:59Z\n"},
        {"hour 24", "qelt-files 1\nsequence 7\ncreated 2024-01-01T24:00:00Z\n"},
        {"time without Z", "qelt-files 1\nsequence 7\ncreated 2024-01-01T00:00:00+\n"},
        {"two spaces", kHead + "file 5  0A1B2C3D " + kSha + " a.txt\n"},
        {"size with a sign", kHead + FileLine("a.txt", "+5")},
        {"size empty", kHead + "file  0A1B2C3D " + kSha + " a.txt\n"},
        {"CRC of 7 digits", kHead + "file 5 A1B2C3D " + kSha + " a.txt\n"},
        {"digest of 63 digits", kHead + "file 5 0A1B2C3D " + kSha.substr(1) + " a.txt\n"},
        {"digest not hexadecimal", kHead + "file 5 0A1B2C3D " + kSha.substr(1) + "g a.txt\n"},
        {"no path", kHead + "file 5 0A1B2C3D " + kSha + "\n"},
        {"empty path", kHead + FileLine("")},
        {"rooted path", kHead + FileLine("/a.txt")},
        {"backslash", kHead + FileLine("data\\a.txt")},
        {"empty folder name", kHead + FileLine("data//a.txt")},
        {"trailing slash", kHead + FileLine("data/")},
        {"dot folder", kHead + FileLine("./a.txt")},
        {"name ending in a dot", kHead + FileLine("data./a.txt")},
        {"name ending in a space", kHead + FileLine("a.txt ")},
        {"drive letter", kHead + FileLine("c:x")},
        {"two dots", kHead + FileLine("a..b")},
        {"201-byte path", kHead + FileLine(std::string(201, 'p'))},
        {"TAB in the path", kHead + FileLine("a\tb")},
        {"DEL in the path", kHead + FileLine("a\x7f"
                                             "b")},
        {"the sequence record", kHead + FileLine("qelt-sequence.dat")},
        {"the check record in capitals", kHead + FileLine("QELT-CHECK.DAT")},
        {"the sequence record with a dot Windows drops", kHead + FileLine("qelt-sequence.dat.")},
        {"paths out of order", kHead + b + a},
        {"a path twice", kHead + a + a},
        {"package after a file", kHead + a + "package 5 " + kSha + "\n"},
        {"two packages", kHead + "package 5 " + kSha + "\npackage 5 " + kSha + "\n"},
        {"package without digest", kHead + "package 5\n"},
        {"unknown line", kHead + a + "comment hello\n"},
        {"keyword without space", kHead + "file\n"},
    };
    for (const RefusedCase& c : cases) {
        SignedList list;
        list.Sequence = 99;
        EXPECT_FALSE(Parse(c.body, &list)) << c.why;
        EXPECT_EQ(list.Sequence, 99u) << c.why << ": a refused list changed the result";
    }
    SignedList list;
    EXPECT_TRUE(Parse(kHead + a + b, &list)) << "the base of the cases above must be accepted";
}

TEST(SignedList, FileCountBound) {
    std::string body = kHead;
    char path[16];
    for (size_t i = 0; i < kSignedListMaxFiles; ++i) {
        snprintf(path, sizeof path, "f%07zu", i);
        body += FileLine(path);
    }
    SignedList list;
    ASSERT_TRUE(Parse(body, &list));
    EXPECT_EQ(list.Entries.size(), kSignedListMaxFiles);
    body += FileLine("g");
    EXPECT_FALSE(Parse(body, &list));
}

TEST(SignedList, PathTooLongForTheFolderIsLeftOutNotRefused) {
    // The manifest's rule: folder + '\' + path + ".part" + NUL must fit in 260 bytes.
    const std::string dir52(52, 'd');
    const std::string dir53(53, 'd');
    const std::string body = kHead + FileLine("a") + FileLine(std::string(200, 'p'));
    SignedList list;
    ASSERT_TRUE(Parse(body, &list, dir52.c_str()));
    EXPECT_EQ(list.Entries.size(), 2u);
    ASSERT_TRUE(Parse(body, &list, dir53.c_str()));
    ASSERT_EQ(list.Entries.size(), 1u);
    EXPECT_EQ(list.Entries[0].Path, "a");
}

TEST(SignedList, WriterGivesWhatTheParserReads) {
    SignedList list;
    list.Sequence = UINT64_MAX;
    list.HasPackage = true;
    list.PackageSize = 42;
    for (size_t i = 0; i < kSha256Size; ++i) {
        list.PackageSha256[i] = static_cast<unsigned char>(i * 7);
    }
    // Given out of order, with bytes above 0x7F (code-page names sort after ASCII).
    const char* paths[] = {"z.txt", "Data/\xe9t\xe9.bmd", "a b/c", "Data/A.bmd"};
    uint32_t crc = 1;
    for (const char* path : paths) {
        SignedListEntry entry;
        entry.Path = path;
        entry.Size = crc * 1000;
        entry.Crc = crc *= 0x9E3779B1u;
        memset(entry.Sha256, static_cast<int>(crc & 0xFF), kSha256Size);
        list.Entries.push_back(entry);
    }
    // Leap days and the last second the format can hold, against date -u +%s.
    for (uint64_t created : {0ull, 951825600ull, 1709251199ull, 4107542400ull, 253402300799ull}) {
        list.CreatedUnix = created;
        const std::string text = FormatSignedList(list);
        SignedList back;
        ASSERT_TRUE(Parse(text, &back)) << text;
        EXPECT_EQ(back.CreatedUnix, created) << text.substr(0, 80);
        EXPECT_EQ(back.Sequence, UINT64_MAX);
        EXPECT_EQ(back.PackageSize, 42u);
        EXPECT_EQ(memcmp(back.PackageSha256, list.PackageSha256, kSha256Size), 0);
        ASSERT_EQ(back.Entries.size(), list.Entries.size());
        const char* sorted[] = {"Data/A.bmd", "Data/\xe9t\xe9.bmd", "a b/c", "z.txt"};
        for (size_t i = 0; i < back.Entries.size(); ++i) {
            EXPECT_EQ(back.Entries[i].Path, sorted[i]);
            const SignedListEntry* original = nullptr;
            for (const SignedListEntry& e : list.Entries) {
                original = e.Path == sorted[i] ? &e : original;
            }
            ASSERT_NE(original, nullptr);
            EXPECT_EQ(back.Entries[i].Size, original->Size);
            EXPECT_EQ(back.Entries[i].Crc, original->Crc);
            EXPECT_EQ(memcmp(back.Entries[i].Sha256, original->Sha256, kSha256Size), 0);
        }
    }
    EXPECT_EQ(FormatSignedList(SignedList{}),
              "qelt-files 1\nsequence 0\ncreated 1970-01-01T00:00:00Z\n");
}

std::string SignatureLine(char digit, size_t digits = 128) {
    return "ecdsa-p256 " + std::string(digits, digit) + "\n";
}

TEST(SignatureFile, TakesEveryP256LinePassesOverOtherAlgorithms) {
    const std::string body = SignatureLine('1') + "ed25519 " + std::string(128, '9') + "\n" +
                             "ecdsa-p256 " + std::string(126, 'f') + "Ab\n";
    std::vector<ListSignature> signatures;
    ASSERT_TRUE(ParseSignatures(body.data(), body.size(), &signatures));
    ASSERT_EQ(signatures.size(), 2u);
    EXPECT_EQ(signatures[0].Bytes[0], 0x11);
    EXPECT_EQ(signatures[0].Bytes[63], 0x11);
    EXPECT_EQ(signatures[1].Bytes[62], 0xFF);
    EXPECT_EQ(signatures[1].Bytes[63], 0xAB);
    EXPECT_EQ(FormatSignatureLine(signatures[0]), SignatureLine('1'));

    const RefusedCase refused[] = {
        {"empty", ""},
        {"only another algorithm", "ed25519 abcd\n"},
        {"127 digits", SignatureLine('1', 127)},
        {"129 digits", SignatureLine('1', 129)},
        {"not hexadecimal", "ecdsa-p256 " + std::string(127, '1') + "g\n"},
        {"no final LF", SignatureLine('1').substr(0, 139)},
        {"CR LF", "ecdsa-p256 " + std::string(128, '1') + "\r\n"},
        {"two spaces", "ecdsa-p256  " + std::string(128, '1') + "\n"},
        {"algorithm in capitals", "ECDSA-P256 " + std::string(128, '1') + "\n"},
        {"nine lines", std::string() + SignatureLine('1') + SignatureLine('2') +
                           SignatureLine('3') + SignatureLine('4') + SignatureLine('5') +
                           SignatureLine('6') + SignatureLine('7') + SignatureLine('8') +
                           SignatureLine('9')},
        {"a line without text", SignatureLine('1') + "ed25519\n"},
    };
    for (const RefusedCase& c : refused) {
        std::vector<ListSignature> kept(1);
        EXPECT_FALSE(ParseSignatures(c.body.data(), c.body.size(), &kept)) << c.why;
        EXPECT_EQ(kept.size(), 1u) << c.why;
    }
}

TEST(UpdateKey, ExactlyOneHundredTwentyEightHexDigits) {
    unsigned char key[kUpdateKeySize];
    const std::string text = std::string(64, '0') + std::string(62, 'F') + "a9";
    ASSERT_TRUE(ParseUpdateKey(text.c_str(), key));
    EXPECT_EQ(key[0], 0);
    EXPECT_EQ(key[32], 0xFF);
    EXPECT_EQ(key[63], 0xA9);
    EXPECT_EQ(FormatUpdateKey(key), std::string(64, '0') + std::string(62, 'f') + "a9");
    for (const std::string& bad : {text.substr(1), text + "0", text.substr(1) + "g", text + " ",
                                   " " + text.substr(1), std::string()}) {
        EXPECT_FALSE(ParseUpdateKey(bad.c_str(), key)) << bad;
    }
}

TEST(SequenceRecord, DecimalAndLineFeed) {
    uint64_t sequence = 0;
    for (uint64_t value : {0ull, 1ull, 18446744073709551615ull}) {
        const std::string text = FormatSequenceRecord(value);
        ASSERT_TRUE(ParseSequenceRecord(text.data(), text.size(), &sequence)) << text;
        EXPECT_EQ(sequence, value);
    }
    for (const char* badText :
         {"", "1", "\n", "01\n", "1\n\n", " 1\n", "1\r\n", "18446744073709551616\n", "-1\n"}) {
        const std::string bad = badText;
        sequence = 5;
        EXPECT_FALSE(ParseSequenceRecord(bad.data(), bad.size(), &sequence)) << bad;
        EXPECT_EQ(sequence, 5u);
    }
}

} // namespace
