// The cost the Java path adds to a put: ZolkSystemLog.put() with a 100-byte
// ASCII text from Java, against ZOLK2_PutToSysLogInstance() with the same
// text made natively, both into syslog() functions that do nothing. The
// pieces of the native's work are measured apart to show where the time goes.
#include <jni.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <zolk2sys.h>

#include <benchmark/benchmark.h>
#include "common/BenchJvm.h"
#include "common/RatioReporter.h"


namespace {

constexpr int kBatch = 1000;  // puts per call into Java
constexpr int kWarmUpBatches = 5000;  // about a second or two
const std::string kText(100, 'm');

JNIEnv* ms_env = nullptr;
jclass ms_loop = nullptr;
jobject ms_log = nullptr;
jstring ms_text = nullptr;

bool startJvm() {
  ms_env = zolkbench::StartJvm(ZOLK_BENCH_JAR ":" ZOLK_BENCH_CLASSES,
                               {"-Dpelvar.zolklib2.syslog.library=" ZOLK_BENCH_SYSLIB});
  if (ms_env == nullptr) return false;
  ms_loop = ms_env->FindClass("JniPutLoop");
  jclass logClass = ms_env->FindClass("pelvar/zolklib2/ZolkSystemLog");
  if (ms_loop == nullptr || logClass == nullptr) return false;
  ms_log = ms_env->NewObject(logClass, ms_env->GetMethodID(logClass, "<init>", "()V"));
  ms_text = ms_env->NewStringUTF(kText.c_str());
  return ms_log != nullptr && ms_text != nullptr && !ms_env->ExceptionCheck();
}

void callJavaLoop(benchmark::State& state, const char* name) {
  const bool isPut = std::strcmp(name, "put") == 0;
  jmethodID m = ms_env->GetStaticMethodID(
      ms_loop, name, isPut ? "(Lpelvar/zolklib2/ZolkSystemLog;Ljava/lang/String;I)I"
                           : "(Ljava/lang/String;I)I");
  auto call = [&] {
    return isPut ? ms_env->CallStaticIntMethod(ms_loop, m, ms_log, ms_text, kBatch)
                 : ms_env->CallStaticIntMethod(ms_loop, m, ms_text, kBatch);
  };
  // The virtual machine compiles the loop only after it has run a while;
  // the figures are those of the compiled code, as a server runs it.
  for (int i = 0; i < kWarmUpBatches; ++i) call();
  for (auto _ : state) benchmark::DoNotOptimize(call());
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_JavaPut(benchmark::State& state) { callJavaLoop(state, "put"); }

void BM_NativePut(benchmark::State& state) {
  ZOLK2_SYSLOG* inst = nullptr;
  ZOLK2_CreateSysLogInstance(&inst);
  for (auto _ : state) benchmark::DoNotOptimize(ZOLK2_PutToSysLogInstance(inst, 6, nullptr, kText.c_str()));
  state.SetItemsProcessed(state.iterations());
  ZOLK2_DeleteSysLogInstance(inst);
}

// The pieces: a lookup of String.getBytes (the natives make it once and
// keep it), the conversion itself (measured in Java and from the native
// side, as every put makes it), and the copy into a malloc() block (which
// texts too long for the natives' stack buffer take).
void BM_LookupGetBytes(benchmark::State& state) {
  for (auto _ : state) {
    jclass s = ms_env->FindClass("java/lang/String");
    benchmark::DoNotOptimize(ms_env->GetMethodID(s, "getBytes", "()[B"));
    ms_env->DeleteLocalRef(s);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_GetBytesInJava(benchmark::State& state) { callJavaLoop(state, "getBytes"); }

void BM_CallGetBytesFromNative(benchmark::State& state) {
  jclass s = ms_env->FindClass("java/lang/String");
  jmethodID getBytes = ms_env->GetMethodID(s, "getBytes", "()[B");
  for (auto _ : state) {
    jobject bytes = ms_env->CallObjectMethod(ms_text, getBytes);
    ms_env->DeleteLocalRef(bytes);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_CopyToMalloc(benchmark::State& state) {
  jclass s = ms_env->FindClass("java/lang/String");
  auto bytes = static_cast<jbyteArray>(
      ms_env->CallObjectMethod(ms_text, ms_env->GetMethodID(s, "getBytes", "()[B")));
  for (auto _ : state) {
    const jsize n = ms_env->GetArrayLength(bytes);
    char* p = static_cast<char*>(std::malloc(n + 1));
    ms_env->GetByteArrayRegion(bytes, 0, n, reinterpret_cast<jbyte*>(p));
    p[n] = '\0';
    benchmark::DoNotOptimize(p);
    std::free(p);
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

int main(int argc, char** argv) {
  if (!startJvm()) {
    std::fprintf(stderr, "bench_zolksys_jni: the Java virtual machine did not start\n");
    return 1;
  }
  benchmark::RegisterBenchmark("java_put", BM_JavaPut);
  benchmark::RegisterBenchmark("native_put", BM_NativePut);
  benchmark::RegisterBenchmark("piece_lookup_getBytes", BM_LookupGetBytes);
  benchmark::RegisterBenchmark("piece_getBytes_in_java", BM_GetBytesInJava);
  benchmark::RegisterBenchmark("piece_getBytes_from_native", BM_CallGetBytesFromNative);
  benchmark::RegisterBenchmark("piece_copy_to_malloc", BM_CopyToMalloc);
  zolkbench::Compare("java_put", "native_put", 150, zolkbench::Goal::AddsAtMost);
  return zolkbench::RunAndCompare(argc, argv);
}
