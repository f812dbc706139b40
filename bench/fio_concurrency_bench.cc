// Record files under concurrent use, against plain POSIX calls on the same page-cached file:
//  - a writer making 2,000 single-record Fwrites while three threads Fread random records,
//    against the same with pwrite/pread on a descriptor per thread (the writer's time; goal at
//    most 2x, aim 1.5x);
//  - a writer's Fwrites per second beside eight Fread threads, against the same writer alone
//    (goal at least 0.5).
// Each ratio comes from paired rounds (library and baseline back to back, in alternating
// order); the median and the range over the rounds are printed.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "kestle/kestle.h"
#include "support/ratios.h"
#include "support/record_files.h"

namespace {

using kestle_bench::kRecordLength;

constexpr unsigned kRecords = 20000;
constexpr unsigned kWrites = 2000;

kestle_bench::RecordFile* gFile = nullptr;
std::vector<char> gData;

// Runs `readers` threads calling read(thread, record) on random records until `writer` returns;
// answers the writer's time in seconds.
double writerSeconds(int readers, std::function<void(int, unsigned)> const& read,
                     std::function<void()> const& writer) {
  std::atomic<bool> stop{false};
  std::atomic<int> started{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < readers; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 random(static_cast<unsigned>(t) + 1);
      started.fetch_add(1);
      while (!stop.load(std::memory_order_relaxed))
        read(t, 1 + random() % kRecords);
    });
  }
  while (started.load() < readers)
    std::this_thread::yield();
  auto const start = std::chrono::steady_clock::now();
  writer();
  double const seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  stop.store(true);
  for (auto& t : threads)
    t.join();
  return seconds;
}

void libraryWrites() {
  std::mt19937 random(99);
  for (unsigned n = 0; n < kWrites; ++n) {
    unsigned const rec = 1 + random() % kRecords;
    Fwrite(gFile->get(), rec, gData.data() + (rec - 1ull) * kRecordLength);
  }
}

void libraryRead(int, unsigned rec) {
  char buffer[kRecordLength];
  bool eof = false;
  Fread(gFile->get(), rec, buffer, eof);
}

struct Descriptors {
  int writer = -1;
  std::vector<int> readers;
};
Descriptors gFds;

void posixWrites() {
  std::mt19937 random(99);
  for (unsigned n = 0; n < kWrites; ++n) {
    unsigned const rec = 1 + random() % kRecords;
    off_t const at = static_cast<off_t>((rec - 1ull) * kRecordLength);
    if (::pwrite(gFds.writer, gData.data() + at, kRecordLength, at) != kRecordLength)
      std::abort();
  }
}

void posixRead(int t, unsigned rec) {
  char buffer[kRecordLength];
  benchmark::DoNotOptimize(::pread(gFds.readers[t], buffer, kRecordLength,
                                   static_cast<off_t>((rec - 1ull) * kRecordLength)));
}

double libraryBeside(int readers) {
  return writerSeconds(readers, libraryRead, libraryWrites);
}
double posixBeside(int readers) {
  return writerSeconds(readers, posixRead, posixWrites);
}

void BM_FwriteBesideThreeFreads(benchmark::State& state) {
  for (auto _ : state)
    state.SetIterationTime(libraryBeside(3));
}
void BM_PwriteBesideThreePreads(benchmark::State& state) {
  for (auto _ : state)
    state.SetIterationTime(posixBeside(3));
}
void BM_FwriteBesideEightFreads(benchmark::State& state) {
  for (auto _ : state)
    state.SetIterationTime(libraryBeside(8));
}
void BM_FwriteAlone(benchmark::State& state) {
  for (auto _ : state)
    state.SetIterationTime(libraryBeside(0));
}
BENCHMARK(BM_FwriteBesideThreeFreads)->UseManualTime()->Iterations(20);
BENCHMARK(BM_PwriteBesideThreePreads)->UseManualTime()->Iterations(20);
BENCHMARK(BM_FwriteBesideEightFreads)->UseManualTime()->Iterations(20);
BENCHMARK(BM_FwriteAlone)->UseManualTime()->Iterations(20);

// The median and range of library / baseline over paired rounds.
void pairedRatio(char const* label, char const* goal, std::function<double()> const& library,
                 std::function<double()> const& baseline) {
  constexpr int kRounds = 21;
  std::vector<double> ratios;
  for (int round = 0; round < kRounds; ++round) {
    double lib, base;
    if (round % 2 == 0) {
      lib = library();
      base = baseline();
    } else {
      base = baseline();
      lib = library();
    }
    ratios.push_back(lib / base);
  }
  std::sort(ratios.begin(), ratios.end());
  std::printf("  %-58s %5.2fx  (range %.2f-%.2f; goal %s)\n", label, ratios[kRounds / 2],
              ratios.front(), ratios.back(), goal);
}

void printRatios(kestle_bench::RatioReporter const&) {
  std::printf("\nRecord files under concurrent use (median of 21 paired rounds):\n");
  pairedRatio(
      "2,000 Fwrites beside 3 Freads / pwrite beside 3 preads, time", "at most 2",
      [] { return libraryBeside(3); }, [] { return posixBeside(3); });
  // Writes per second beside eight readers against alone: the inverse of the time ratio.
  pairedRatio(
      "Fwrite alone / Fwrite beside 8 Freads, time (= ops/s ratio)", "at least 0.5",
      [] { return libraryBeside(0); }, [] { return libraryBeside(8); });
}

}  // namespace

int main(int argc, char** argv) {
  kestle_bench::RatioReporter reporter;
  kestle_bench::RecordFile file("concurrent", false);
  gFile = &file;
  gData = kestle_bench::records(kRecords);
  unsigned long err = 0;
  Fmultiwrite(file.get(), 1, kRecords, gData.data(), err);
  std::string const path = (kestle_bench::scratchDir() / "concurrent").string();
  gFds.writer = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  for (int t = 0; t < 8; ++t)
    gFds.readers.push_back(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (err != 0 || gFds.writer < 0) {
    std::fprintf(stderr, "cannot prepare the bench file\n");
    return 1;
  }
  return kestle_bench::runWithRatios(argc, argv, reporter, printRatios, [] {
    ::close(gFds.writer);
    for (int fd : gFds.readers)
      ::close(fd);
  });
}
