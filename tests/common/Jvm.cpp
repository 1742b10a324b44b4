#include "common/Jvm.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace zolktest {
namespace {

JavaVM* ms_vm = nullptr;
JNIEnv* ms_env = nullptr;
std::mutex ms_outputLock;
std::string ms_output;

// The virtual machine's own printing (warnings of -Xcheck:jni among it):
// kept for the checks, and passed on to standard error.
jint JNICALL keepOutput(FILE* stream, const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char text[4096];
  const int n = std::vsnprintf(text, sizeof text, format, copy);
  va_end(copy);
  {
    std::lock_guard<std::mutex> guard(ms_outputLock);
    ms_output.append(text);
  }
  return std::vfprintf(stream == stdout ? stderr : stream, format, args) >= 0 ? n : -1;
}

jmethodID method(JNIEnv* env, jclass cls, const char* name, const char* sig, bool isStatic) {
  jmethodID id = isStatic ? env->GetStaticMethodID(cls, name, sig) : env->GetMethodID(cls, name, sig);
  if (id == nullptr) {
    env->ExceptionClear();
    ADD_FAILURE() << "no method " << name << sig;
  }
  return id;
}

}  // namespace

JNIEnv* Jvm::Start(const std::vector<std::string>& options, const std::string& classPath,
                   bool withJar) {
  if (ms_env != nullptr) return ms_env;
  std::string path = withJar ? ZOLK_TEST_JAR : "";
  if (!classPath.empty()) path += (path.empty() ? "" : ":") + classPath;
  std::vector<std::string> all = {"-Xcheck:jni", "-Djava.class.path=" + path};
  all.insert(all.end(), options.begin(), options.end());
  std::vector<JavaVMOption> vmOptions;
  for (std::string& o : all) vmOptions.push_back({o.data(), nullptr});
  vmOptions.push_back({const_cast<char*>("vfprintf"), reinterpret_cast<void*>(&keepOutput)});
  JavaVMInitArgs args{};
  args.version = JNI_VERSION_10;
  args.nOptions = static_cast<jint>(vmOptions.size());
  args.options = vmOptions.data();
  args.ignoreUnrecognized = JNI_FALSE;
  void* env = nullptr;
  if (JNI_CreateJavaVM(&ms_vm, &env, &args) != JNI_OK) return nullptr;
  ms_env = static_cast<JNIEnv*>(env);
  return ms_env;
}

JNIEnv* Jvm::Env() { return ms_env; }

std::string Jvm::Output() {
  std::lock_guard<std::mutex> guard(ms_outputLock);
  return ms_output;
}

void JvmTest::SetUp() {
  env_ = Jvm::Start(Options(), ClassPath(), WithJar());
  ASSERT_NE(env_, nullptr) << "the Java virtual machine did not start";
}

void JvmTest::TearDown() {
  if (env_ == nullptr) return;
  EXPECT_EQ(TakeException(), "") << "an exception was left pending";
  for (jobject g : globals_) env_->DeleteGlobalRef(g);
  globals_.clear();
  const std::string out = Jvm::Output();
  // -Xcheck:jni reports misuse as "WARNING in native method: ..." and a
  // replaced signal handler as "Warning: ... handler modified!".
  for (const char* warning : {"WARNING", "Warning"})
    EXPECT_EQ(out.find(warning), std::string::npos) << "the virtual machine warned:\n" << out;
}

jclass JvmTest::Class(const char* name) {
  jclass local = env_->FindClass(name);
  if (local == nullptr) {
    ADD_FAILURE() << "class " << name << " not found: " << TakeException();
    return nullptr;
  }
  jobject global = env_->NewGlobalRef(local);
  env_->DeleteLocalRef(local);
  globals_.push_back(global);
  return static_cast<jclass>(global);
}

jstring JvmTest::Str(const std::string& utf8) {
  jstring s = env_->NewStringUTF(utf8.c_str());
  noteException();
  return s;
}

// A call that may raise has been checked: the exception, if any, stays
// pending for the test to take, and the checks of -Xcheck:jni are satisfied.
void JvmTest::noteException() { (void)env_->ExceptionCheck(); }

jstring JvmTest::Repeat(const char* c, int n) {
  jclass stringClass = env_->FindClass("java/lang/String");
  jmethodID repeat = method(env_, stringClass, "repeat", "(I)Ljava/lang/String;", false);
  jobject s = env_->CallObjectMethod(Str(c), repeat, n);
  noteException();
  env_->DeleteLocalRef(stringClass);
  return static_cast<jstring>(s);
}

