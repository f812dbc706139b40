// What every benchmark program of the project shares: a reporter that keeps each benchmark's
// times and prints the library's time as a multiple of a baseline measured in the same run, a
// scratch directory for benchmark files, and the main function that ties them together.
#pragma once

#include <benchmark/benchmark.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kestle_bench {

// Shows the runs as usual and keeps each benchmark's time per iteration under its function name
// and arguments (e.g. "BM_ParallelPread/4"): real time for benchmarks that use real time, CPU time
// for the others. With repetitions a benchmark has several times; `Pick` says which one a ratio
// uses.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  enum class Pick { Best, Median };
  explicit RatioReporter(Pick pick = Pick::Best) : pick_(pick) {}

  void ReportRuns(std::vector<Run> const& runs) override;

  // The chosen time of a benchmark, 0 when it did not run.
  double time(std::string const& name) const;
  // Prints "label  N.NNx" for time(name) / time(base), with the goal behind it when given.
  // Prints nothing when either benchmark did not run (a filter left it out).
  void ratio(std::string const& label, std::string const& name, std::string const& base,
             std::string const& goal = "") const;

 private:
  Pick pick_;
  std::map<std::string, std::vector<double>> times_;
};

// A directory for the program's benchmark files, made on first use; removeScratchDir() at the
// end of main removes it.
std::filesystem::path const& scratchDir();
void removeScratchDir();

// Runs the benchmarks that the command line selects with `reporter`, then `printRatios`, then
// `atEnd` (close files before the scratch directory goes), and removes the scratch directory.
int runWithRatios(int argc, char** argv, RatioReporter& reporter,
                  std::function<void(RatioReporter const&)> const& printRatios,
                  std::function<void()> const& atEnd = {});

}  // namespace kestle_bench
