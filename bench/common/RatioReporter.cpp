#include "common/RatioReporter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
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

// Console output as usual, plus a record of each run's figures.
class RecordingReporter final : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, Figure> figures;

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      Figure f;
      f.nsPerIteration = run.GetAdjustedRealTime() *
                         benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
                         benchmark::GetTimeUnitMultiplier(run.time_unit);
      auto counter = [&](const char* name) {
        auto it = run.counters.find(name);
        return it == run.counters.end() ? 0.0 : static_cast<double>(it->second);
      };
      f.bytesPerSecond = counter("bytes_per_second");
      f.itemsPerSecond = counter("items_per_second");
      figures[run.benchmark_name()] = f;
    }
  }
};

}  // namespace

void Compare(const std::string& candidate, const std::string& baseline, double limit, Goal goal) {
  Comparisons().push_back({candidate, baseline, limit, goal});
}

void Report(const std::string& candidate, const std::string& baseline) {
  Comparisons().push_back({candidate, baseline, 0, Goal::None});
}

void Limit(const std::string& candidate, double limitNs) {
  Comparisons().push_back({candidate, std::string(), limitNs, Goal::AtMost});
}

int RunAndCompare(int argc, char** argv) {
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
    if (c.baseline.empty()) {
      double ns = cand->second.nsPerIteration;
      std::printf("%-40s %-34s %10.1fns %12s %8s  <= %.0f ns: %s\n", c.candidate.c_str(), "-", ns,
                  "-", "-", c.limit, ns <= c.limit ? "met" : "MISSED");
      continue;
    }
    auto base = reporter.figures.find(c.baseline);
    if (base == reporter.figures.end()) continue;
    const Figure& a = cand->second;
    const Figure& b = base->second;
    double ratio;
    char fa[32], fb[32];
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
      const double na = perItem ? 1e9 / a.itemsPerSecond : a.nsPerIteration;
      const double nb = perItem ? 1e9 / b.itemsPerSecond : b.nsPerIteration;
      ratio = na / nb;
      std::snprintf(fa, sizeof fa, "%.1fns", na);
      std::snprintf(fb, sizeof fb, "%.1fns", nb);
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
