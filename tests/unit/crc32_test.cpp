// CRC-32: check values and table entries, every path against the byte-table reference
// (all lengths and offsets, large inputs, piecewise feeding, data against an inaccessible
// page) and the choice of path. Built natively and for Windows (run under Wine).
#include "crc32/crc32.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#ifdef QELT_TEST_WITH_ZLIB
#include <zlib.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kStart = 0xFFFFFFFFu;

std::vector<Crc32Path> SupportedPaths() {
    std::vector<Crc32Path> paths;
    for (int i = 0; i < kCrc32PathCount; ++i) {
        if (Crc32PathSupported(static_cast<Crc32Path>(i))) {
            paths.push_back(static_cast<Crc32Path>(i));
        }
    }
    return paths;
}

std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed) {
    std::vector<uint8_t> bytes(count);
    std::mt19937 random(seed);
    for (auto& b : bytes) {
        b = static_cast<uint8_t>(random());
    }
    return bytes;
}

uint32_t Reference(uint32_t crc, const void* data, size_t length) {
    return Crc32UpdateWith(Crc32Path::ByteTable, crc, data, length);
}

class Crc32Test : public ::testing::Test {
  protected:
    void SetUp() override { BuildCrc32Table(); }
    void TearDown() override { SelectCrc32Path(FastestCrc32Path()); }
};

TEST_F(Crc32Test, TableEntriesMatchThePolynomial) {
    EXPECT_EQ(Crc32Table[0], 0x00000000u);
    EXPECT_EQ(Crc32Table[1], 0x77073096u);
    EXPECT_EQ(Crc32Table[128], 0xEDB88320u);
    EXPECT_EQ(Crc32Table[255], 0x2D02EF8Du);
#ifdef QELT_TEST_WITH_ZLIB
    const z_crc_t* zlibTable = get_crc_table();
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(Crc32Table[i], zlibTable[i]) << "entry " << i;
    }
#endif
}

TEST_F(Crc32Test, CheckValuesOnEveryPath) {
    for (Crc32Path path : SupportedPaths()) {
        SCOPED_TRACE(Crc32PathName(path));
        EXPECT_EQ(Crc32UpdateWith(path, kStart, "123456789", 9) ^ kStart, 0xCBF43926u);
        EXPECT_EQ(Crc32UpdateWith(path, kStart, "abc", 3) ^ kStart, 0x352441C2u);
        EXPECT_EQ(Crc32UpdateWith(path, kStart, "", 0) ^ kStart, 0u);
        // The same through the dispatched update that BufferChecksum and FileChecksum use.
        ASSERT_TRUE(SelectCrc32Path(path));
        EXPECT_EQ(SelectedCrc32Path(), path);
        EXPECT_EQ(BufferChecksum("123456789", 9), 0xCBF43926u);
        EXPECT_EQ(BufferChecksum("abc", 3), 0x352441C2u);
        EXPECT_EQ(BufferChecksum("", 0), 0u);
        EXPECT_EQ(BufferChecksum(nullptr, 0), 0u);
    }
}

TEST_F(Crc32Test, EveryPathMatchesTheByteTableAtEveryLengthAndOffset) {
    constexpr size_t kMaxLength = 1100;
    constexpr size_t kOffsets = 64;
    const std::vector<uint8_t> data = RandomBytes(kMaxLength + kOffsets, 7);
    for (Crc32Path path : SupportedPaths()) {
        if (path == Crc32Path::ByteTable) {
            continue;
        }
        for (size_t offset = 0; offset < kOffsets; ++offset) {
            for (size_t length = 0; length <= kMaxLength; ++length) {
                // Vary the incoming register too: it is folded into the first bytes.
                const uint32_t start = kStart ^ static_cast<uint32_t>(length * 0x9E3779B9u);
                const uint8_t* p = data.data() + offset;
                const uint32_t expected = Reference(start, p, length);
                const uint32_t actual = Crc32UpdateWith(path, start, p, length);
                if (actual != expected) {
                    FAIL() << Crc32PathName(path) << " at offset " << offset << ", length "
                           << length << ": " << std::hex << actual << " instead of " << expected;
                }
            }
        }
    }
}

