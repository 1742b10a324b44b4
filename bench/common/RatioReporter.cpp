#include "common/RatioReporter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <set>
#include <vector>

namespace zolkbench {
namespace {

struct Comparison {
  std::string candidate, baseline;
  double limit;
  Goal goal;
};

struct Figure {
  double nsPerIteration = 0;
  double bytesPerSecond = 0;
  double itemsPerSecond = 0;
};

std::vector<Comparison>& Comparisons() {
  static std::vector<Comparison> c;
  return c;
}

// A run's name without its "/repeats:N" part, so that a comparison names a
// benchmark the same way however often it is repeated.
std::string withoutRepeats(std::string name) {
  const std::size_t at = name.find("/repeats:");
  if (at == std::string::npos) return name;
  const std::size_t end = name.find('/', at + 1);
  return name.erase(at, end == std::string::npos ? std::string::npos : end - at);
}

// Console output as usual, plus a record of each run's figures.
class RecordingReporter final : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, Figure> figures;

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      // With repetitions, the median of the repetitions stands for the
      // benchmark (under its plain name); otherwise the single run does.
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type != Run::RT_Iteration && !median) continue;
      const std::string name = withoutRepeats(run.run_name.str());
      if (!median && medians_.count(name)) continue;
      if (median) medians_.insert(name);
      Figure f;
      f.nsPerIteration = run.GetAdjustedRealTime() *
                         benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
                         benchmark::GetTimeUnitMultiplier(run.time_unit);
      auto counter = [&](const char* counterName) {
        auto it = run.counters.find(counterName);
        return it == run.counters.end() ? 0.0 : static_cast<double>(it->second);
      };
      f.bytesPerSecond = counter("bytes_per_second");
      f.itemsPerSecond = counter("items_per_second");
      figures[name] = f;
    }
  }

 private:
  std::set<std::string> medians_;
};

}  // namespace

void Compare(const std::string& candidate, const std::string& baseline, double limit, Goal goal) {
  Comparisons().push_back({candidate, baseline, limit, goal});
}

void Report(const std::string& candidate, const std::string& baseline) {
  Comparisons().push_back({candidate, baseline, 0, Goal::None});
}

int RunAndCompare(int argc, char** argv) {
  // Repetitions of different benchmarks run interleaved in random order
  // (unless the command line says otherwise), so that a slow phase of the
  // machine does not fall on one side of a comparison only.
  std::vector<char*> args(argv, argv + argc);
  static char interleave[] = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave);
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  argv = args.data();
  argc = count;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\n%-40s %-34s %12s %12s %8s  %s\n", "figure", "baseline", "figure", "baseline",
              "ratio", "goal");
  for (const Comparison& c : Comparisons()) {
    auto cand = reporter.figures.find(c.candidate);
    if (cand == reporter.figures.end()) continue;
    auto base = reporter.figures.find(c.baseline);
    if (base == reporter.figures.end()) continue;
    const Figure& a = cand->second;
    const Figure& b = base->second;
    double ratio;
    char fa[32], fb[32];
    double na = 0, nb = 0;  // times per item or iteration
    if (c.goal == Goal::AtLeast) {
      // Throughput: bytes per second where set, else items, else 1/time.
      double ta = a.bytesPerSecond, tb = b.bytesPerSecond;
      const char* unit = "MB/s";
      double scale = 1e-6;
      if (ta == 0 || tb == 0) {
        ta = a.itemsPerSecond, tb = b.itemsPerSecond, unit = "M/s";
      }
      if (ta == 0 || tb == 0) {
        ta = 1e9 / a.nsPerIteration, tb = 1e9 / b.nsPerIteration, unit = "M/s";
      }
      ratio = ta / tb;
      std::snprintf(fa, sizeof fa, "%.1f%s", ta * scale, unit);
      std::snprintf(fb, sizeof fb, "%.1f%s", tb * scale, unit);
    } else {
      const bool perItem = a.itemsPerSecond > 0 && b.itemsPerSecond > 0;
      na = perItem ? 1e9 / a.itemsPerSecond : a.nsPerIteration;
      nb = perItem ? 1e9 / b.itemsPerSecond : b.nsPerIteration;
      ratio = na / nb;
      std::snprintf(fa, sizeof fa, "%.1fns", na);
      std::snprintf(fb, sizeof fb, "%.1fns", nb);
    }
    if (c.goal == Goal::AddsAtMost) {
      const double added = na - nb;
      std::printf("%-40s %-34s %12s %12s %7.2fx  adds %.1fns <= %.0f ns: %s\n", c.candidate.c_str(),
                  c.baseline.c_str(), fa, fb, ratio, added, c.limit,
                  added <= c.limit ? "met" : "MISSED");
      continue;
    }
    if (c.goal == Goal::None) {
      std::printf("%-40s %-34s %12s %12s %7.2fx  -\n", c.candidate.c_str(), c.baseline.c_str(), fa,
                  fb, ratio);
      continue;
    }
    bool met = c.goal == Goal::AtLeast ? ratio >= c.limit : ratio <= c.limit;
    std::printf("%-40s %-34s %12s %12s %7.2fx  %s %.2fx: %s\n", c.candidate.c_str(),
                c.baseline.c_str(), fa, fb, ratio, c.goal == Goal::AtLeast ? ">=" : "<=", c.limit,
                met ? "met" : "MISSED");
  }
  return 0;
}

}  // namespace zolkbench
