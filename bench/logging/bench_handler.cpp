// A record through the system log handler against the same record through
// the JDK's FileHandler to a file: both loggers format with SimpleFormatter,
// one record at INFO with a 100-byte text. The system log side ends in
// syslog() functions that do nothing, so it shows what the handler and the
// natives cost; the file side includes its write(2) and flush per record.
#include <jni.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <benchmark/benchmark.h>
#include "common/BenchJvm.h"
#include "common/RatioReporter.h"

namespace {

constexpr int kBatch = 1000;  // records per call into Java

JNIEnv* ms_env = nullptr;
jclass ms_loop = nullptr;
jmethodID ms_log = nullptr;
jstring ms_text = nullptr;
std::string ms_file;

bool startJvm() {
  ms_env = zolkbench::StartJvm(ZOLK_BENCH_JAR ":" ZOLK_BENCH_CLASSES,
                               {"-Dpelvar.zolklib2.syslog.library=" ZOLK_BENCH_SYSLIB});
  if (ms_env == nullptr) return false;
  ms_loop = ms_env->FindClass("HandlerLoop");
  if (ms_loop == nullptr) return false;
  const char* tmp = std::getenv("TMPDIR");
  ms_file = std::string(tmp && *tmp ? tmp : "/tmp") + "/zolk-bench-handler." +
            std::to_string(::getpid()) + ".log";
  jmethodID setUp = ms_env->GetStaticMethodID(ms_loop, "setUp", "(Ljava/lang/String;)V");
  ms_log = ms_env->GetStaticMethodID(ms_loop, "log", "(ZLjava/lang/String;I)V");
  ms_text = ms_env->NewStringUTF(std::string(100, 'm').c_str());
  if (setUp == nullptr || ms_log == nullptr || ms_text == nullptr) return false;
  ms_env->CallStaticVoidMethod(ms_loop, setUp, ms_env->NewStringUTF(ms_file.c_str()));
  return !ms_env->ExceptionCheck();
}

void logThrough(benchmark::State& state, bool toSyslog) {
  for (auto _ : state) {
    ms_env->CallStaticVoidMethod(ms_loop, ms_log, toSyslog, ms_text, kBatch);
    if (ms_env->ExceptionCheck()) {
      ms_env->ExceptionDescribe();
      state.SkipWithError("the Java loop threw");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_SyslogHandler(benchmark::State& state) { logThrough(state, true); }
void BM_FileHandler(benchmark::State& state) {
  logThrough(state, false);
  // Keep the file from growing over the repetitions.
  if (::truncate(ms_file.c_str(), 0) != 0) state.SkipWithError("cannot truncate the file");
}

}  // namespace

int main(int argc, char** argv) {
  if (!startJvm()) {
    std::fprintf(stderr, "bench_logging_handler: the Java virtual machine did not start\n");
    return 1;
  }
  benchmark::RegisterBenchmark("syslog_handler", BM_SyslogHandler);
  benchmark::RegisterBenchmark("file_handler", BM_FileHandler);
  zolkbench::Report("syslog_handler", "file_handler");
  const int rc = zolkbench::RunAndCompare(argc, argv);
  ::unlink(ms_file.c_str());
  ::unlink((ms_file + ".lck").c_str());
  return rc;
}