TEST_F(Crc32Test, EveryPathMatchesTheByteTableOnLargeInputs) {
    const std::vector<uint8_t> data = RandomBytes(3 * 1024 * 1024 + 300, 11);
    const size_t cases[][2] = {
        {0, 65536}, {5, 65536 + 5}, {3, 1024 * 1024 + 13}, {1, 3 * 1024 * 1024 + 255}};
    for (const auto& c : cases) {
        const uint8_t* p = data.data() + c[0];
        const uint32_t expected = Reference(kStart, p, c[1]);
        for (Crc32Path path : SupportedPaths()) {
            EXPECT_EQ(Crc32UpdateWith(path, kStart, p, c[1]), expected)
                << Crc32PathName(path) << ", offset " << c[0] << ", length " << c[1];
        }
    }
#ifdef QELT_TEST_WITH_ZLIB
    // An outside reference for the reference itself.
    const uLong zlibValue = crc32(0L, data.data(), static_cast<uInt>(data.size()));
    EXPECT_EQ(Reference(kStart, data.data(), data.size()) ^ kStart, zlibValue);
#endif
}

// The register carried between calls does not depend on how the data was cut, nor on
// which path computed each piece.
TEST_F(Crc32Test, PiecesFedInAnyCutsAndPathsGiveTheWholeValue) {
    const std::vector<uint8_t> data = RandomBytes(300000, 13);
    const uint32_t expected = Reference(kStart, data.data(), data.size());
    const std::vector<Crc32Path> paths = SupportedPaths();
    std::mt19937 random(17);
    for (int round = 0; round <= static_cast<int>(paths.size()); ++round) {
        const bool mixed = round == static_cast<int>(paths.size());
        uint32_t crc = kStart;
        size_t done = 0;
        while (done < data.size()) {
            // Mostly short pieces, some around the folding thresholds, a few large ones.
            const uint32_t kind = random() % 8;
            size_t piece = kind < 4 ? random() % 20 : kind < 7 ? random() % 600 : random() % 70000;
            piece = std::min(piece, data.size() - done);
            const Crc32Path path = mixed ? paths[random() % paths.size()] : paths[round];
            crc = Crc32UpdateWith(path, crc, data.data() + done, piece);
            done += piece;
        }
        EXPECT_EQ(crc, expected) << (mixed ? "mixed paths" : Crc32PathName(paths[round]));
    }
}

