// The record cipher against memcpy of the same bytes, for a short record (100 bytes) and a page
// (4096 bytes). After the runs it prints each cipher time as a multiple of memcpy's; the SSE2
// tier (what a processor without AVX2 runs) and the plain reference loop are timed beside them.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "coding/cipher_block.h"
#include "coding/cipher_kernels.h"
#include "coding/cipher_reference.h"
#include "kestle/coding.h"

namespace {
namespace cipher = kestle_detail::cipher;

constexpr unsigned char kKey = 77;

struct Buffers {
  explicit Buffers(std::size_t n) : plain(n), enciphered(n + 1), out(n + 1) {
    std::mt19937 gen(static_cast<unsigned>(n));
    for (auto& b : plain)
      b = static_cast<char>(gen());
    Coding::Encode(plain.data(), enciphered.data(), static_cast<unsigned>(n), kKey);
  }
  std::vector<char> plain, enciphered, out;
};

void BM_Memcpy(benchmark::State& state) {
  auto const n = static_cast<std::size_t>(state.range(0));
  Buffers b(n);
  for (auto _ : state) {
    benchmark::DoNotOptimize(b.plain.data());
    std::memcpy(b.out.data(), b.plain.data(), n);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

void BM_Encode(benchmark::State& state) {
  auto const n = static_cast<unsigned>(state.range(0));
  Buffers b(n);
  for (auto _ : state) {
    benchmark::DoNotOptimize(b.plain.data());
    Coding::Encode(b.plain.data(), b.out.data(), n, kKey);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

void BM_Decode(benchmark::State& state) {
  auto const n = static_cast<unsigned>(state.range(0));
  Buffers b(n);
  for (auto _ : state) {
    benchmark::DoNotOptimize(b.enciphered.data());
    bool ok = Coding::Decode(b.enciphered.data(), b.out.data(), n, kKey);
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

void BM_EncodeSse2(benchmark::State& state) {
  auto const n = static_cast<std::size_t>(state.range(0));
  Buffers b(n);
  auto const* in = reinterpret_cast<std::uint8_t const*>(b.plain.data());
  auto* out = reinterpret_cast<std::uint8_t*>(b.out.data());
  for (auto _ : state) {
    benchmark::DoNotOptimize(b.plain.data());
    cipher::EncodeBlock(in, out, n, kKey, &cipher::ExchangeSse2<true>);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

void BM_DecodeSse2(benchmark::State& state) {
  auto const n = static_cast<std::size_t>(state.range(0));
  Buffers b(n);
  auto const* in = reinterpret_cast<std::uint8_t const*>(b.enciphered.data());
  auto* out = reinterpret_cast<std::uint8_t*>(b.out.data());
  for (auto _ : state) {
    benchmark::DoNotOptimize(b.enciphered.data());
    bool ok = cipher::DecodeBlock(in, out, n, kKey, &cipher::ExchangeSse2<false>);
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

void BM_EncodeReference(benchmark::State& state) {
  auto const n = static_cast<std::size_t>(state.range(0));
  Buffers b(n);
  auto const* in = reinterpret_cast<std::uint8_t const*>(b.plain.data());
  auto* out = reinterpret_cast<std::uint8_t*>(b.out.data());
  for (auto _ : state) {
    benchmark::DoNotOptimize(b.plain.data());
    cipher::ReferenceEncode(in, out, n, kKey);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

BENCHMARK(BM_Memcpy)->Arg(100)->Arg(4096);
BENCHMARK(BM_Encode)->Arg(100)->Arg(4096);
BENCHMARK(BM_Decode)->Arg(100)->Arg(4096);
BENCHMARK(BM_EncodeSse2)->Arg(100)->Arg(4096);
BENCHMARK(BM_DecodeSse2)->Arg(100)->Arg(4096);
BENCHMARK(BM_EncodeReference)->Arg(100)->Arg(4096);

// Shows the runs as usual and keeps each benchmark's CPU times per iteration; the ratios use the
// median over repetitions (--benchmark_repetitions), which a busy machine disturbs least.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(std::vector<Run> const& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (auto const& run : runs) {
      if (run.error_occurred)
        continue;
      if (run.run_type == Run::RT_Iteration) {
        times_[run.run_name.str()].push_back(run.GetAdjustedCPUTime());
      } else if (run.aggregate_name == "median") {
        medians_[run.run_name.str()] = run.GetAdjustedCPUTime();
      }
    }
  }

  void PrintRatios() {
    std::printf("\nTime as a multiple of memcpy of the same bytes (median CPU time):\n");
    for (char const* name :
         {"BM_Encode", "BM_Decode", "BM_EncodeSse2", "BM_DecodeSse2", "BM_EncodeReference"}) {
      for (char const* size : {"100", "4096"}) {
        double base = Median(std::string("BM_Memcpy/") + size);
        double time = Median(std::string(name) + "/" + size);
        if (base <= 0 || time <= 0)
          continue;
        std::printf("  %-20s %5s B  %6.2fx\n", name + 3, size, time / base);
      }
    }
  }

 private:
  double Median(std::string const& name) {
    if (auto m = medians_.find(name); m != medians_.end())
      return m->second;
    auto it = times_.find(name);
    if (it == times_.end() || it->second.empty())
      return 0;
    std::vector<double>& t = it->second;
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
  }

  std::map<std::string, std::vector<double>> times_;  // per repetition
  std::map<std::string, double> medians_;             // when only aggregates are reported
};
}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
