// The cost the bridge adds to a put: ZolkJniTrace.put() from Java with a
// 100-byte message, against ZOLK2_PutWithIdAndTidEx() called natively with
// the same texts, both into the stand-in core with its puts doing nothing.
// The pieces of the native's work are measured apart to show where the
// time goes: the thread identifier's calls and the conversion of one string.
#include <jni.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <benchmark/benchmark.h>
#include "common/BenchJvm.h"
#include "common/RatioReporter.h"
#include "zolk2t.h"
#include "zolk2t/zolk2t_control.h"

namespace {

constexpr int kBatch = 1000;  // puts per call into Java
constexpr int kWarmUpBatches = 5000;  // about a second or two
const std::string kMessage(100, 'm');

JNIEnv* ms_env = nullptr;
jclass ms_loop = nullptr;
jstring ms_id = nullptr;
jstring ms_text = nullptr;
jstring ms_message = nullptr;

bool startJvm() {
  ms_env = zolkbench::StartJvm(ZOLK_BENCH_JAR ":" ZOLK_BENCH_CLASSES,
                               {"-Dpelvar.zolklib2.trace.library=" ZOLK_BENCH_TRACELIB});
  if (ms_env == nullptr) return false;
  ms_loop = ms_env->FindClass("TracePutLoop");
  ms_id = ms_env->NewStringUTF("request");
  ms_text = ms_env->NewStringUTF("handler");
  ms_message = ms_env->NewStringUTF(kMessage.c_str());
  return ms_loop != nullptr && ms_message != nullptr && !ms_env->ExceptionCheck();
}

void BM_JavaPut(benchmark::State& state) {
  jmethodID m = ms_env->GetStaticMethodID(
      ms_loop, "put", "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;I)I");
  // The virtual machine compiles the loop only after it has run a while;
  // the figures are those of the compiled code, as a server runs it.
  for (int i = 0; i < kWarmUpBatches; ++i)
    ms_env->CallStaticIntMethod(ms_loop, m, ms_id, ms_text, ms_message, kBatch);
  for (auto _ : state) {
    const jint failed = ms_env->CallStaticIntMethod(ms_loop, m, ms_id, ms_text, ms_message, kBatch);
    if (failed != 0) state.SkipWithError("a put failed");
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_NativePut(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(
        ZOLK2_PutWithIdAndTidEx(3, "request", "J00737FE", "handler", kMessage.c_str()));
  state.SetItemsProcessed(state.iterations());
}

// A short string's modified UTF-8 into a bounded buffer, as the bridge
// converts each text and the thread name.
void convert(jstring s, char* buf, std::size_t size) {
  const jsize length = ms_env->GetStringLength(s);
  std::memset(buf, 0, size);
  ms_env->GetStringUTFRegion(s, 0, length, buf);
  if (ms_env->ExceptionCheck()) ms_env->ExceptionClear();
}

// The thread identifier's JNI work on every put, the lookups being kept.
void BM_ThreadId(benchmark::State& state) {
  jclass thread = ms_env->FindClass("java/lang/Thread");
  jmethodID current = ms_env->GetStaticMethodID(thread, "currentThread", "()Ljava/lang/Thread;");
  jmethodID getName = ms_env->GetMethodID(thread, "getName", "()Ljava/lang/String;");
  char buf[257];
  for (auto _ : state) {
    jobject t = ms_env->CallStaticObjectMethod(thread, current);
    auto name = static_cast<jstring>(ms_env->CallObjectMethod(t, getName));
    convert(name, buf, sizeof buf);
    benchmark::DoNotOptimize(buf);
    ms_env->DeleteLocalRef(name);
    ms_env->DeleteLocalRef(t);
  }
  ms_env->DeleteLocalRef(thread);
  state.SetItemsProcessed(state.iterations());
}

// One string's conversion: the message into its 4096-byte buffer.
void BM_ConvertMessage(benchmark::State& state) {
  char buf[4097];
  for (auto _ : state) {
    convert(ms_message, buf, sizeof buf);
    benchmark::DoNotOptimize(buf);
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

int main(int argc, char** argv) {
  if (!startJvm()) {
    std::fprintf(stderr, "bench_zolktj_jni: the Java virtual machine did not start\n");
    return 1;
  }
  zolk2t::SetDiscard(true);
  benchmark::RegisterBenchmark("java_put", BM_JavaPut);
  benchmark::RegisterBenchmark("native_put", BM_NativePut);
  benchmark::RegisterBenchmark("piece_thread_id", BM_ThreadId);
  benchmark::RegisterBenchmark("piece_convert_message", BM_ConvertMessage);
  zolkbench::Compare("java_put", "native_put", 500, zolkbench::Goal::AddsAtMost);
  return zolkbench::RunAndCompare(argc, argv);
}
