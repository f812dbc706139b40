// The raw file layer against plain pread/pwrite on the same page-cached file:
//  - one 64 KiB Fio::read against one pread of the same range (time ratio, goal <= 1.1);
//  - four threads reading random 4 KiB ranges through one Fio::FIOWRAP against four threads each
//    with its own descriptor (throughput ratio, goal >= 0.8);
//  - one 4 KiB Fio::write against one pwrite (time ratio, goal <= 1.2).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "kestle/kestle.h"

namespace {

constexpr unsigned kFileBytes = 16u << 20;
constexpr unsigned kSmall = 4096;
constexpr unsigned kLarge = 64 * 1024;

std::filesystem::path benchDir() {
  static std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                     ("kestle-fiowrap-bench-" + std::to_string(::getpid()));
  return dir;
}
std::string readPath() {
  return (benchDir() / "read").string();
}
std::string writePath() {
  return (benchDir() / "write").string();
}
std::wstring wide(std::string const& s) {
  return std::wstring(s.begin(), s.end());
}

Fio::FIOWRAP* gReadWrap = nullptr;
Fio::FIOWRAP* gWriteWrap = nullptr;
int gReadFd = -1;
int gWriteFd = -1;

void makeFile(std::string const& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  std::vector<char> block(kLarge);
  for (unsigned i = 0; i < kFileBytes; i += kLarge) {
    for (unsigned j = 0; j < kLarge; ++j)
      block[j] = static_cast<char>((i + j) * 13);
    if (::pwrite(fd, block.data(), kLarge, i) != static_cast<ssize_t>(kLarge))
      std::abort();
  }
  for (unsigned i = 0; i < kFileBytes; i += kLarge) {  // into the page cache
    if (::pread(fd, block.data(), kLarge, i) != static_cast<ssize_t>(kLarge))
      std::abort();
  }
  ::close(fd);
}

// The same pseudo-random 4 KiB-aligned offsets for the library and its baseline.
class Offsets {
 public:
  explicit Offsets(unsigned seed) : random_(seed) {}
  unsigned long long next() { return 1ull * (random_() % (kFileBytes / kSmall)) * kSmall; }

