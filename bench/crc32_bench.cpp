// Throughput of every CRC-32 path and of the system zlib's crc32 on buffers in memory, and
// the rate of reading a 1 GiB file from the page cache in 32 KiB pieces while checksumming
// it, as the launcher does. Ends with one summary line per path, with its ratios to the
// byte table and to zlib from the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "crc32/crc32.h"
#include "crc32/crc32_paths.h"

namespace {

using UpdateFunction = uint32_t (*)(uint32_t, const void*, size_t);

constexpr size_t kKiB = 1024;
constexpr size_t kMiB = 1024 * kKiB;
constexpr size_t kBufferSizes[] = {4 * kKiB, 32 * kKiB, 1 * kMiB, 256 * kMiB};
constexpr size_t kFileSize = 1024 * kMiB;
constexpr size_t kPieceSize = 32 * kKiB; // the launcher's read size

// zlib's crc32 works on the finished value; the paths on the register (value XOR ~0).
uint32_t ZlibUpdate(uint32_t crc, const void* data, size_t length) {
    return static_cast<uint32_t>(
               crc32_z(crc ^ 0xFFFFFFFFu, static_cast<const Bytef*>(data), length)) ^
           0xFFFFFFFFu;
}

struct Contender {
    std::string name;
    UpdateFunction update;
};

std::vector<Contender> Contenders() {
    std::vector<Contender> list;
    const UpdateFunction functions[kCrc32PathCount] = {
        Crc32UpdateByte,
        Crc32UpdateSlice16,
#if QELT_CRC32_X86
        Crc32UpdatePclmul,
        Crc32UpdateVpclmul,
#else
        nullptr,
        nullptr,
#endif
    };
    for (int i = 0; i < kCrc32PathCount; ++i) {
        const Crc32Path path = static_cast<Crc32Path>(i);
        if (Crc32PathSupported(path) && functions[i] != nullptr) {
            list.push_back({Crc32PathName(path), functions[i]});
        }
    }
    list.push_back({"zlib", ZlibUpdate});
    return list;
}

const std::vector<uint8_t>& RandomData() {
    static const std::vector<uint8_t> data = [] {
        std::vector<uint8_t> bytes(256 * kMiB);
        std::mt19937_64 random(1);
        for (size_t i = 0; i < bytes.size(); i += 8) {
            const uint64_t word = random();
            memcpy(&bytes[i], &word, 8);
        }
        return bytes;
    }();
    return data;
}

void BufferBenchmark(benchmark::State& state, UpdateFunction update) {
    const size_t length = static_cast<size_t>(state.range(0));
    const uint8_t* data = RandomData().data();
    for (auto _ : state) {
        uint32_t crc = update(0xFFFFFFFFu, data, length);
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(length));
}

std::string g_filePath;

// Writes the 1 GiB file once; having just been written, it sits in the page cache.
bool PrepareFile() {
    static const bool ready = [] {
        const int fd = open(g_filePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0) {
            return false;
        }
        const std::vector<uint8_t>& data = RandomData();
        bool ok = true;
        for (size_t written = 0; ok && written < kFileSize; written += data.size()) {
            ok = write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
        }
        close(fd);
        return ok;
    }();
    return ready;
}

void ReadBenchmark(benchmark::State& state, UpdateFunction update) {
    if (!PrepareFile()) {
        state.SkipWithError("cannot write the test file");
        return;
    }
    const int fd = open(g_filePath.c_str(), O_RDONLY);
    if (fd < 0) {
        state.SkipWithError("cannot open the test file");
        return;
    }
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kPieceSize]);
    uint32_t crc = 0;
    for (auto _ : state) {
        lseek(fd, 0, SEEK_SET);
        crc = 0xFFFFFFFFu;
        ssize_t got = 0;
        while ((got = read(fd, buffer.get(), kPieceSize)) > 0) {
            crc = update(crc, buffer.get(), static_cast<size_t>(got));
        }
        benchmark::DoNotOptimize(crc);
    }
    close(fd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(kFileSize));
}

std::string SizeName(size_t bytes) {
    return bytes >= kMiB ? std::to_string(bytes / kMiB) + " MiB"
                         : std::to_string(bytes / kKiB) + " KiB";
}

// Hands every report to the chosen output format and keeps each run's rate for the summary.
class SummaryReporter : public benchmark::BenchmarkReporter {
  public:
    explicit SummaryReporter(std::unique_ptr<benchmark::BenchmarkReporter> display)
        : display_(std::move(display)) {}

