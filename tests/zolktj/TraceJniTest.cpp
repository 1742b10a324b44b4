#include "zolktj/TraceJniTest.h"

#include <ostream>

#include "zolk2trap.h"

namespace zolktest {

std::ostream& operator<<(std::ostream& out, const Err& e) {
  if (e.null) return out << "null";
  return out << "Err(word=0x" << std::hex << e.word << std::dec << ", detail=" << e.detail << ")";
}

std::vector<std::string> TraceJniTest::Options() const {
  // A small heap, so that a large string makes getBytes() raise.
  return {"-Dpelvar.zolklib2.trace.library=" ZOLK_TEST_TRACELIB, "-Xmx64m",
          "-Dfile.encoding=UTF-8"};
}

void TraceJniTest::SetUp() {
  JvmTest::SetUp();
  // Room for the local references a test makes outside any loop's frame.
  if (env() != nullptr) env()->PushLocalFrame(1024);
  zolk2t::Reset();
}

void TraceJniTest::TearDown() {
  if (env() != nullptr) env()->PopLocalFrame(nullptr);
  huge_ = nullptr;
  JvmTest::TearDown();
}

Err TraceJniTest::Read(jobject err) {
  if (err == nullptr) return NoErr();
  return ErrOf(Int(err, "getErrorWord", "()I"), Int(err, "getDetail", "()I"));
}

std::vector<std::string> TraceJniTest::Functions() {
  std::vector<std::string> out;
  for (const zolk2t::Call& c : zolk2t::Calls()) out.push_back(c.function);
  return out;
}

std::optional<std::string> TraceJniTest::LastArg(const std::string& fn, size_t i) {
  const auto calls = zolk2t::Calls(fn);
  if (calls.empty() || i >= calls.back().args.size()) return std::nullopt;
  return calls.back().args[i];
}

jstring TraceJniTest::Huge() {
  if (huge_ == nullptr) huge_ = static_cast<jstring>(env()->NewGlobalRef(Repeat("x", 40 << 20)));
  return huge_;
}

jbyteArray TraceJniTest::Bytes(const std::string& bytes) {
  jbyteArray a = env()->NewByteArray(static_cast<jsize>(bytes.size()));
  env()->SetByteArrayRegion(a, 0, static_cast<jsize>(bytes.size()),
                            reinterpret_cast<const jbyte*>(bytes.data()));
  return a;
}

void TraceJniTest::SetThreadName(const std::string& utf8) {
  jclass thread = Class("java/lang/Thread");
  jobject current = StaticObject(thread, "currentThread", "()Ljava/lang/Thread;");
  Void(current, "setName", "(" STR ")V", Str(utf8));
}

std::vector<std::string> TraceJniTest::TraceLines(const std::string& traceFile) {
  std::vector<std::string> lines;
  ZOLK2_MptTrap_t* trap = ZOLK2_MpttCreateInstance(traceFile.c_str());
  if (trap == nullptr) return {"<no reader>"};
  if (ZOLK2_MpttOpenManagementFile(trap) == 0 && ZOLK2_MpttOpen(trap) == 0 &&
      ZOLK2_MpttGetCurrentOffset(trap) >= 0) {
    char line[512];
    while (ZOLK2_MpttGetLine(trap, line, sizeof line) > 0) lines.push_back(line);
    ZOLK2_MpttClose(trap);
  } else {
    lines.push_back("<not readable>");
  }
  ZOLK2_MpttCloseManagementFile(trap);
  ZOLK2_MpttDeleteInstance(trap);
  return lines;
}

}  // namespace zolktest
