// The raw file layer against plain pread/pwrite on the same page-cached file:
//  - one 64 KiB Fio::read against one pread of the same range (time ratio, goal <= 1.1);
//  - four threads reading random 4 KiB ranges through one Fio::FIOWRAP against four threads each
//    with its own descriptor (throughput ratio, goal >= 0.8);
//  - one 4 KiB Fio::write against one pwrite (time ratio, goal <= 1.2).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
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
    unsigned long const code = Fio::read(gReadWrap, offsets.next(), buffer.data(), kSmall, got);
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

BENCHMARK(BM_Pread64K)->UseRealTime();
BENCHMARK(BM_FioRead64K)->UseRealTime();
BENCHMARK(BM_Pread4KOwnDescriptors)->Threads(4)->UseRealTime();
BENCHMARK(BM_FioRead4KShared)->Threads(4)->UseRealTime();
BENCHMARK(BM_Pwrite4K)->UseRealTime();
BENCHMARK(BM_FioWrite4K)->UseRealTime();

// The ratios come from paired rounds rather than from the table above: each round runs the
// library's batch and the baseline's batch back to back (in alternating order), and the median
// of the rounds' ratios is printed, so that load from other processes, which changes between the
// benchmarks of the table, falls on both halves of a pair alike.
double seconds(std::function<void()> const& batch) {
  auto start = std::chrono::steady_clock::now();
  batch();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double medianRatio(std::function<void()> const& library, std::function<void()> const& baseline) {
  constexpr int kRounds = 41;
  std::vector<double> ratios;
  for (int round = 0; round < kRounds; ++round) {
    double lib = 0, base = 0;
    if (round % 2 == 0) {
      lib = seconds(library);
      base = seconds(baseline);
    } else {
      base = seconds(baseline);
      lib = seconds(library);
    }
    ratios.push_back(lib / base);
  }
  std::nth_element(ratios.begin(), ratios.begin() + kRounds / 2, ratios.end());
  return ratios[kRounds / 2];
}

// Runs body(thread) on four threads and waits for them.
void onFourThreads(std::function<void(int)> const& body) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back(body, t);
  for (std::thread& t : threads)
    t.join();
}

void printRatios() {
  std::vector<char> buffer(kLarge);
  std::vector<char> data(kSmall, 'r');
  double const read64 = medianRatio(
      [&] {
        unsigned got = 0;
        for (unsigned i = 0; i < 256; ++i)
          Fio::read(gReadWrap, 1ull * i * kLarge, buffer.data(), kLarge, got);
      },
      [&] {
        for (unsigned i = 0; i < 256; ++i)
          benchmark::DoNotOptimize(::pread(gReadFd, buffer.data(), kLarge, 1ull * i * kLarge));
      });

  int fds[4];
  for (int& fd : fds)
    fd = ::open(readPath().c_str(), O_RDONLY | O_CLOEXEC);
  constexpr int kReads = 5000;
  double const shared = medianRatio(
      [&] {
        onFourThreads([](int t) {
          std::vector<char> b(kSmall);
          Offsets offsets(static_cast<unsigned>(t) + 1);
          unsigned got = 0;
          for (int i = 0; i < kReads; ++i)
            Fio::read(gReadWrap, offsets.next(), b.data(), kSmall, got);
        });
      },
      [&] {
        onFourThreads([&fds](int t) {
          std::vector<char> b(kSmall);
          Offsets offsets(static_cast<unsigned>(t) + 1);
          for (int i = 0; i < kReads; ++i)
            benchmark::DoNotOptimize(::pread(fds[t], b.data(), kSmall, offsets.next()));
        });
      });
  for (int fd : fds)
    ::close(fd);

  double const write4 = medianRatio(
      [&] {
        Offsets offsets(7);
        unsigned written = 0;
        for (int i = 0; i < 500; ++i)
          Fio::write(gWriteWrap, offsets.next(), data.data(), kSmall, written);
      },
      [&] {
        Offsets offsets(7);
        for (int i = 0; i < 500; ++i)
          benchmark::DoNotOptimize(::pwrite(gWriteFd, data.data(), kSmall, offsets.next()));
      });

  std::printf("\nRaw file layer against its baseline (median of %s):\n", "41 paired rounds");
  std::printf("  %-62s %5.2fx  (goal at most 1.1)\n", "Fio::read 64 KiB / pread, time", read64);
  std::printf("  %-62s %5.2fx  (goal at least 0.8)\n",
              "4 threads Fio::read 4 KiB / own-descriptor pread, throughput", 1.0 / shared);
  std::printf("  %-62s %5.2fx  (goal at most 1.2)\n", "Fio::write 4 KiB / pwrite, time", write4);
}

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

  benchmark::RunSpecifiedBenchmarks();
  printRatios();
  benchmark::Shutdown();

  Fio::close(gReadWrap);
  Fio::close(gWriteWrap);
  ::close(gReadFd);
  ::close(gWriteFd);
  std::filesystem::remove_all(benchDir());
  return 0;
}
