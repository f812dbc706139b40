// The library's mutexes against std::mutex in the same run: an uncontended obtain + release pair,
// and two threads each making a million obtain / increment / release rounds on one mutex.
// Prints the ratios (library time / std::mutex time) at the end; below 1.0 is faster.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kestle/kestle.h"

namespace {

constexpr int kRounds = 1000000;
constexpr int kRepeats = 11;

struct StdMutex {
  std::mutex m;
  void obtain() { m.lock(); }
  void release() { m.unlock(); }
};
struct Lazy {
  MutexLazy m{true, L"bench", 240};
  void obtain() { m.obtain(); }
  void release() { m.release(); }
};
struct Simplex {
  MutexSimplex m{L"bench", 241};
  void obtain() { m.obtain(); }
  void release() { m.release(); }
};

template <class M>
void Uncontended(benchmark::State& state) {
  M mutex;
  for (auto _ : state) {
    mutex.obtain();
    mutex.release();
  }
}

template <class M>
void Contended(benchmark::State& state) {
  for (auto _ : state) {
    M mutex;
    long counter = 0;
    auto work = [&] {
      for (int i = 0; i < kRounds; ++i) {
        mutex.obtain();
        ++counter;
        mutex.release();
      }
    };
    std::thread other(work);
    work();
    other.join();
    if (counter != 2L * kRounds)
      state.SkipWithError("lost an increment");
    benchmark::DoNotOptimize(counter);
  }
}

BENCHMARK(Uncontended<StdMutex>)->Name("Uncontended/std::mutex")->Repetitions(kRepeats);
BENCHMARK(Uncontended<Lazy>)->Name("Uncontended/MutexLazy")->Repetitions(kRepeats);
BENCHMARK(Uncontended<Simplex>)->Name("Uncontended/MutexSimplex")->Repetitions(kRepeats);
BENCHMARK(Contended<StdMutex>)
    ->Name("Contended/std::mutex")
    ->Iterations(1)
    ->Repetitions(kRepeats)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Contended<Lazy>)
    ->Name("Contended/MutexLazy")
    ->Iterations(1)
    ->Repetitions(kRepeats)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Contended<Simplex>)
    ->Name("Contended/MutexSimplex")
    ->Iterations(1)
    ->Repetitions(kRepeats)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Prints as the console does and keeps each benchmark's median for the ratios: CPU time for the
// uncontended pair (on a shared machine, wall time there mostly measures other processes), wall
// time for the contended runs (where the waiting is the point).
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(std::vector<Run> const& runs) override {
    for (auto const& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        bool const wall = run.run_name.function_name.rfind("Contended/", 0) == 0;
        medians_[run.run_name.function_name] =
            wall ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double median(std::string const& name) const {
    auto const it = medians_.find(name);
    return it == medians_.end() ? 0.0 : it->second;
  }

 private:
  std::map<std::string, double> medians_;
};

void printRatio(MedianReporter const& r, char const* group, char const* kind) {
  double const base = r.median(std::string(group) + "/std::mutex");
  double const ours = r.median(std::string(group) + "/" + kind);
  if (base > 0 && ours > 0) {
    std::printf("%-11s %-12s / std::mutex: %.2f\n", group, kind, ours / base);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // The C library skips the atomic in std::mutex while a process has a single thread; one
  // thread started and joined makes the baseline what it is in any real program.
  std::thread([] {}).join();

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\nmedian ratios (goal: uncontended <= 1.00, contended <= 1.25)\n");
  printRatio(reporter, "Uncontended", "MutexLazy");
  printRatio(reporter, "Uncontended", "MutexSimplex");
  printRatio(reporter, "Contended", "MutexLazy");
  printRatio(reporter, "Contended", "MutexSimplex");
  return 0;
}
