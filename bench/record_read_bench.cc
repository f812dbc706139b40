// Record reads against their baselines, all in one run:
//  - Fmultiread of 655 records of 100 bytes (64 KiB) from a page-cached plain file against pread
//    of the same range;
//  - the same Fmultiread from an enciphered file against the plain one;
//  - four threads reading 64 KiB runs through one FioFile against one thread doing the same
//    total work (aggregate throughput), on the plain and on the enciphered file.
// The files are written once and read many times, so the page cache, not the disk, is what is
// measured. After the runs the ratios of the best wall times are printed.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kestle/kestle.h"
#include "support/paired.h"
#include "support/ratios.h"
#include "support/record_files.h"

namespace {

using kestle_bench::kRecordLength;
using kestle_bench::records;

constexpr unsigned kRunRecords = 655;     // 65,500 bytes: 64 KiB of whole records
constexpr unsigned kFileRecords = 40000;  // 4 MB: many distinct runs, still page-cached
constexpr unsigned kParallelRuns = 256;   // runs of one parallel iteration, over all threads

// A record file of kFileRecords records, written once and open for the program's life.
class RecordFile {
 public:
  explicit RecordFile(bool cypher) : file_(cypher ? "enciphered" : "plain", cypher) {
    std::vector<char> data = records(kFileRecords);
    unsigned long err = 0;
    Fmultiwrite(file_.get(), 1, kFileRecords, data.data(), err);
    if (err != 0) {
      std::fprintf(stderr, "cannot write the bench file\n");
      std::exit(1);
    }
    Fflush(file_.get());
  }
  FioFile* get() const { return file_.get(); }
  std::string path() const { return kestle_bench::scratchDir() / "plain"; }

 private:
  kestle_bench::RecordFile file_;
};

// Made on first use and closed by closeFiles before the bench directory goes.
std::unique_ptr<RecordFile> plain, enciphered;

RecordFile& plainFile() {
  if (!plain)
    plain = std::make_unique<RecordFile>(false);
  return *plain;
}
RecordFile& encipheredFile() {
  if (!enciphered)
    enciphered = std::make_unique<RecordFile>(true);
  return *enciphered;
}

void closeFiles() {
  plain.reset();
  enciphered.reset();
}

// The first record of the k-th run: runs spread over the file.
unsigned runStart(unsigned k) {
  return 1 + (k * 7919u) % (kFileRecords - kRunRecords);
}

void BM_Pread64K(benchmark::State& state) {
  int const fd = ::open(plainFile().path().c_str(), O_RDONLY);
  if (fd < 0) {
    state.SkipWithError("open failed");
    return;
  }
  std::vector<char> buffer(kRunRecords * kRecordLength);
  unsigned k = 0;
  for (auto _ : state) {
    off_t const at = static_cast<off_t>(runStart(k++) - 1) * kRecordLength;
    if (::pread(fd, buffer.data(), buffer.size(), at) != static_cast<ssize_t>(buffer.size()))
      state.SkipWithError("pread failed");
    benchmark::DoNotOptimize(buffer.data());
  }
  ::close(fd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buffer.size()));
}

void multiread64K(benchmark::State& state, FioFile* file) {
  std::vector<char> buffer(kRunRecords * kRecordLength);
  unsigned k = 0;
  for (auto _ : state) {
    unsigned nread = 0;
    bool eof = false;
    Fmultiread(file, runStart(k++), kRunRecords, buffer.data(), nread, eof);
    if (nread != kRunRecords)
      state.SkipWithError("short Fmultiread");
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buffer.size()));
}

void BM_FmultireadPlain64K(benchmark::State& state) {
  multiread64K(state, plainFile().get());
}
void BM_FmultireadEnciphered64K(benchmark::State& state) {
  multiread64K(state, encipheredFile().get());
}

// The enciphered read against the plain one in paired rounds, each reading the same runs.
void BM_PairedFmultiread64K(benchmark::State& state) {
  FioFile* const plainHandle = plainFile().get();
  FioFile* const encipheredHandle = encipheredFile().get();
  std::vector<char> buffer(kRunRecords * kRecordLength);
  unsigned k = 0, l = 0;
  auto read = [&](FioFile* file, unsigned& next) {
    unsigned nread = 0;
    bool eof = false;
    Fmultiread(file, runStart(next++), kRunRecords, buffer.data(), nread, eof);
    if (nread != kRunRecords)
      state.SkipWithError("short Fmultiread");
  };
  kestle_bench::pairedRounds(
      state, [&] { read(plainHandle, k); }, [&] { read(encipheredHandle, l); });
}