    bool ReportContext(const Context& context) override { return display_->ReportContext(context); }
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const auto rate = run.counters.find("bytes_per_second");
            if (run.run_type == Run::RT_Iteration && !run.error_occurred &&
                rate != run.counters.end()) {
                auto& entry = rates_[run.benchmark_name()];
                entry.first += rate->second.value;
                entry.second += 1;
            }
        }
        display_->ReportRuns(runs);
    }
    void Finalize() override { display_->Finalize(); }

    // Mean bytes per second of a benchmark, 0 when it did not run.
    double Rate(const std::string& name) const {
        const auto found = rates_.find(name);
        return found == rates_.end() ? 0.0 : found->second.first / found->second.second;
    }

  private:
    std::unique_ptr<benchmark::BenchmarkReporter> display_;
    std::map<std::string, std::pair<double, int>> rates_;
};

std::string Ratio(double rate, double base) {
    if (rate <= 0 || base <= 0) {
        return "-";
    }
    char text[32];
    snprintf(text, sizeof text, "%.1fx", rate / base);
    return text;
}

void PrintSummary(const SummaryReporter& reporter, FILE* out) {
    fprintf(out, "\nSummary: GB/s, then the ratio to the byte table and to zlib\n");
    for (const Contender& contender : Contenders()) {
        std::string line = contender.name + ":";
        for (size_t size : kBufferSizes) {
            const std::string suffix = "/" + std::to_string(size);
            const double rate = reporter.Rate("BM_Crc32/" + contender.name + suffix);
            if (rate <= 0) {
                continue;
            }
            char part[128];
            snprintf(part, sizeof part, " %s %.2f (%s byte, %s zlib);", SizeName(size).c_str(),
                     rate / 1e9, Ratio(rate, reporter.Rate("BM_Crc32/byte" + suffix)).c_str(),
                     Ratio(rate, reporter.Rate("BM_Crc32/zlib" + suffix)).c_str());
            line += part;
        }
        const std::string suffix = "/" + std::to_string(kFileSize);
        const double read = reporter.Rate("BM_ReadCrc32/" + contender.name + suffix);
        if (read > 0) {
            char part[160];
            snprintf(part, sizeof part, " read 1 GiB in 32 KiB pieces %.2f (%s byte, %s zlib)",
                     read / 1e9, Ratio(read, reporter.Rate("BM_ReadCrc32/byte" + suffix)).c_str(),
                     Ratio(read, reporter.Rate("BM_ReadCrc32/zlib" + suffix)).c_str());
            line += part;
        }
        fprintf(out, "%s\n", line.c_str());
    }
}

std::string FormatArgument(int argc, char** argv) {
    const char prefix[] = "--benchmark_format=";
    for (int i = 1; i < argc; ++i) {
        if (strncmp(argv[i], prefix, sizeof prefix - 1) == 0) {
            return argv[i] + sizeof prefix - 1;
        }
    }
    return "console";
}

} // namespace

int main(int argc, char** argv) {
    BuildCrc32Table();
    const char* dir = getenv("QELT_BENCH_DIR");
    g_filePath = std::string(dir != nullptr && dir[0] != '\0' ? dir : ".") + "/crc32_bench.data";

    for (const Contender& contender : Contenders()) {
        benchmark::RegisterBenchmark(("BM_Crc32/" + contender.name).c_str(), BufferBenchmark,
                                     contender.update)
            ->Arg(4 * kKiB)
            ->Arg(32 * kKiB)
            ->Arg(1 * kMiB)
            ->Arg(256 * kMiB);
    }
    for (const Contender& contender : Contenders()) {
        benchmark::RegisterBenchmark(("BM_ReadCrc32/" + contender.name).c_str(), ReadBenchmark,
                                     contender.update)
            ->Arg(static_cast<int64_t>(kFileSize));
    }

    const std::string format = FormatArgument(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    std::unique_ptr<benchmark::BenchmarkReporter> display;
    if (format == "json") {
        display.reset(new benchmark::JSONReporter);
    } else {
        display.reset(new benchmark::ConsoleReporter);
    }
    SummaryReporter reporter(std::move(display));
    std::string supported;
    for (int i = 0; i < kCrc32PathCount; ++i) {
        if (Crc32PathSupported(static_cast<Crc32Path>(i))) {
            supported += std::string(supported.empty() ? "" : " ") +
                         Crc32PathName(static_cast<Crc32Path>(i));
        }
    }
    benchmark::AddCustomContext("crc32_paths", supported);
    benchmark::AddCustomContext("crc32_selected", Crc32PathName(SelectedCrc32Path()));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    unlink(g_filePath.c_str());
    // Keep machine-readable output on stdout clean.
    PrintSummary(reporter, format == "console" ? stdout : stderr);
    return 0;
}