#define ZOLK_JVM_CALL(kind, isStatic, target, cls)                   \
  jmethodID id = method(env_, cls, name, sig, isStatic);             \
  va_list args;                                                      \
  va_start(args, sig);                                               \
  auto result = id ? env_->kind##V(target, id, args) : decltype(env_->kind##V(target, id, args))(); \
  va_end(args);                                                      \
  noteException();                                                   \
  return result

jint JvmTest::StaticInt(jclass cls, const char* name, const char* sig, ...) {
  ZOLK_JVM_CALL(CallStaticIntMethod, true, cls, cls);
}

jlong JvmTest::StaticLong(jclass cls, const char* name, const char* sig, ...) {
  ZOLK_JVM_CALL(CallStaticLongMethod, true, cls, cls);
}

jint JvmTest::Int(jobject obj, const char* name, const char* sig, ...) {
  jclass cls = env_->GetObjectClass(obj);
  ZOLK_JVM_CALL(CallIntMethod, false, obj, cls);
}

jobject JvmTest::StaticObject(jclass cls, const char* name, const char* sig, ...) {
  ZOLK_JVM_CALL(CallStaticObjectMethod, true, cls, cls);
}

jobject JvmTest::Object(jobject obj, const char* name, const char* sig, ...) {
  jclass cls = env_->GetObjectClass(obj);
  ZOLK_JVM_CALL(CallObjectMethod, false, obj, cls);
}

#undef ZOLK_JVM_CALL

void JvmTest::StaticVoid(jclass cls, const char* name, const char* sig, ...) {
  jmethodID id = method(env_, cls, name, sig, true);
  va_list args;
  va_start(args, sig);
  if (id != nullptr) env_->CallStaticVoidMethodV(cls, id, args);
  va_end(args);
  noteException();
}

void JvmTest::Void(jobject obj, const char* name, const char* sig, ...) {
  jclass cls = env_->GetObjectClass(obj);
  jmethodID id = method(env_, cls, name, sig, false);
  va_list args;
  va_start(args, sig);
  if (id != nullptr) env_->CallVoidMethodV(obj, id, args);
  va_end(args);
  noteException();
  env_->DeleteLocalRef(cls);
}

jobject JvmTest::New(jclass cls, const char* sig, ...) {
  jmethodID id = method(env_, cls, "<init>", sig, false);
  va_list args;
  va_start(args, sig);
  jobject obj = id != nullptr ? env_->NewObjectV(cls, id, args) : nullptr;
  va_end(args);
  noteException();
  return obj;
}

jlong JvmTest::LongField(jobject obj, const char* name) {
  jclass cls = env_->GetObjectClass(obj);
  jfieldID id = env_->GetFieldID(cls, name, "J");
  env_->DeleteLocalRef(cls);
  if (id == nullptr) {
    ADD_FAILURE() << "no field " << name << ": " << TakeException();
    return 0;
  }
  return env_->GetLongField(obj, id);
}

void JvmTest::SetLongField(jobject obj, const char* name, jlong value) {
  jclass cls = env_->GetObjectClass(obj);
  jfieldID id = env_->GetFieldID(cls, name, "J");
  env_->DeleteLocalRef(cls);
  if (id == nullptr) {
    ADD_FAILURE() << "no field " << name << ": " << TakeException();
    return;
  }
  env_->SetLongField(obj, id, value);
}

std::string JvmTest::Text(jstring s) {
  if (s == nullptr) return "<null>";
  const char* chars = env_->GetStringUTFChars(s, nullptr);
  if (chars == nullptr) return "<no characters>";
  std::string out = chars;
  env_->ReleaseStringUTFChars(s, chars);
  return out;
}

std::string JvmTest::ToString(jobject obj) {
  return Text(static_cast<jstring>(Object(obj, "toString", "()Ljava/lang/String;")));
}

std::string JvmTest::TakeException() {
  jthrowable t = env_->ExceptionOccurred();
  if (t == nullptr) return "";
  env_->ExceptionClear();
  jclass cls = env_->GetObjectClass(t);
  jclass classClass = env_->FindClass("java/lang/Class");
  jmethodID getName = env_->GetMethodID(classClass, "getName", "()Ljava/lang/String;");
  auto name = static_cast<jstring>(env_->CallObjectMethod(cls, getName));
  std::string out = "?";
  if (name != nullptr && !env_->ExceptionCheck()) {
    const char* chars = env_->GetStringUTFChars(name, nullptr);
    if (chars != nullptr) {
      out = chars;
      env_->ReleaseStringUTFChars(name, chars);
    }
  }
  env_->ExceptionClear();
  env_->DeleteLocalRef(name);
  env_->DeleteLocalRef(classClass);
  env_->DeleteLocalRef(cls);
  env_->DeleteLocalRef(t);
  return out;
}

}  // namespace zolktest