 private:
  std::mt19937 random_;
};

void BM_Pread64K(benchmark::State& state) {
  std::vector<char> buffer(kLarge);
  unsigned long long position = 0;
  for (auto _ : state) {
    if (::pread(gReadFd, buffer.data(), kLarge, position) != static_cast<ssize_t>(kLarge))
      state.SkipWithError("pread");
    position = (position + kLarge) % kFileBytes;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kLarge);
}

void BM_FioRead64K(benchmark::State& state) {
  std::vector<char> buffer(kLarge);
  unsigned long long position = 0;
  for (auto _ : state) {
    unsigned got = 0;
    if (Fio::read(gReadWrap, position, buffer.data(), kLarge, got) != 0 || got != kLarge) {
      state.SkipWithError("Fio::read");
    }
    position = (position + kLarge) % kFileBytes;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kLarge);
}

void BM_Pread4KOwnDescriptors(benchmark::State& state) {
  int fd = ::open(readPath().c_str(), O_RDONLY | O_CLOEXEC);
  std::vector<char> buffer(kSmall);
  Offsets offsets(static_cast<unsigned>(state.thread_index()) + 1);
  for (auto _ : state) {
    if (::pread(fd, buffer.data(), kSmall, offsets.next()) != static_cast<ssize_t>(kSmall))
      state.SkipWithError("pread");
  }
  ::close(fd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSmall);
}

void BM_FioRead4KShared(benchmark::State& state) {
  std::vector<char> buffer(kSmall);
  Offsets offsets(static_cast<unsigned>(state.thread_index()) + 1);
  for (auto _ : state) {
    unsigned got = 0;
    unsigned long code;
    // A read finds every slot busy only while a write or resize holds one; none runs here.
    while ((code = Fio::read(gReadWrap, offsets.next(), buffer.data(), kSmall, got)) ==
           NoHandleError) {
    }
    if (code != 0 || got != kSmall)
      state.SkipWithError("Fio::read");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSmall);
}

void BM_Pwrite4K(benchmark::State& state) {
  std::vector<char> data(kSmall, 'p');
  Offsets offsets(7);
  for (auto _ : state) {
    if (::pwrite(gWriteFd, data.data(), kSmall, offsets.next()) != static_cast<ssize_t>(kSmall)) {
      state.SkipWithError("pwrite");
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSmall);
}

void BM_FioWrite4K(benchmark::State& state) {
  std::vector<char> data(kSmall, 'f');
  Offsets offsets(7);
  for (auto _ : state) {
    unsigned written = 0;
    if (Fio::write(gWriteWrap, offsets.next(), data.data(), kSmall, written) != 0 ||
        written != kSmall) {
      state.SkipWithError("Fio::write");
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSmall);
}

BENCHMARK(BM_Pread64K)->UseRealTime()->Repetitions(5);
BENCHMARK(BM_FioRead64K)->UseRealTime()->Repetitions(5);
BENCHMARK(BM_Pread4KOwnDescriptors)->Threads(4)->UseRealTime()->Repetitions(5);
BENCHMARK(BM_FioRead4KShared)->Threads(4)->UseRealTime()->Repetitions(5);
BENCHMARK(BM_Pwrite4K)->UseRealTime()->Repetitions(5);
BENCHMARK(BM_FioWrite4K)->UseRealTime()->Repetitions(5);

// Shows the runs as usual and keeps each benchmark's best repetition.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(std::vector<Run> const& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (auto const& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred)
        continue;
      std::string name = run.run_name.function_name;
      double const time = run.GetAdjustedRealTime();
      auto t = bestTime_.emplace(name, time);
      if (!t.second && time < t.first->second)
        t.first->second = time;
      auto rate = run.counters.find("bytes_per_second");
      if (rate != run.counters.end()) {
        auto r = bestRate_.emplace(name, rate->second.value);
        if (!r.second && rate->second.value > r.first->second)
          r.first->second = rate->second.value;
      }
    }
  }

  void PrintRatios() const {
    std::printf("\nRaw file layer against its baseline (best of the repetitions):\n");
    printRatio("Fio::read 64 KiB / pread, time", bestTime_, "BM_FioRead64K", "BM_Pread64K",
               "at most 1.1");
    printRatio("4 threads Fio::read 4 KiB / own-descriptor pread, throughput", bestRate_,
               "BM_FioRead4KShared", "BM_Pread4KOwnDescriptors", "at least 0.8");
    printRatio("Fio::write 4 KiB / pwrite, time", bestTime_, "BM_FioWrite4K", "BM_Pwrite4K",
               "at most 1.2");
  }

 private:
  static void printRatio(char const* what, std::map<std::string, double> const& values,
                         char const* library, char const* baseline, char const* goal) {
    auto lib = values.find(library);
    auto base = values.find(baseline);
    if (lib == values.end() || base == values.end() || base->second <= 0)
      return;
    std::printf("  %-62s %5.2fx  (goal %s)\n", what, lib->second / base->second, goal);
  }

  std::map<std::string, double> bestTime_;
  std::map<std::string, double> bestRate_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;

  std::filesystem::create_directories(benchDir());
  makeFile(readPath());
  makeFile(writePath());
  gReadFd = ::open(readPath().c_str(), O_RDONLY | O_CLOEXEC);
  gWriteFd = ::open(writePath().c_str(), O_RDWR | O_CLOEXEC);
  if (Fio::open(wide(readPath()).c_str(), Access::Read, Sharing::AllowReadWrite,
                OpenFlag::OpenExisting, gReadWrap, false) != 0 ||
      Fio::open(wide(writePath()).c_str(), Access::ReadWrite, Sharing::AllowReadWrite,
                OpenFlag::OpenExisting, gWriteWrap, false) != 0) {
    std::fprintf(stderr, "cannot open the bench files\n");
    return 1;
  }

  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();

  Fio::close(gReadWrap);
  Fio::close(gWriteWrap);
  ::close(gReadFd);
  ::close(gWriteFd);
  std::filesystem::remove_all(benchDir());
  return 0;
}
