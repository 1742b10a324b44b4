// The fixture of the Java trace bridge's tests: a virtual machine that
// loads the bridge under test, whose core is the stand-in of support/zolk2t
// (linked into this program too, so the test scripts and reads it directly).
#ifndef ZOLK_TESTS_ZOLKTJ_TRACEJNITEST_H
#define ZOLK_TESTS_ZOLKTJ_TRACEJNITEST_H

#include <optional>
#include <string>
#include <vector>

#include "common/Jvm.h"
#include "zolk2t.h"
#include "zolk2t/zolk2t_control.h"

#define STR "Ljava/lang/String;"

namespace zolktest {

// An error object's contents; a null object reads as null = true.
struct Err {
  bool null = true;
  int word = 0;
  int detail = 0;
  bool operator==(const Err& o) const {
    return null == o.null && (null || (word == o.word && detail == o.detail));
  }
};
std::ostream& operator<<(std::ostream& out, const Err& e);
inline Err NoErr() { return {}; }
inline Err ErrOf(int word, int detail) { return {false, word, detail}; }
// The object of a failed JNI step (package zolklib2).
inline Err JniStepErr() { return ErrOf(ZOLK2_TRACE_ERROR_WORD(8, 18), 0); }

class TraceJniTest : public JvmTest {
 protected:
  std::vector<std::string> Options() const override;
  void SetUp() override;
  void TearDown() override;

  // Word and detail of an error object of either package.
  Err Read(jobject err);
  // The names of the recorded core calls, in order.
  static std::vector<std::string> Functions();
  // Argument i of the last recorded call of fn (nullopt: no such call, or null).
  static std::optional<std::string> LastArg(const std::string& fn, size_t i);
  // A string whose getBytes() raises (no heap for its bytes).
  jstring Huge();
  jbyteArray Bytes(const std::string& bytes);
  void SetThreadName(const std::string& utf8);
  // The lines of one trace file, read through libzolk2trap.
  static std::vector<std::string> TraceLines(const std::string& traceFile);

 private:
  jstring huge_ = nullptr;
};

}  // namespace zolktest

#endif
