// Paired rounds for a machine that other work shares: one benchmark times a baseline and the
// library's subject in alternating rounds, so that a burst of load hits both alike, and keeps
// their ratio per repetition. The reporter prints each ratio's median and range over the
// repetitions.
#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/ratios.h"

namespace kestle_bench {

// Each iteration runs `base` and then `subject` `batch` times each (in the other order every
// second iteration), timed by the thread's CPU clock (system calls included). Sets the counter
// "ratio" to subject time / base time over all iterations.
void pairedRounds(benchmark::State& state, std::function<void()> const& base,
                  std::function<void()> const& subject, int batch = 1);

// Keeps the "ratio" counter of every repetition of every paired benchmark.
class PairedReporter : public RatioReporter {
 public:
  explicit PairedReporter(Pick pick = Pick::Best) : RatioReporter(pick) {}
  void ReportRuns(std::vector<Run> const& runs) override;
  // Prints "label  median (min - max over N)" for the benchmark `name`, and the goal.
  void spread(std::string const& label, std::string const& name, std::string const& goal) const;

 private:
  std::map<std::string, std::vector<double>> ratios_;
};

}  // namespace kestle_bench
