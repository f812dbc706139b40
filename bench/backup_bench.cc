// The backup report over a 256 MiB backup of 64 KiB chunks in the page cache, against reading
// the same file with plain read(2) into a 64 KiB buffer; and the unmask-and-sum pass over a
// 64 KiB chunk against a plain summing loop over the same words. After the runs it prints both
// ratios. The backup is written into a temporary directory that the program removes at its end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "backup/chunk_format.h"
#include "kestle/kestle.h"
#include "support/backup_writer.h"
#include "support/ratios.h"

// The bench target links only the library, so it compiles the test writer in.

namespace {
namespace fs = std::filesystem;
namespace fmt = kestle_detail::backup;

constexpr std::size_t kChunkBytes = 64 * 1024;
constexpr std::size_t kFileBytes = 256ull * 1024 * 1024;
constexpr std::size_t kChunksPerUnit = 256;

// The 256 MiB backup, written once into the scratch directory, which goes at the program's end.
class BigBackup {
 public:
  BigBackup() : path_(kestle_bench::scratchDir() / "big.bak") {
    write();
    warm();
  }
  std::string path() const { return path_.string(); }
  std::wstring wpath() const { return path_.wstring(); }
  std::size_t bytes() const { return bytes_; }

 private:
  // Streams the backup out unit by unit with the test writer's building blocks, so that the
  // file never has to be held in memory whole.
  void write() {
    kestle_test::BackupHeader header;
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    kestle_test::Bytes block(128, '\0');
    kestle_test::Bytes h = kestle_test::encipheredHeader(header);
    block.insert(block.end(), h.begin(), h.end());
    Random::PFRandom random;
    random.seed(header.stamp.date + header.stamp.time + header.stamp.zone);
    kestle_test::Bytes data = kestle_test::patternBytes(kChunkBytes, 42);
    std::size_t const chunks = kFileBytes / kChunkBytes;
    for (std::size_t done = 0; done < chunks;) {
      std::uint32_t const mask = random.next();
      kestle_test::Bytes head = kestle_test::unitHeaderBytes(
          L"unit " + std::to_wstring(done / kChunksPerUnit), L"bench", {});
      kestle_test::appendChunk(block, mask, head.data(), static_cast<std::uint32_t>(head.size()));
      for (std::size_t k = 0; k < kChunksPerUnit && done < chunks; ++k, ++done) {
        kestle_test::appendChunk(block, mask, data.data(), kChunkBytes);
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
        bytes_ += block.size();
        block.clear();
      }
      kestle_test::appendChunk(block, mask, nullptr, 0);
    }
    kestle_test::appendChunk(block, random.next(), nullptr, 0);
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
    bytes_ += block.size();
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", path_.c_str());
      std::exit(1);
    }
  }
  // Reads the file once so that every timed run finds it in the page cache.
  void warm() const {
    int fd = ::open(path_.c_str(), O_RDONLY);
    std::vector<char> buffer(kChunkBytes);
    while (::read(fd, buffer.data(), buffer.size()) > 0) {
    }
    ::close(fd);
  }

  fs::path path_;
  std::size_t bytes_ = 0;
};

BigBackup& big() {
  static BigBackup backup;
  return backup;
}

class NoProgress final : public BuRdr::Progress {
 public:
  std::uint32_t total(unsigned long long) override { return 0; }
  bool progress(unsigned long long, wchar_t const*) override { return true; }
};

class TenPerSecond final : public BuRdr::Progress {
 public:
  std::uint32_t total(unsigned long long) override { return 10; }
  bool progress(unsigned long long, wchar_t const*) override { return true; }
};

void BM_PlainRead(benchmark::State& state) {
  std::string path = big().path();
  std::vector<char> buffer(kChunkBytes);
  for (auto _ : state) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::size_t total = 0;
    ssize_t n;
    while ((n = ::read(fd, buffer.data(), buffer.size())) > 0)
      total += static_cast<std::size_t>(n);
    ::close(fd);
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * big().bytes()));
}

template <class P>
void BM_Report(benchmark::State& state) {
  std::wstring path = big().wpath();
  P progress;
  for (auto _ : state) {
    WString doc = BuRdr::report(path.c_str(), progress);
    if (std::wcsstr(doc, L"<finished") == nullptr) {
      state.SkipWithError("the backup did not read to its end");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * big().bytes()));
}

struct Words {
  explicit Words(std::size_t n) : bytes(kestle_test::patternBytes(n, 7)) {}
  kestle_test::Bytes bytes;
  std::size_t count() const { return bytes.size() / 4; }
};

// The baseline: one pass that only adds the words up.
__attribute__((noinline)) std::uint32_t PlainSum(char const* p, std::size_t words) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < words; ++i)
    sum += fmt::loadWord(p + 4 * i);
  return sum;
}

void BM_PlainSum(benchmark::State& state) {
  Words w(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(w.bytes.data());
    std::uint32_t s = PlainSum(w.bytes.data(), w.count());
    benchmark::DoNotOptimize(s);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * w.bytes.size()));
}

template <std::uint32_t (*Pass)(char*, std::size_t, std::uint32_t, std::uint32_t)>
void BM_Unmask(benchmark::State& state) {
  Words w(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(w.bytes.data());
    std::uint32_t s = Pass(w.bytes.data(), w.count(), 0x9E3779B9u, 0);
    benchmark::DoNotOptimize(s);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * w.bytes.size()));
}

BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_TEMPLATE(BM_Report, NoProgress)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_TEMPLATE(BM_Report, TenPerSecond)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainSum)->Arg(16 * 1024)->Arg(64 * 1024);
BENCHMARK_TEMPLATE(BM_Unmask, fmt::UnmaskAndSumAvx2)->Arg(16 * 1024)->Arg(64 * 1024);
BENCHMARK_TEMPLATE(BM_Unmask, fmt::UnmaskAndSumSse2)->Arg(16 * 1024)->Arg(64 * 1024);
BENCHMARK_TEMPLATE(BM_Unmask, fmt::UnmaskAndSumScalar)->Arg(16 * 1024)->Arg(64 * 1024);

void printRatios(kestle_bench::RatioReporter const& r) {
  std::printf("\nTime as a multiple of the baseline:\n");
  r.ratio("report of 256 MiB vs read(2) into 64 KiB", "BM_Report<NoProgress>", "BM_PlainRead",
          "at most 2x");
  r.ratio("report with progress vs read(2)", "BM_Report<TenPerSecond>", "BM_PlainRead");
  for (char const* size : {"16384", "65536"}) {
    std::string const base = std::string("BM_PlainSum/") + size;
    std::printf("  unmask-and-sum of %s bytes vs plain sum:\n", size);
    r.ratio("    AVX2 tier", std::string("BM_Unmask<fmt::UnmaskAndSumAvx2>/") + size, base);
    r.ratio("    SSE2 tier", std::string("BM_Unmask<fmt::UnmaskAndSumSse2>/") + size, base);
    r.ratio("    word by word", std::string("BM_Unmask<fmt::UnmaskAndSumScalar>/") + size, base);
  }
}

}  // namespace

int main(int argc, char** argv) {
  kestle_bench::RatioReporter reporter;
  return kestle_bench::runWithRatios(argc, argv, reporter, printRatios);
}