// One iteration reads kParallelRuns runs of 64 KiB through one handle, shared out over
// state.range(0) threads, so the wall times of the thread counts compare equal work.
void parallelReads(benchmark::State& state, FioFile* file) {
  unsigned const threads = static_cast<unsigned>(state.range(0));
  for (auto _ : state) {
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t) {
      workers.emplace_back([=, &state] {
        std::vector<char> buffer(kRunRecords * kRecordLength);
        for (unsigned k = t; k < kParallelRuns; k += threads) {
          unsigned nread = 0;
          bool eof = false;
          Fmultiread(file, runStart(k), kRunRecords, buffer.data(), nread, eof);
          if (nread != kRunRecords)
            state.SkipWithError("short Fmultiread");
        }
      });
    }
    for (auto& w : workers)
      w.join();
  }
  state.SetBytesProcessed(
      static_cast<int64_t>(state.iterations() * kParallelRuns * kRunRecords * kRecordLength));
}

// The same work as pread calls, one descriptor per thread: what the kernel and the memory
// system allow, for reference.
void BM_ParallelPread(benchmark::State& state) {
  unsigned const threads = static_cast<unsigned>(state.range(0));
  std::string const path = plainFile().path();
  for (auto _ : state) {
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t) {
      workers.emplace_back([=, &state] {
        int const fd = ::open(path.c_str(), O_RDONLY);
        std::vector<char> buffer(kRunRecords * kRecordLength);
        for (unsigned k = t; k < kParallelRuns; k += threads) {
          off_t const at = static_cast<off_t>(runStart(k) - 1) * kRecordLength;
          if (::pread(fd, buffer.data(), buffer.size(), at) != static_cast<ssize_t>(buffer.size()))
            state.SkipWithError("pread failed");
        }
        ::close(fd);
      });
    }
    for (auto& w : workers)
      w.join();
  }
}

void BM_ParallelPlain(benchmark::State& state) {
  parallelReads(state, plainFile().get());
}
void BM_ParallelEnciphered(benchmark::State& state) {
  parallelReads(state, encipheredFile().get());
}

BENCHMARK(BM_Pread64K)->UseRealTime()->Repetitions(5);
BENCHMARK(BM_FmultireadPlain64K)->UseRealTime()->Repetitions(5);
BENCHMARK(BM_FmultireadEnciphered64K)->UseRealTime()->Repetitions(5);
BENCHMARK(BM_PairedFmultiread64K)->Repetitions(7);
BENCHMARK(BM_ParallelPread)->Arg(1)->Arg(4)->UseRealTime()->Repetitions(5);
BENCHMARK(BM_ParallelPlain)->Arg(1)->Arg(4)->UseRealTime()->Repetitions(5);
BENCHMARK(BM_ParallelEnciphered)->Arg(1)->Arg(4)->UseRealTime()->Repetitions(5);

void printRatios(kestle_bench::RatioReporter const& r) {
  std::printf("\nRecord reads, best wall time as a multiple of the baseline:\n");
  r.ratio("Fmultiread 64 KiB plain / pread", "BM_FmultireadPlain64K", "BM_Pread64K",
          "at most 1.1x");
  r.ratio("Fmultiread 64 KiB enciphered / plain", "BM_FmultireadEnciphered64K",
          "BM_FmultireadPlain64K", "at most 2.0x");
  static_cast<kestle_bench::PairedReporter const&>(r).spread(
      "Fmultiread 64 KiB enciphered / plain, paired CPU time", "BM_PairedFmultiread64K",
      "at most 1.5x (aim 1.3x)");
  std::printf("Aggregate throughput of 4 threads through one handle over 1 thread:\n");
  r.ratio("plain, 4 threads / 1 thread", "BM_ParallelPlain/1", "BM_ParallelPlain/4",
          "at least 1.5x");
  r.ratio("enciphered, 4 threads / 1 thread", "BM_ParallelEnciphered/1", "BM_ParallelEnciphered/4",
          "at least 1.5x");
  std::printf("For reference, pread with a descriptor per thread:\n");
  r.ratio("pread, 4 threads / 1 thread", "BM_ParallelPread/1", "BM_ParallelPread/4", "");
  std::printf("(hardware threads here: %u)\n", std::thread::hardware_concurrency());
}

}  // namespace

int main(int argc, char** argv) {
  kestle_bench::PairedReporter reporter;
  return kestle_bench::runWithRatios(argc, argv, reporter, printRatios, closeFiles);
}
