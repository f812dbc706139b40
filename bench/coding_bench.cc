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
#include "support/ratios.h"

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

void printRatios(kestle_bench::RatioReporter const& r) {
  std::printf("\nTime as a multiple of memcpy of the same bytes (median CPU time):\n");
  for (std::string name :
       {"BM_Encode", "BM_Decode", "BM_EncodeSse2", "BM_DecodeSse2", "BM_EncodeReference"}) {
    for (std::string size : {"100", "4096"}) {
      std::string goal = size == "4096" && name.size() == 9 ? "at most 4x" : "";
      r.ratio(name.substr(3) + " " + size + " B", name + "/" + size, "BM_Memcpy/" + size, goal);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  // The median over repetitions (--benchmark_repetitions) is what a busy machine disturbs least.
  kestle_bench::RatioReporter reporter(kestle_bench::RatioReporter::Pick::Median);
  return kestle_bench::runWithRatios(argc, argv, reporter, printRatios);
}
