// The value paths of the serialisation buffers and the byte array against what a user would
// otherwise write, in paired rounds (support/paired.h):
//  - XBuffer << (unsigned long) of 1 M values into a new buffer against appending the same 4
//    bytes to a new std::vector<unsigned char>;
//  - XBufferC >> (unsigned long) of 1 M values against memcpy of 4 bytes from a byte vector;
//  - SimpleArrayBase<char,1>::add of 1 M bytes into a new array against
//    std::vector<char>::push_back.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "kestle/kestle.h"
#include "support/paired.h"

namespace {
using kestle_bench::pairedRounds;

constexpr unsigned kValues = 1000000;

void BM_XBufferWrite(benchmark::State& state) {
  pairedRounds(
      state,
      [] {
        std::vector<unsigned char> v;
        for (unsigned long k = 0; k < kValues; ++k) {
          auto const word = static_cast<std::uint32_t>(k);
          unsigned char bytes[4];
          std::memcpy(bytes, &word, 4);
          v.insert(v.end(), bytes, bytes + 4);
        }
        benchmark::DoNotOptimize(v.data());
      },
      [] {
        XBuffer b;
        for (unsigned long k = 0; k < kValues; ++k)
          b << k;
        benchmark::DoNotOptimize(b.at(0));
      });
}

void BM_XBufferCRead(benchmark::State& state) {
  XBuffer b;
  for (unsigned long k = 0; k < kValues; ++k)
    b << k;
  std::vector<unsigned char> bytes(b.at(0), b.at(0) + b.len());
  pairedRounds(
      state,
      [&] {
        std::uint64_t sum = 0;
        for (std::size_t at = 0; at + 4 <= bytes.size(); at += 4) {
          std::uint32_t word;
          std::memcpy(&word, bytes.data() + at, 4);
          sum = (sum << 1 | sum >> 63) ^ word;  // a use that takes one value at a time
        }
        benchmark::DoNotOptimize(sum);
      },
      [&] {
        XBufferC v(static_cast<unsigned>(bytes.size()), bytes.data());
        std::uint64_t sum = 0;
        for (unsigned k = 0; k < kValues; ++k) {
          unsigned long word;
          v >> word;
          sum = (sum << 1 | sum >> 63) ^ word;
        }
        benchmark::DoNotOptimize(sum);
      });
}

void BM_ArrayAdd(benchmark::State& state) {
  pairedRounds(
      state,
      [] {
        std::vector<char> v;
        for (unsigned k = 0; k < kValues; ++k)
          v.push_back(static_cast<char>(k));
        benchmark::DoNotOptimize(v.data());
      },
      [] {
        SimpleArrayBase<char, 1> a;
        for (unsigned k = 0; k < kValues; ++k)
          a.add(static_cast<char>(k));
        benchmark::DoNotOptimize(a.pointer(0));
      });
}

BENCHMARK(BM_XBufferWrite)->Repetitions(7)->Iterations(20);
BENCHMARK(BM_XBufferCRead)->Repetitions(7)->Iterations(20);
BENCHMARK(BM_ArrayAdd)->Repetitions(7)->Iterations(20);

void printRatios(kestle_bench::RatioReporter const& r) {
  auto const& p = static_cast<kestle_bench::PairedReporter const&>(r);
  std::printf("\nPaired rounds, CPU time as a multiple of the baseline:\n");
  p.spread("XBuffer << (unsigned long) x 1M / vector append of 4 bytes", "BM_XBufferWrite",
           "at most 2x");
  p.spread("XBufferC >> (unsigned long) x 1M / memcpy of 4 bytes", "BM_XBufferCRead", "at most 3x");
  p.spread("SimpleArrayBase<char,1>::add x 1M / vector push_back", "BM_ArrayAdd", "at most 2x");
}

}  // namespace

int main(int argc, char** argv) {
  kestle_bench::PairedReporter reporter;
  return kestle_bench::runWithRatios(argc, argv, reporter, printRatios);
}
