// Reporting of benchmark figures against their baselines from the same run.
//
// A benchmark program registers its benchmarks as usual, declares which
// figure is compared with which baseline, and ends with RunAndCompare():
//
//   zolkbench::Compare("BM_Lib/one_instance", "BM_RawSyslog", 1.05);
//   return zolkbench::RunAndCompare(argc, argv);
//
// After the usual console table it prints one line per comparison: both
// times and their ratio, and whether the goal is met. Times are per item
// where both benchmarks set items processed (per message, say, however many
// a loop iteration writes), else per iteration; throughput comparisons use
// bytes per second where set. Goals are reported, never enforced: the exit
// status only says whether the run worked. A benchmark run with repetitions
// is represented by the median of its repetitions; repetitions of different
// benchmarks are interleaved in random order.
#ifndef ZOLK_BENCH_COMMON_RATIOREPORTER_H
#define ZOLK_BENCH_COMMON_RATIOREPORTER_H

#include <string>

namespace zolkbench {

enum class Goal {
  AtMost,   // candidate time / baseline time <= limit (slower by at most)
  AtLeast,  // candidate throughput / baseline throughput >= limit
  None,     // the ratio of times, reported without a goal
  AddsAtMost,  // candidate time - baseline time <= limit, in nanoseconds
};

// Names are benchmark run names as printed (e.g. "BM_Read/65536",
// "BM_Put/threads:2"). A missing name (filtered out) skips the comparison.
void Compare(const std::string& candidate, const std::string& baseline, double limit,
             Goal goal = Goal::AtMost);

// A ratio of times reported without a goal.
void Report(const std::string& candidate, const std::string& baseline);

int RunAndCompare(int argc, char** argv);

}  // namespace zolkbench

#endif
