// The record cipher against memcpy of the same bytes: one block of 100 and 200 bytes (record
// sizes) and of 4096 bytes (a page), each enciphered again and again in place in the cache, and a
// run of 655 records of 100 bytes under their record keys, the cipher's share of a 64 KiB
// Fmultiread or Fmultiwrite on an enciphered file, against one memcpy of the run. After the runs
// it prints each cipher time as a multiple of memcpy's; the SSE2 tier (what a processor without
// AVX2 runs) and the plain reference loop are timed beside them.
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
#include "support/paired.h"
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

// A run of records as a record file holds them: logical records of kRecordLength bytes, each
// enciphered alone into kRecordLength + 1 bytes under the key of its record number.
constexpr unsigned kRecordLength = 100;
constexpr unsigned kRunRecords = 655;  // 65,500 bytes, as Fmultiread and Fmultiwrite of 64 KiB

unsigned char recordKey(unsigned index) {
  return static_cast<unsigned char>(index + ((index & 0x7FFF) >> 8) + (index >> 16));
}

struct RecordRun {
  RecordRun() : plain(kRunRecords * kRecordLength), enciphered(kRunRecords * (kRecordLength + 1)) {
    std::mt19937 gen(kRunRecords);
    for (auto& b : plain)
      b = static_cast<char>(gen());
    for (unsigned i = 0; i < kRunRecords; ++i)
      Coding::Encode(&plain[i * kRecordLength], &enciphered[i * (kRecordLength + 1)], kRecordLength,
                     recordKey(i));
  }
  std::vector<char> plain, enciphered;
};

void BM_MemcpyRecords(benchmark::State& state) {
  RecordRun run;
  std::vector<char> out(run.plain.size());
  for (auto _ : state) {
    benchmark::DoNotOptimize(run.plain.data());
    std::memcpy(out.data(), run.plain.data(), out.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}

void BM_EncodeRecords(benchmark::State& state) {
  RecordRun run;
  std::vector<char> out(run.enciphered.size());
  for (auto _ : state) {
    benchmark::DoNotOptimize(run.plain.data());
    for (unsigned i = 0; i < kRunRecords; ++i)
      Coding::Encode(&run.plain[i * kRecordLength], &out[i * (kRecordLength + 1)], kRecordLength,
                     recordKey(i));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * run.plain.size()));
}

void BM_DecodeRecords(benchmark::State& state) {
  RecordRun run;
  std::vector<char> out(run.plain.size());
  for (auto _ : state) {
    benchmark::DoNotOptimize(run.enciphered.data());
    unsigned good = 0;
    for (unsigned i = 0; i < kRunRecords; ++i)
      good += Coding::Decode(&run.enciphered[i * (kRecordLength + 1)], &out[i * kRecordLength],
                             kRecordLength, recordKey(i));
    benchmark::DoNotOptimize(good);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * run.plain.size()));
}

// 4 KiB enciphered and deciphered against memcpy of the same bytes, in paired rounds of 64
// blocks each.
void BM_PairedEncode4K(benchmark::State& state) {
  Buffers b(4096);
  kestle_bench::pairedRounds(
      state,
      [&] {
        benchmark::DoNotOptimize(b.plain.data());
        std::memcpy(b.out.data(), b.plain.data(), 4096);
        benchmark::ClobberMemory();
      },
      [&] {
        benchmark::DoNotOptimize(b.plain.data());
        Coding::Encode(b.plain.data(), b.out.data(), 4096, kKey);
        benchmark::ClobberMemory();
      },
      64);
}
void BM_PairedDecode4K(benchmark::State& state) {
  Buffers b(4096);
  kestle_bench::pairedRounds(
      state,
      [&] {
        benchmark::DoNotOptimize(b.plain.data());
        std::memcpy(b.out.data(), b.plain.data(), 4096);  // the same copy as for Encode
        benchmark::ClobberMemory();
      },
      [&] {
        benchmark::DoNotOptimize(b.enciphered.data());
        bool ok = Coding::Decode(b.enciphered.data(), b.out.data(), 4096, kKey);
        benchmark::DoNotOptimize(ok);
        benchmark::ClobberMemory();
      },
      64);
}

BENCHMARK(BM_PairedEncode4K)->Repetitions(7);
BENCHMARK(BM_PairedDecode4K)->Repetitions(7);
BENCHMARK(BM_Memcpy)->Arg(100)->Arg(200)->Arg(4096);
BENCHMARK(BM_Encode)->Arg(100)->Arg(200)->Arg(4096);
BENCHMARK(BM_Decode)->Arg(100)->Arg(200)->Arg(4096);
BENCHMARK(BM_EncodeSse2)->Arg(100)->Arg(200)->Arg(4096);
BENCHMARK(BM_DecodeSse2)->Arg(100)->Arg(200)->Arg(4096);
BENCHMARK(BM_EncodeReference)->Arg(100)->Arg(4096);
BENCHMARK(BM_MemcpyRecords);
BENCHMARK(BM_EncodeRecords);
BENCHMARK(BM_DecodeRecords);

void printRatios(kestle_bench::RatioReporter const& r) {
  std::printf("\nTime as a multiple of memcpy of the same bytes (median CPU time):\n");
  for (std::string name :
       {"BM_Encode", "BM_Decode", "BM_EncodeSse2", "BM_DecodeSse2", "BM_EncodeReference"}) {
    for (std::string size : {"100", "200", "4096"}) {
      std::string goal = size == "4096" && name.size() == 9 ? "at most 4x" : "";
      r.ratio(name.substr(3) + " " + size + " B", name + "/" + size, "BM_Memcpy/" + size, goal);
    }
  }
  r.ratio("Encode 655 records of 100 B", "BM_EncodeRecords", "BM_MemcpyRecords");
  auto const& p = static_cast<kestle_bench::PairedReporter const&>(r);
  std::printf("Paired rounds, CPU time as a multiple of memcpy:\n");
  p.spread("Encode 4096 B / memcpy", "BM_PairedEncode4K", "at most 1.5x");
  p.spread("Decode 4096 B / memcpy", "BM_PairedDecode4K", "at most 1.5x");
  r.ratio("Decode 655 records of 100 B", "BM_DecodeRecords", "BM_MemcpyRecords");
}

}  // namespace

int main(int argc, char** argv) {
  // The median over repetitions (--benchmark_repetitions) is what a busy machine disturbs least.
  kestle_bench::PairedReporter reporter(kestle_bench::RatioReporter::Pick::Median);
  return kestle_bench::runWithRatios(argc, argv, reporter, printRatios);
}
