// A real Java virtual machine inside the test program, for the natives'
// tests: started once per process (each TEST runs in its own process) with
// -Xcheck:jni, the built jar on the class path and the given properties.
//
// Everything the virtual machine prints is kept; JvmTest fails a test whose
// run made it print a JNI warning, and one that left an exception pending.
#ifndef ZOLK_TESTS_COMMON_JVM_H
#define ZOLK_TESTS_COMMON_JVM_H

#include <jni.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace zolktest {

class Jvm final {
 public:
  Jvm() = delete;

  // Starts the virtual machine of this process (once; later calls return
  // the same environment). options are added after the harness's own
  // (-Xcheck:jni, -Djava.class.path=<jar>[:<classPath>]); without the
  // jar, the class path is classPath alone.
  static JNIEnv* Start(const std::vector<std::string>& options = {},
                       const std::string& classPath = "", bool withJar = true);
  static JNIEnv* Env();
  // What the virtual machine has printed so far.
  static std::string Output();
};

// A frame of local references for one pass of a test's loop: the
// references made inside are freed at its end, so that a long loop stays
// within the capacity -Xcheck:jni watches.
class LocalFrame final {
 public:
  explicit LocalFrame(JNIEnv* env) : env_(env) { env_->PushLocalFrame(64); }
  ~LocalFrame() { env_->PopLocalFrame(nullptr); }
  LocalFrame(const LocalFrame&) = delete;
  LocalFrame& operator=(const LocalFrame&) = delete;

 private:
  JNIEnv* const env_;
};

// Fixture of the natives' tests. Subclasses pass their options by
// overriding Options(); the machine is started in SetUp.
class JvmTest : public ::testing::Test {
 protected:
  virtual std::vector<std::string> Options() const { return {}; }
  virtual std::string ClassPath() const { return ""; }
  // False: the built jar is left off the class path (ClassPath() replaces it).
  virtual bool WithJar() const { return true; }
  void SetUp() override;
  void TearDown() override;

  JNIEnv* env() const { return env_; }
  // A class by its JNI name ("pelvar/zolklib2/ZolkSystemLog"), a global reference.
  jclass Class(const char* name);
  // A Java string from UTF-8 text (characters of the Basic Multilingual Plane).
  jstring Str(const std::string& utf8);
  // A string of n copies of c (built in Java, so it can be large).
  jstring Repeat(const char* c, int n);

  // Calls of static methods by name and signature; the test fails if the
  // method is missing. An exception they raise stays pending for the test.
  jint StaticInt(jclass cls, const char* name, const char* sig, ...);
  jlong StaticLong(jclass cls, const char* name, const char* sig, ...);
  void StaticVoid(jclass cls, const char* name, const char* sig, ...);
  jobject StaticObject(jclass cls, const char* name, const char* sig, ...);
  // A new object through a constructor, and calls of its methods.
  jobject New(jclass cls, const char* sig, ...);
  jint Int(jobject obj, const char* name, const char* sig, ...);
  void Void(jobject obj, const char* name, const char* sig, ...);
  jobject Object(jobject obj, const char* name, const char* sig, ...);
  // The text of a Java string ("<null>" for null), and obj.toString().
  std::string Text(jstring s);
  std::string ToString(jobject obj);
  jlong LongField(jobject obj, const char* name);
  void SetLongField(jobject obj, const char* name, jlong value);

  // The pending exception's class name ("" if none), cleared.
  std::string TakeException();

 private:
  void noteException();

  JNIEnv* env_ = nullptr;
  std::vector<jobject> globals_;
};

}  // namespace zolktest

#endif
