// The message both the library and the raw syslog() baseline write, and the
// benchmark bodies that write it through the library.
#ifndef ZOLK_BENCH_ZOLKSYS_BENCHMESSAGES_H
#define ZOLK_BENCH_ZOLKSYS_BENCHMESSAGES_H

#include <syslog.h>

#include <benchmark/benchmark.h>
#include <zolk2sys.h>

namespace zolkbench {

// text1 and text2 as a server would write them; kJoined is what the
// library makes of them without a thread id.
constexpr char kText1[] = "order-service";
constexpr char kText2[] = "request 4711 completed in 12 ms, status 200, 1832 bytes sent";
constexpr char kJoined[] =
    "order-service request 4711 completed in 12 ms, status 200, 1832 bytes sent";

// Instances shared by the threads of a multi-threaded run: created before
// the first thread runs, deleted after the last one.
class Instances final {
 public:
  Instances() {
    for (int i = 0; i < 2; ++i) {
      ZOLK2_CreateSysLogInstance(&inst[i]);
      ZOLK2_OpenSysLogInstance(inst[i], i == 0 ? "bench-a" : "bench-b", LOG_PID, LOG_USER);
    }
    ZOLK2_CreateSysLogInstance(&withTid);
    ZOLK2_OpenSysLogInstance(withTid, "bench-tid", LOG_PID | ZOLK2_SYSLOG_OPT_WITH_TID, LOG_USER);
  }
  ~Instances() {
    ZOLK2_DeleteSysLogInstance(inst[0]);
    ZOLK2_DeleteSysLogInstance(inst[1]);
    ZOLK2_DeleteSysLogInstance(withTid);
  }
  ZOLK2_SYSLOG* inst[2] = {};
  ZOLK2_SYSLOG* withTid = nullptr;
};

inline Instances& Shared() {
  static Instances instances;
  return instances;
}

inline void BM_Lib_OneInstance(benchmark::State& state) {
  ZOLK2_SYSLOG* inst = Shared().inst[0];
  for (auto _ : state) ZOLK2_PutToSysLogInstance(inst, LOG_INFO, kText1, kText2);
  state.SetItemsProcessed(state.iterations());
}

inline void BM_Lib_Alternating(benchmark::State& state) {
  ZOLK2_SYSLOG* a = Shared().inst[0];
  ZOLK2_SYSLOG* b = Shared().inst[1];
  for (auto _ : state) {
    ZOLK2_PutToSysLogInstance(a, LOG_INFO, kText1, kText2);
    ZOLK2_PutToSysLogInstance(b, LOG_INFO, kText1, kText2);
  }
  state.SetItemsProcessed(state.iterations() * 2);
}

inline void BM_Lib_WithTid(benchmark::State& state) {
  ZOLK2_SYSLOG* inst = Shared().withTid;
  for (auto _ : state) ZOLK2_PutToSysLogInstance(inst, LOG_INFO, kText1, kText2);
  state.SetItemsProcessed(state.iterations());
}

inline void BM_RawSyslog(benchmark::State& state) {
  if (state.thread_index() == 0) ::openlog("bench-raw", LOG_PID, LOG_USER);
  for (auto _ : state) ::syslog(LOG_INFO, "%s", kJoined);
  state.SetItemsProcessed(state.iterations());
}

// Raw syslog() writing for two identities in turn, as a program without the
// library would have to: openlog before every message.
inline void BM_RawSyslog_Alternating(benchmark::State& state) {
  for (auto _ : state) {
    ::openlog("bench-a", LOG_PID, LOG_USER);
    ::syslog(LOG_INFO, "%s", kJoined);
    ::openlog("bench-b", LOG_PID, LOG_USER);
    ::syslog(LOG_INFO, "%s", kJoined);
  }
  state.SetItemsProcessed(state.iterations() * 2);
}

// All benchmarks. Wall-clock time throughout: a message's cost includes the
// kernel's work for the socket and waiting on the C library's own lock.
// Each is repeated and represented by its median, since a few percent is
// what the comparisons are about and a shared machine is noisier than that.
inline void RegisterAll() {
  const struct {
    const char* name;
    void (*fn)(benchmark::State&);
    int threads;
  } all[] = {
      {"raw_syslog", BM_RawSyslog, 1},
      {"raw_syslog_alternating", BM_RawSyslog_Alternating, 1},
      {"lib_one_instance", BM_Lib_OneInstance, 1},
      {"lib_alternating", BM_Lib_Alternating, 1},
      {"lib_with_tid", BM_Lib_WithTid, 1},
      {"raw_syslog", BM_RawSyslog, 2},
      {"lib_one_instance", BM_Lib_OneInstance, 2},
  };
  for (const auto& b : all) {
    benchmark::internal::Benchmark* r = benchmark::RegisterBenchmark(b.name, b.fn);
    if (b.threads > 1) r->Threads(b.threads);
    r->UseRealTime()->Repetitions(7)->ReportAggregatesOnly(true);
  }
}

}  // namespace zolkbench

#endif
