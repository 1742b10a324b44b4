// A burst of N messages from 8 threads through the library against the same
// N through raw syslog(), into rsyslogd at a private /dev/log (imuxsock's
// rate limit off). The time is the wall-clock time until the last thread has
// handed over its last message; the daemon then writes what it still holds
// (untimed), and what it wrote for the side is counted: "arrived" (per
// burst), "missing" numbers and numbers written "twice"; and the CPU time
// per message of the sending process and of the daemon.
//
//   bench_zolksys_burst [--burst=N] [benchmark flags]     (N: 100000)
//
// Each side runs 9 bursts (fewer, down to 3, for N above 555555).

#include <sys/resource.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>
#include <zolk2sys.h>

#include "RsyslogDaemon.h"
#include "common/RatioReporter.h"

namespace {

constexpr int kThreads = 8;
constexpr char kText1[] = "burst";
zolk::RsyslogDaemon* g_daemon = nullptr;
int g_burst = 100000;

// CPU time used so far, in seconds: of this process (all its threads) and
// of the daemon. The senders and the daemon share the machine's cores, so
// what a side spends per message is taken from the daemon's pace.
double OwnCpu() {
  struct rusage u;
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

double DaemonCpu() {
  std::ifstream in("/proc/" + std::to_string(g_daemon->pid()) + "/stat");
  std::string line;
  std::getline(in, line);
  // Fields after the parenthesised name: state is the 3rd, utime the 14th.
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string skip;
  for (int i = 3; i < 14; ++i) fields >> skip;
  double utime = 0, stime = 0;
  fields >> utime >> stime;
  return (utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

enum class Side { Raw, LibShared, LibPerThread };

const char* ProgramOf(Side side) { return side == Side::Raw ? "zolkburst-raw" : "zolkburst-lib"; }

void BM_Burst(benchmark::State& state, Side side) {
  const int n = static_cast<int>(state.range(0));
  ZOLK2_SYSLOG* inst[kThreads] = {};
  for (int t = 0; t < kThreads; ++t) {
    if (side == Side::LibShared && t > 0) {
      inst[t] = inst[0];
      continue;
    }
    ZOLK2_CreateSysLogInstance(&inst[t]);
    ZOLK2_OpenSysLogInstance(inst[t], ProgramOf(side), LOG_PID, LOG_LOCAL4);
  }
  // The library sets the connection when one of its instances writes next;
  // raw syslog() needs it set here.
  if (side == Side::Raw) ::openlog(ProgramOf(side), LOG_PID, LOG_LOCAL4);
  double arrived = 0, missing = 0, twice = 0, ownCpu = 0, daemonCpu = 0;
  for (auto _ : state) {
    const double own0 = OwnCpu(), daemon0 = DaemonCpu();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([t, n, side, &inst] {
        char number[16];
        for (int i = t; i < n; i += kThreads) {
          std::snprintf(number, sizeof number, "%07d", i);
          if (side == Side::Raw)
            ::syslog(LOG_INFO, "%s %s", kText1, number);
          else
            ZOLK2_PutToSysLogInstance(inst[t], LOG_INFO, kText1, number);
        }
      });
    for (std::thread& th : threads) th.join();

    state.PauseTiming();
    ownCpu += OwnCpu() - own0;
    std::vector<int> seen(static_cast<std::size_t>(n), 0);
    for (const zolk::SyslogRecord& r : g_daemon->Collect(600000)) {
      if (r.program != ProgramOf(side) || r.text.compare(0, sizeof kText1, "burst ") != 0) continue;
      const long i = std::strtol(r.text.c_str() + sizeof kText1, nullptr, 10);
      if (i >= 0 && i < n) ++seen[static_cast<std::size_t>(i)];
    }
    daemonCpu += DaemonCpu() - daemon0;  // what the daemon spent writing this burst
    for (int c : seen) {
      arrived += c;
      missing += c == 0;
      twice += c > 1;
    }
    if (!g_daemon->ok()) state.SkipWithError(g_daemon->error().c_str());
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n);
  state.counters["arrived"] = benchmark::Counter(arrived, benchmark::Counter::kAvgIterations);
  state.counters["missing"] = benchmark::Counter(missing, benchmark::Counter::kAvgIterations);
  state.counters["twice"] = benchmark::Counter(twice, benchmark::Counter::kAvgIterations);
  // CPU nanoseconds per message: of the sending process, and of the daemon.
  const double perMessage = 1e9 / (static_cast<double>(state.iterations()) * n);
  state.counters["send_cpu_ns"] = ownCpu * perMessage;
  state.counters["daemon_cpu_ns"] = daemonCpu * perMessage;
  for (int t = 0; t < kThreads; ++t)
    if (side != Side::LibShared || t == 0) ZOLK2_DeleteSysLogInstance(inst[t]);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--burst=", 8) == 0)
      g_burst = std::atoi(argv[i] + 8);
    else
      rest.push_back(argv[i]);
  }
  // The daemon's file keeps every line until the program ends, on a 1 GiB
  // tmpfs at some 60 bytes a line: 15 million lines for the whole run.
  constexpr long kLinesPerRun = 15000000;
  const long repetitions = std::min(9L, kLinesPerRun / (3L * std::max(g_burst, 1)));
  if (g_burst < kThreads || repetitions < 3) {
    std::fprintf(stderr, "bench_zolksys_burst: --burst must be from %d to %ld\n", kThreads,
                 kLinesPerRun / 9);
    return 2;
  }
  // Started before Google Benchmark starts any thread: the daemon's private
  // namespaces can only be entered by a process with a single thread.
  zolk::RsyslogDaemon daemon;
  if (!daemon.ok()) {
    std::fprintf(stderr,
                 "bench_zolksys_burst: no rsyslogd for this run (%s); not flooding the host's "
                 "system log, so nothing is measured\n",
                 daemon.error().c_str());
    return 0;
  }
  g_daemon = &daemon;
  std::printf("sink: %s, imuxsock rate limit off; %d messages a burst from %d threads\n",
              daemon.where().c_str(), g_burst, kThreads);

  const struct {
    const char* name;
    Side side;
  } all[] = {{"raw_syslog", Side::Raw},
             {"lib_shared_instance", Side::LibShared},
             {"lib_instance_per_thread", Side::LibPerThread}};
  // Nine repetitions of a burst of a second or so, interleaved at random and
  // represented by their medians: on cores shared with other work a slow
  // phase then falls on both sides instead of deciding the ratio.
  for (const auto& b : all)
    benchmark::RegisterBenchmark(b.name, BM_Burst, b.side)
        ->Arg(g_burst)
        ->Iterations(1)
        ->Repetitions(static_cast<int>(repetitions))
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
  const std::string suffix = "/" + std::to_string(g_burst) + "/iterations:1/real_time";
  zolkbench::Compare("lib_shared_instance" + suffix, "raw_syslog" + suffix, 1.05);
  zolkbench::Compare("lib_instance_per_thread" + suffix, "raw_syslog" + suffix, 1.05);
  rest.push_back(nullptr);
  return zolkbench::RunAndCompare(static_cast<int>(rest.size()) - 1, rest.data());
}
