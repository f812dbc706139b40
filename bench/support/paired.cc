#include "support/paired.h"

#include <time.h>

#include <algorithm>
#include <cstdio>

namespace kestle_bench {
namespace {
double threadSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}
}  // namespace

void pairedRounds(benchmark::State& state, std::function<void()> const& base,
                  std::function<void()> const& subject, int batch) {
  double baseTime = 0, subjectTime = 0;
  bool baseFirst = true;
  auto timed = [batch](std::function<void()> const& f) {
    double const start = threadSeconds();
    for (int k = 0; k < batch; ++k)
      f();
    return threadSeconds() - start;
  };
  for (auto _ : state) {
    if (baseFirst) {
      baseTime += timed(base);
      subjectTime += timed(subject);
    } else {
      subjectTime += timed(subject);
      baseTime += timed(base);
    }
    baseFirst = !baseFirst;
  }
  state.counters["ratio"] = baseTime > 0 ? subjectTime / baseTime : 0;
}

void PairedReporter::ReportRuns(std::vector<Run> const& runs) {
  RatioReporter::ReportRuns(runs);
  for (auto const& run : runs) {
    auto const it = run.counters.find("ratio");
    if (run.run_type != Run::RT_Iteration || run.error_occurred || it == run.counters.end())
      continue;
    ratios_[run.run_name.function_name].push_back(it->second.value);
  }
}

void PairedReporter::spread(std::string const& label, std::string const& name,
                            std::string const& goal) const {
  auto const it = ratios_.find(name);
  if (it == ratios_.end() || it->second.empty())
    return;
  std::vector<double> r = it->second;
  std::sort(r.begin(), r.end());
  std::printf("  %-58s %5.2fx (%.2f - %.2f over %zu)  goal %s\n", label.c_str(), r[r.size() / 2],
              r.front(), r.back(), r.size(), goal.c_str());
}

}  // namespace kestle_bench
