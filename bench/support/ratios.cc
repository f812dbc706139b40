#include "support/ratios.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace kestle_bench {

void RatioReporter::ReportRuns(std::vector<Run> const& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (auto const& run : runs) {
    if (run.run_type != Run::RT_Iteration || run.error_occurred)
      continue;
    bool const real = !run.run_name.time_type.empty();
    std::string name = run.run_name.function_name;
    if (!run.run_name.args.empty())
      name += "/" + run.run_name.args;
    times_[name].push_back(real ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime());
  }
}

double RatioReporter::time(std::string const& name) const {
  auto it = times_.find(name);
  if (it == times_.end() || it->second.empty())
    return 0;
  std::vector<double> t = it->second;
  std::sort(t.begin(), t.end());
  return pick_ == Pick::Best ? t.front() : t[t.size() / 2];
}

void RatioReporter::ratio(std::string const& label, std::string const& name,
                          std::string const& base, std::string const& goal) const {
  double const n = time(name), b = time(base);
  if (n <= 0 || b <= 0)
    return;
  if (goal.empty()) {
    std::printf("  %-50s %6.2fx\n", label.c_str(), n / b);
  } else {
    std::printf("  %-50s %6.2fx  (goal %s)\n", label.c_str(), n / b, goal.c_str());
  }
}

namespace {
std::filesystem::path& scratch() {
  static std::filesystem::path dir;
  return dir;
}
}  // namespace

std::filesystem::path const& scratchDir() {
  if (scratch().empty()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestle-bench-XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    scratch() = pattern;
  }
  return scratch();
}

void removeScratchDir() {
  if (scratch().empty())
    return;
  std::error_code ec;
  std::filesystem::remove_all(scratch(), ec);
  scratch().clear();
}

int runWithRatios(int argc, char** argv, RatioReporter& reporter,
                  std::function<void(RatioReporter const&)> const& printRatios,
                  std::function<void()> const& atEnd) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  printRatios(reporter);
  benchmark::Shutdown();
  if (atEnd)
    atEnd();
  removeScratchDir();
  return 0;
}

}  // namespace kestle_bench
