// Record writes against their baselines, all in one run:
//  - Fmultiwrite of 655 records of 100 bytes (64 KiB) on a plain file against pwrite of the same
//    bytes;
//  - the same Fmultiwrite on an enciphered file against the plain one;
//  - 10,000 single records through Fbufwrite (capacity 64) and Fflushbuf against one Fmultiwrite
//    of the same records, with pwrite of the buffer's runs beside it for reference.
// Every case rewrites the same range of an existing file, so the page cache, not the disk, is
// what is measured. After the runs the ratios of the best wall times are printed.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "kestle/kestle.h"
#include "support/paired.h"
#include "support/ratios.h"
#include "support/record_files.h"

namespace {

using kestle_bench::kRecordLength;
using kestle_bench::RecordFile;
using kestle_bench::records;

constexpr unsigned kChunkRecords = 655;  // 65,500 bytes: 64 KiB of whole records
constexpr unsigned kSingleRecords = 10000;
constexpr unsigned kBufferCapacity = 64;

void BM_Pwrite64K(benchmark::State& state) {
  std::vector<char> data = records(kChunkRecords);
  std::string const path = kestle_bench::scratchDir() / "pwrite";
  int const fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    state.SkipWithError("open failed");
    return;
  }
  for (auto _ : state) {
    if (::pwrite(fd, data.data(), data.size(), 0) != static_cast<ssize_t>(data.size()))
      state.SkipWithError("pwrite failed");
  }
  ::close(fd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

void multiwrite64K(benchmark::State& state, bool cypher) {
  std::vector<char> data = records(kChunkRecords);
  RecordFile file(cypher ? "multi-enciphered" : "multi-plain", cypher);
  for (auto _ : state) {
    unsigned long err = 0;
    Fmultiwrite(file.get(), 1, kChunkRecords, data.data(), err);
    if (err != 0)
      state.SkipWithError("Fmultiwrite failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

void BM_FmultiwritePlain64K(benchmark::State& state) {
  multiwrite64K(state, false);
}
void BM_FmultiwriteEnciphered64K(benchmark::State& state) {
  multiwrite64K(state, true);
}

void BM_FmultiwriteSingles(benchmark::State& state) {
  std::vector<char> data = records(kSingleRecords);
  RecordFile file("singles-multi", false);
  for (auto _ : state) {
    unsigned long err = 0;
    Fmultiwrite(file.get(), 1, kSingleRecords, data.data(), err);
    if (err != 0)
      state.SkipWithError("Fmultiwrite failed");
  }
}

void BM_FbufwriteSingles(benchmark::State& state) {
  std::vector<char> data = records(kSingleRecords);
  RecordFile file("singles-buffered", false);
  for (auto _ : state) {
    for (unsigned i = 0; i < kSingleRecords; ++i)
      Fbufwrite(file.get(), i + 1, kBufferCapacity, data.data() + i * kRecordLength);
    Fflushbuf(file.get());
  }
}

// The enciphered write against the plain one in paired rounds.
void BM_PairedFmultiwrite64K(benchmark::State& state) {
  std::vector<char> data = records(kChunkRecords);
  RecordFile plain("paired-plain", false), enciphered("paired-enciphered", true);
  auto write = [&](FioFile* file) {
    unsigned long err = 0;
    Fmultiwrite(file, 1, kChunkRecords, data.data(), err);
    if (err != 0)
      state.SkipWithError("Fmultiwrite failed");
  };
  kestle_bench::pairedRounds(
      state, [&] { write(plain.get()); }, [&] { write(enciphered.get()); });
}

// 10,000 records through the write buffer (capacity 64) against the same 157 runs of 64 records
// written by Fmultiwrite, in paired rounds.
void BM_PairedFbufwrite(benchmark::State& state) {
  std::vector<char> data = records(kSingleRecords);
  RecordFile buffered("paired-buffered", false), runs("paired-runs", false);
  kestle_bench::pairedRounds(
      state,
      [&] {
        for (unsigned at = 0; at < kSingleRecords; at += kBufferCapacity) {
          unsigned const n = std::min(kBufferCapacity, kSingleRecords - at);
          unsigned long err = 0;
          Fmultiwrite(runs.get(), at + 1, n, data.data() + std::size_t{at} * kRecordLength, err);
        }
      },
      [&] {
        for (unsigned i = 0; i < kSingleRecords; ++i)
          Fbufwrite(buffered.get(), i + 1, kBufferCapacity, data.data() + i * kRecordLength);
        Fflushbuf(buffered.get());
      });
}

// What the buffer's runs cost the kernel alone: the same bytes as pwrite calls of 64 records
// each, the transfers the buffer makes. Shows how much of the buffered ratio is the system calls.
void BM_PwriteRuns(benchmark::State& state) {
  std::vector<char> data = records(kSingleRecords);
  std::string const path = kestle_bench::scratchDir() / "pwrite-runs";
  int const fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    state.SkipWithError("open failed");
    return;
  }
  constexpr std::size_t kRun = kBufferCapacity * kRecordLength;
  for (auto _ : state) {
    for (std::size_t at = 0; at < data.size(); at += kRun) {
      std::size_t const n = std::min(kRun, data.size() - at);
      if (::pwrite(fd, data.data() + at, n, static_cast<off_t>(at)) != static_cast<ssize_t>(n))
        state.SkipWithError("pwrite failed");
    }
  }
  ::close(fd);
}

BENCHMARK(BM_Pwrite64K)->UseRealTime()->Repetitions(5);
BENCHMARK(BM_FmultiwritePlain64K)->UseRealTime()->Repetitions(5);
BENCHMARK(BM_FmultiwriteEnciphered64K)->UseRealTime()->Repetitions(5);
BENCHMARK(BM_FmultiwriteSingles)->UseRealTime()->Repetitions(5);
BENCHMARK(BM_FbufwriteSingles)->UseRealTime()->Repetitions(5);
BENCHMARK(BM_PwriteRuns)->UseRealTime()->Repetitions(5);
BENCHMARK(BM_PairedFmultiwrite64K)->Repetitions(7);
BENCHMARK(BM_PairedFbufwrite)->Repetitions(7);

void printRatios(kestle_bench::RatioReporter const& r) {
  std::printf("\nRecord writes, best wall time as a multiple of the baseline:\n");
  r.ratio("Fmultiwrite 64 KiB plain / pwrite", "BM_FmultiwritePlain64K", "BM_Pwrite64K",
          "at most 1.1x");
  r.ratio("Fmultiwrite 64 KiB enciphered / plain", "BM_FmultiwriteEnciphered64K",
          "BM_FmultiwritePlain64K", "at most 2x");
  r.ratio("10,000 x Fbufwrite + Fflushbuf / Fmultiwrite", "BM_FbufwriteSingles",
          "BM_FmultiwriteSingles", "at most 2x");
  auto const& p = static_cast<kestle_bench::PairedReporter const&>(r);
  std::printf("Paired rounds, CPU time as a multiple of the baseline:\n");
  p.spread("Fmultiwrite 64 KiB enciphered / plain", "BM_PairedFmultiwrite64K",
           "at most 1.5x (aim 1.3x)");
  p.spread("10,000 Fbufwrite (64) + Fflushbuf / 157 Fmultiwrite of 64", "BM_PairedFbufwrite",
           "at most 1.2x (aim 1.1x)");
  std::printf("For reference, the system calls alone:\n");
  r.ratio("157 pwrite runs of 64 records / one Fmultiwrite", "BM_PwriteRuns",
          "BM_FmultiwriteSingles");
  r.ratio("10,000 x Fbufwrite + Fflushbuf / 157 pwrite runs", "BM_FbufwriteSingles",
          "BM_PwriteRuns");
}

}  // namespace

int main(int argc, char** argv) {
  kestle_bench::PairedReporter reporter;
  return kestle_bench::runWithRatios(argc, argv, reporter, printRatios);
}