// Three pages, the outer two inaccessible: a read before the start or past the end of data
// placed against them ends the test program.
class GuardedPage {
  public:
    GuardedPage() {
#ifdef _WIN32
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        pageSize_ = info.dwPageSize;
        base_ = static_cast<uint8_t*>(
            VirtualAlloc(nullptr, 3 * pageSize_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        ok_ = base_ != nullptr && VirtualProtect(base_, pageSize_, PAGE_NOACCESS, &old) &&
              VirtualProtect(base_ + 2 * pageSize_, pageSize_, PAGE_NOACCESS, &old);
#else
        pageSize_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        void* mapped = mmap(nullptr, 3 * pageSize_, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        base_ = mapped == MAP_FAILED ? nullptr : static_cast<uint8_t*>(mapped);
        ok_ = base_ != nullptr && mprotect(base_, pageSize_, PROT_NONE) == 0 &&
              mprotect(base_ + 2 * pageSize_, pageSize_, PROT_NONE) == 0;
#endif
    }
    ~GuardedPage() {
        if (base_ != nullptr) {
#ifdef _WIN32
            VirtualFree(base_, 0, MEM_RELEASE);
#else
            munmap(base_, 3 * pageSize_);
#endif
        }
    }
    GuardedPage(const GuardedPage&) = delete;
    GuardedPage& operator=(const GuardedPage&) = delete;

    bool ok() const {
        return ok_;
    }
    size_t size() const {
        return pageSize_;
    }
    uint8_t* begin() const {
        return base_ + pageSize_;
    }
    uint8_t* end() const {
        return base_ + 2 * pageSize_;
    }

  private:
    uint8_t* base_ = nullptr;
    size_t pageSize_ = 0;
    bool ok_ = false;
};

TEST_F(Crc32Test, NoPathReadsOutsideTheData) {
    GuardedPage page;
    ASSERT_TRUE(page.ok());
    const std::vector<uint8_t> random = RandomBytes(page.size(), 19);
    memcpy(page.begin(), random.data(), page.size());
    std::vector<size_t> lengths;
    for (size_t length = 0; length <= 300; ++length) {
        lengths.push_back(length);
    }
    lengths.push_back(page.size() - 1);
    lengths.push_back(page.size());
    for (Crc32Path path : SupportedPaths()) {
        for (size_t length : lengths) {
            const uint8_t* atEnd = page.end() - length;
            ASSERT_EQ(Crc32UpdateWith(path, kStart, atEnd, length),
                      Reference(kStart, atEnd, length))
                << Crc32PathName(path) << ", " << length << " bytes ending at the page end";
            const uint8_t* atStart = page.begin();
            ASSERT_EQ(Crc32UpdateWith(path, kStart, atStart, length),
                      Reference(kStart, atStart, length))
                << Crc32PathName(path) << ", " << length << " bytes from the page start";
        }
    }
}

TEST_F(Crc32Test, StartUpSelectsTheFastestSupportedPath) {
    std::string names;
    for (Crc32Path path : SupportedPaths()) {
        names += std::string(" ") + Crc32PathName(path);
    }
    printf("CRC-32 paths this CPU supports:%s; start-up selects %s\n", names.c_str(),
           Crc32PathName(SelectedCrc32Path()));
    RecordProperty("crc32_paths", names);
    EXPECT_TRUE(Crc32PathSupported(Crc32Path::ByteTable));
    EXPECT_TRUE(Crc32PathSupported(Crc32Path::Slice16));
    EXPECT_EQ(SelectedCrc32Path(), FastestCrc32Path());
    EXPECT_NE(SelectedCrc32Path(), Crc32Path::ByteTable);
#if defined(__x86_64__) || defined(__i386__)
    // The compiler's own CPU check is an independent reading of the same CPUID bits.
    __builtin_cpu_init();
    const bool pclmul = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    const bool vpclmul =
        pclmul && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("vpclmulqdq");
    EXPECT_EQ(Crc32PathSupported(Crc32Path::Pclmul), pclmul);
    EXPECT_EQ(Crc32PathSupported(Crc32Path::Vpclmul), vpclmul);
    EXPECT_EQ(FastestCrc32Path(), vpclmul  ? Crc32Path::Vpclmul
                                  : pclmul ? Crc32Path::Pclmul
                                           : Crc32Path::Slice16);
#else
    EXPECT_FALSE(Crc32PathSupported(Crc32Path::Pclmul));
    EXPECT_FALSE(Crc32PathSupported(Crc32Path::Vpclmul));
#endif
}

TEST_F(Crc32Test, SelectingAPathChangesOnlyHowTheValueIsComputed) {
    const std::vector<uint8_t> data = RandomBytes(100000, 23);
    const uint32_t expected = Reference(kStart, data.data(), data.size()) ^ kStart;
    for (int i = 0; i < kCrc32PathCount; ++i) {
        const Crc32Path path = static_cast<Crc32Path>(i);
        const Crc32Path before = SelectedCrc32Path();
        const bool selected = SelectCrc32Path(path);
        EXPECT_EQ(selected, Crc32PathSupported(path)) << Crc32PathName(path);
        EXPECT_EQ(SelectedCrc32Path(), selected ? path : before) << Crc32PathName(path);
        EXPECT_EQ(BufferChecksum(data.data(), data.size()), expected) << Crc32PathName(path);
        // An unsupported path asked for directly still gives the right value.
        EXPECT_EQ(Crc32UpdateWith(path, kStart, data.data(), data.size()) ^ kStart, expected);
    }
}

} // namespace
