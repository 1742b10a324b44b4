// pelvar.zolklib2.ZolkJniTrace through a real virtual machine: what reaches
// the stand-in core, what comes back to Java, and the trace files written.
#include <algorithm>
#include <cstdio>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/TempDir.h"
#include "zolktj/TraceJniTest.h"

namespace zolktest {
namespace {

#define ERR "Lpelvar/zolklib2/ZolkErrCode;"
using Strings = std::vector<std::string>;
using zolk2t::Script;

const int kWord = ZOLK2_TRACE_ERROR_WORD(10, 0x123);
const int kDetail = 17;

class ZolkJniTraceTest : public TraceJniTest {
 protected:
  void SetUp() override {
    TraceJniTest::SetUp();
    ASSERT_NE(env(), nullptr);
    trace_ = Class("pelvar/zolklib2/ZolkJniTrace");
    ASSERT_NE(trace_, nullptr);
  }
  jobject Init(jstring name, jstring path = nullptr, int size = 0, int count = 0, int flags = 0) {
    return StaticObject(trace_, "initialize", "(" STR STR "III)" ERR, name, path, size, count,
                        flags);
  }
  jobject End() { return StaticObject(trace_, "end", "()" ERR); }
  jobject Put(jstring id, jstring text, jstring message, bool mb = false, int level = 3) {
    return StaticObject(trace_, mb ? "putMb" : "put", "(I" STR STR STR ")" ERR, level, id, text,
                        message);
  }
  jobject PutType(jstring id, jstring text, jstring type, jstring message, bool mb = false) {
    return StaticObject(trace_, mb ? "putTypeMb" : "putType", "(I" STR STR STR STR ")" ERR, 3, id,
                        text, type, message);
  }
  jobject WithPath(const char* method, jstring path, int value) {
    return StaticObject(trace_, method, "(" STR "I)" ERR, path, value);
  }
  jobject Backup(jstring path) { return StaticObject(trace_, "traceBackup", "(" STR ")" ERR, path); }

  jclass trace_ = nullptr;
};

// Every result of the core's initialise, with and without an option block
// and with flags bit 0 set or not: success, failure, or failure with the
// core finalised again; the error object is made before the finalise.
TEST_F(ZolkJniTraceTest, InitialiseJudgesTheCoreResult) {
  enum Expect { kSuccess, kFailure, kFinalised };
  const struct {
    int r;
    bool block;
    int flags;
    Expect expect;
  } cases[] = {{0, false, 0, kSuccess},   {0, true, 0, kSuccess},    {1, false, 0, kSuccess},
               {1, true, 1, kFinalised},  {2, true, 1, kSuccess},    {2, false, 0, kFinalised},
               {2, true, 0, kFinalised},  {3, true, 0, kSuccess},    {-1, false, 1, kFailure},
               {-1, true, 0, kFailure},   {7, false, 1, kFinalised}, {-2, true, 1, kFinalised}};
  TempDir dir;
  for (const auto& c : cases) {
    LocalFrame frame(env());
    SCOPED_TRACE("r=" + std::to_string(c.r) + " block=" + std::to_string(c.block) +
                 " flags=" + std::to_string(c.flags));
    zolk2t::Reset();
    Script("ZOLK2_Initialize", c.r, kWord, kDetail);
    const Err err = Read(Init(Str("app"), c.block ? Str(dir.path()) : nullptr, 4096, 2, c.flags));
    EXPECT_EQ(err, c.expect == kSuccess ? NoErr() : ErrOf(kWord, kDetail));
    EXPECT_EQ(LastArg("ZOLK2_Initialize", 0),
              c.block ? std::optional<std::string>("{4096,2," + dir.path() + "}") : std::nullopt);
    Strings calls = {"ZOLK2_Initialize"};
    if (c.expect != kSuccess) calls.push_back("ZOLK2_GetLastError");
    if (c.expect == kFinalised) calls.push_back("ZOLK2_Finalize");
    EXPECT_EQ(Functions(), calls);
    End();  // the counter back to 0
  }
}

// The option block needs a path, a size of at least 4096, a count in 1..16
// and a non-empty converted path; without it a core result of 1 is success.
TEST_F(ZolkJniTraceTest, OptionBlockOnlyWhenEveryTestPasses) {
  TempDir dir;
  enum Path { kDir, kEmpty, kNull, kUnconvertible };
  const struct {
    const char* what;
    Path path;
    int size, count;
    bool block;
  } cases[] = {{"smallest", kDir, 4096, 1, true},        {"most files", kDir, 4096, 16, true},
               {"size 4095", kDir, 4095, 4, false},      {"count 0", kDir, 4096, 0, false},
               {"count 17", kDir, 4096, 17, false},      {"empty path", kEmpty, 8192, 4, false},
               {"null path", kNull, 8192, 4, false},     {"raising path", kUnconvertible, 8192, 4, false}};
  for (const auto& c : cases) {
    LocalFrame frame(env());
    SCOPED_TRACE(c.what);
    zolk2t::Reset();
    Script("ZOLK2_Initialize", 1);
    const jstring path = c.path == kDir ? Str(dir.path())
                         : c.path == kEmpty ? Str("")
                         : c.path == kNull  ? nullptr
                                            : Huge();
    const Err err = Read(Init(Str("app"), path, c.size, c.count, 0));
    EXPECT_EQ(LastArg("ZOLK2_Initialize", 0).has_value(), c.block);
    EXPECT_EQ(err.null, !c.block);
    End();
  }
}

// The counter counts calls: a null name is counted (and answered as a
// failed JNI step without a core call), only 0 -> 1 initialises, only
// -> 0 and below finalises.
TEST_F(ZolkJniTraceTest, CounterCountsCallsNotInitialisations) {
  EXPECT_EQ(Read(Init(nullptr)), JniStepErr());
  EXPECT_EQ(Read(Init(Str("app"))), NoErr());
  EXPECT_EQ(Read(End()), NoErr());
  EXPECT_EQ(Functions(), Strings{});
  EXPECT_FALSE(Read(End()).null) << "the core was never initialised";
  EXPECT_EQ(Functions(), (Strings{"ZOLK2_Finalize", "ZOLK2_GetLastError"}));

  zolk2t::Reset();
  EXPECT_EQ(Read(Init(Str("app"))), NoErr());
  EXPECT_EQ(Read(Init(Str("app"))), NoErr());
  EXPECT_EQ(Read(End()), NoErr());
  EXPECT_EQ(Functions(), Strings{"ZOLK2_Initialize"});
  EXPECT_EQ(Read(End()), NoErr());
  EXPECT_EQ(Functions(), (Strings{"ZOLK2_Initialize", "ZOLK2_Finalize"}));
  // Below zero, each finalise reaches the core again.
  EXPECT_FALSE(Read(End()).null);
  EXPECT_EQ(zolk2t::Calls("ZOLK2_Finalize").size(), 2u);
}

// Eight Java threads initialise and finalise at once: the core sees
// strictly alternating initialise and finalise calls, none of them fails.
TEST_F(ZolkJniTraceTest, CounterHoldsUnderEightThreads) {
  JavaVM* vm = nullptr;
  ASSERT_EQ(env()->GetJavaVM(&vm), JNI_OK);
  const jmethodID init = env()->GetStaticMethodID(trace_, "initialize", "(" STR ")" ERR);
  const jmethodID end = env()->GetStaticMethodID(trace_, "end", "()" ERR);
  ASSERT_TRUE(init != nullptr && end != nullptr);
  std::atomic<int> failures{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      std::string name = "worker-" + std::to_string(t);
      JavaVMAttachArgs args{JNI_VERSION_10, name.data(), nullptr};
      JNIEnv* e = nullptr;
      if (vm->AttachCurrentThread(reinterpret_cast<void**>(&e), &args) != JNI_OK) {
        ++failures;
        return;
      }
      jstring traceName = e->NewStringUTF("app");
      const auto call = [&](jmethodID m, jstring arg) {
        jobject err = arg != nullptr ? e->CallStaticObjectMethod(trace_, m, arg)
                                     : e->CallStaticObjectMethod(trace_, m);
        if (e->ExceptionCheck() || err != nullptr) ++failures;
        e->ExceptionClear();
        if (err != nullptr) e->DeleteLocalRef(err);
      };
      while (!go) std::this_thread::yield();
      for (int i = 0; i < 200; ++i) {
        call(init, traceName);
        call(end, nullptr);
      }
      vm->DetachCurrentThread();
    });
  }
  go = true;
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures, 0);
  const Strings calls = Functions();
  ASSERT_FALSE(calls.empty());
  ASSERT_EQ(calls.size() % 2, 0u);
  for (size_t i = 0; i < calls.size(); ++i)
    ASSERT_EQ(calls[i], i % 2 == 0 ? "ZOLK2_Initialize" : "ZOLK2_Finalize") << "call " << i;
}

// Threads whose first put in the process comes at the same moment all
// succeed, each with the identifier of its own name: the lookups they share
// are made by whichever comes first and kept once.
TEST_F(ZolkJniTraceTest, FirstPutsFromManyThreadsAtOnce) {
  JavaVM* vm = nullptr;
  ASSERT_EQ(env()->GetJavaVM(&vm), JNI_OK);
  const jmethodID put = env()->GetStaticMethodID(trace_, "putMb", "(I" STR STR STR ")" ERR);
  ASSERT_NE(put, nullptr);
  constexpr int kThreads = 8;
  for (int t = 0; t < kThreads; ++t) Script("ZOLK2_PutWithIdAndTidEx", 0);
  std::atomic<int> failures{0}, ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::string name = "first-" + std::to_string(t);
      JavaVMAttachArgs args{JNI_VERSION_10, name.data(), nullptr};
      JNIEnv* e = nullptr;
      const bool attached = vm->AttachCurrentThread(reinterpret_cast<void**>(&e), &args) == JNI_OK;
      jstring message = attached ? e->NewStringUTF(name.c_str()) : nullptr;
      ++ready;
      while (!go) std::this_thread::yield();
      if (message == nullptr || e->CallStaticObjectMethod(trace_, put, 3, nullptr, nullptr,
                                                          message) != nullptr ||
          e->ExceptionCheck())
        ++failures;
      if (attached) vm->DetachCurrentThread();
    });
  }
  while (ready < kThreads) std::this_thread::yield();
  go = true;
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures, 0);
  Strings seen;
  for (const zolk2t::Call& c : zolk2t::Calls("ZOLK2_PutWithIdAndTidEx"))
    seen.push_back(c.args[4].value_or("") + " " + c.args[2].value_or(""));
  std::sort(seen.begin(), seen.end());
  // "first-N": the hash of "first-" times 16, plus the digit.
  Strings expected;
  for (int t = 0; t < kThreads; ++t) {
    unsigned h = 0;
    for (char ch : "first-" + std::to_string(t)) h = h * 16 + static_cast<unsigned char>(ch);
    char id[10];
    std::snprintf(id, sizeof id, "J%07X", h & 0xFFFFFFFu);
    expected.push_back("first-" + std::to_string(t) + " " + id);
  }
  EXPECT_EQ(seen, expected);
}

// Each text keeps at most its bound in bytes: a byte under and at the bound
// arrive whole, a byte over is cut.
TEST_F(ZolkJniTraceTest, TextsAreCutAtTheirBoundsInBytes) {
  const struct {
    const char* what;
    int bound;
    std::function<void(jstring)> call;
    const char* fn;
    size_t arg;
    std::string prefix = "", suffix = "";  // around the text in the recorded argument
  } cases[] = {
      {"name", 24, [&](jstring s) { Init(s); End(); }, "ZOLK2_Initialize", 1},
      {"path", 1024, [&](jstring s) { Init(Str("app"), s, 4096, 1); End(); }, "ZOLK2_Initialize",
       0, "{4096,1,", "}"},
      {"id", 24, [&](jstring s) { Put(s, nullptr, nullptr); }, "ZOLK2_PutWithIdAndTidEx", 1},
      {"text", 31, [&](jstring s) { Put(nullptr, s, nullptr); }, "ZOLK2_PutWithIdAndTidEx", 3},
      {"message", 4096, [&](jstring s) { Put(nullptr, nullptr, s); }, "ZOLK2_PutWithIdAndTidEx", 4},
      {"id mb", 24, [&](jstring s) { Put(s, nullptr, nullptr, true); }, "ZOLK2_PutWithIdAndTidEx", 1},
      {"text mb", 31, [&](jstring s) { Put(nullptr, s, nullptr, true); }, "ZOLK2_PutWithIdAndTidEx",
       3},
      {"message mb", 4096, [&](jstring s) { Put(nullptr, nullptr, s, true); },
       "ZOLK2_PutWithIdAndTidEx", 4},
      {"type", 5, [&](jstring s) { PutType(nullptr, nullptr, s, nullptr); },
       "ZOLK2_PutWithMsgTypeAndTid", 4},
      {"type mb", 5, [&](jstring s) { PutType(nullptr, nullptr, s, nullptr, true); },
       "ZOLK2_PutWithMsgTypeAndTid", 4},
      {"clear path", 1024, [&](jstring s) { WithPath("logFileClearByNum", s, 1); },
       "ZOLK2_LogFileClear", 0},
      {"backup path", 1024, [&](jstring s) { Backup(s); }, "ZOLK2_TraceBackup", 0},
  };
  for (const auto& c : cases) {
    for (int n : {c.bound - 1, c.bound, c.bound + 1}) {
 LocalFrame frame(env());
      SCOPED_TRACE(std::string(c.what) + " of " + std::to_string(n) + " bytes");
      c.call(Repeat("x", n));
      EXPECT_EQ(LastArg(c.fn, c.arg), c.prefix + std::string(std::min(n, c.bound), 'x') + c.suffix);
    }
  }
  // The cut counts bytes, also inside a character of two bytes.
  std::string twoByte;
  for (int i = 0; i < 2048; ++i) twoByte += "\xC3\xA9";
  const std::string kept = "a" + twoByte.substr(0, 4095);
  for (bool mb : {false, true}) {
    Put(nullptr, nullptr, Str("a" + twoByte), mb);
    EXPECT_EQ(LastArg("ZOLK2_PutWithIdAndTidEx", 4), kept) << (mb ? "mb" : "utf");
  }
}

// Null strings reach the core as null pointers; a string whose conversion
// raised reaches it as an empty string; the thread identifier is always there.
TEST_F(ZolkJniTraceTest, NullAndUnconvertibleArguments) {
  using Args = std::vector<std::optional<std::string>>;
  // The arguments of the last call other than the error read after it.
  const auto last = [] {
    const auto calls = zolk2t::Calls();
    for (auto c = calls.rbegin(); c != calls.rend(); ++c)
      if (c->function != "ZOLK2_GetLastError") return c->args;
    return Args{};
  };
  const std::nullopt_t null = std::nullopt;
  Put(nullptr, nullptr, nullptr);
  EXPECT_EQ(last(), (Args{"3", null, "J00737FE", null, null}));
  PutType(Str("i"), nullptr, nullptr, Str("m"), true);
  EXPECT_EQ(last(), (Args{"3", "i", "J00737FE", null, null, "m"}));
  WithPath("logFileClearByNum", nullptr, 3);
  EXPECT_EQ(last(), (Args{null, "2", "3"}));
  WithPath("logFileClearByTime", nullptr, 60);
  EXPECT_EQ(last(), (Args{null, "1", "60"}));
  Backup(nullptr);
  EXPECT_EQ(last(), Args{null});

  Put(Huge(), Huge(), Huge(), true);
  EXPECT_EQ(last(), (Args{"3", "", "J00737FE", "", ""}));
  PutType(Str("i"), Str("t"), Huge(), Str("m"), true);
  EXPECT_EQ(last(), (Args{"3", "i", "J00737FE", "t", "", "m"}));
  WithPath("logFileClearByTime", Huge(), 5);
  EXPECT_EQ(last(), (Args{"", "1", "5"}));
  Backup(Huge());
  EXPECT_EQ(last(), Args{""});
  Init(Huge());
  EXPECT_EQ(LastArg("ZOLK2_Initialize", 1), "");
  End();
}

// The identifier is "J" and the low 28 bits of a hash over at most the
// first 256 bytes of the thread name's modified UTF-8.
TEST_F(ZolkJniTraceTest, ThreadIdentifierHashesTheName) {
  const auto idFor = [&](const std::string& name) {
    LocalFrame frame(env());
    SetThreadName(name);
    Put(nullptr, nullptr, Str("m"));
    return LastArg("ZOLK2_PutWithIdAndTidEx", 2).value_or("<none>");
  };
  Put(nullptr, nullptr, Str("m"));
  EXPECT_EQ(LastArg("ZOLK2_PutWithIdAndTidEx", 2), "J00737FE") << "the main thread";
  const struct {
    std::string name;
    const char* id;
  } cases[] = {{"main", "J00737FE"}, {"", "J0000000"}, {"\xC3\xA9", "JFFFFBD9"}};
  for (const auto& c : cases) EXPECT_EQ(idFor(c.name), c.id) << c.name;
  const std::string a256(256, 'a');
  const std::string cut = idFor(a256);
  EXPECT_NE(idFor(a256.substr(1) + "z"), cut);
  EXPECT_EQ(idFor(a256 + "zzz"), cut);
  PutType(nullptr, nullptr, nullptr, nullptr, true);
  EXPECT_EQ(LastArg("ZOLK2_PutWithMsgTypeAndTid", 2), cut);
}

// Error objects carry the core's word and detail; the int natives pass the
// core's results through unchanged.
TEST_F(ZolkJniTraceTest, ErrorObjectsAndResults) {
  jobject none = StaticObject(trace_, "getLastError", "()" ERR);
  EXPECT_EQ(Read(none), ErrOf(-1, 0));
  EXPECT_EQ(ToString(none),
            "ZolkErrCode[word=0xFFFFFFFF, code=-1, position=-1, detail=0]: no error is recorded");
  Script("ZOLK2_TraceBackup", 5, kWord, kDetail);
  jobject failed = Backup(Str("/nowhere"));
  EXPECT_EQ(ToString(failed),
            "ZolkErrCode[word=0x0A000123, code=10, position=291, detail=17]: "
            "the call into the core trace library failed (code and position are the core's own)");
  EXPECT_EQ(Read(StaticObject(trace_, "getLastError", "()" ERR)), ErrOf(kWord, kDetail));
  jclass errClass = Class("pelvar/zolklib2/ZolkErrCode");
  jobject step = StaticObject(errClass, "errorBeforeJNI", "(II)" ERR, 8, 18);
  EXPECT_EQ(ToString(step),
            "ZolkErrCode[word=0x08000012, code=8, position=18, detail=0]: a step of the native "
            "bridge failed (a class or method lookup, a string conversion or a field lookup)");

  for (int r : {0, 1, -1}) {
    Script("ZOLK2_ChFileAttr", r, kWord, kDetail);
    EXPECT_EQ(Read(StaticObject(trace_, "chFileAttr", "(I)" ERR, 6)),
              r == 0 ? NoErr() : ErrOf(kWord, kDetail));
    EXPECT_EQ(LastArg("ZOLK2_ChFileAttr", 0), "6");
  }
  const struct {
    const char* method;
    const char* fn;
  } setters[] = {{"setLogLevel", "ZOLK2_SetLogLevel"},
                 {"setFileThreshold", "ZOLK2_SetFileThreshold"},
                 {"setShmThreshold", "ZOLK2_SetShmThreshold"}};
  for (const auto& s : setters) {
    for (int r : {0, -1, 42}) {
      Script(s.fn, r);
      EXPECT_EQ(StaticInt(trace_, s.method, "(I)I", 77), r) << s.method;
      EXPECT_EQ(LastArg(s.fn, 0), "77");
    }
  }
  Script("ZOLK2_GetLogLevel", 123);
  EXPECT_EQ(StaticInt(trace_, "getLogLevel", "()I"), 123);
}

// Java writes through the bridge into the stand-in core's trace files, and
// the trace file reader reads the same lines back.
TEST_F(ZolkJniTraceTest, EndToEndThroughTheTraceFiles) {
  TempDir dir;
  ASSERT_EQ(Read(Init(Str("app"), Str(dir.path()), 65536, 2)), NoErr());
  EXPECT_EQ(StaticInt(trace_, "setLogLevel", "(I)I", 3), 9);
  EXPECT_EQ(Read(Put(Str("ID1"), Str("text"), Str("hello"))), NoErr());
  EXPECT_EQ(Read(PutType(Str("ID2"), nullptr, Str("T1"), Str("caf\xC3\xA9"), true)), NoErr());
  EXPECT_EQ(Read(Put(Str("ID3"), Str("x"), Str("too detailed"), false, 4)), NoErr());
  SetThreadName("");
  EXPECT_EQ(Read(Put(Str("ID4"), Str("t"), Str("line\nbreak"), true)), NoErr());
  EXPECT_EQ(Read(End()), NoErr());

  const Strings lines = TraceLines(dir / "app1.log");
  EXPECT_EQ(lines, (Strings{"3|ID1|J00737FE|text||hello\r\n", "3|ID2|J00737FE||T1|caf\xC3\xA9\r\n",
                            "3|ID4|J0000000|t||line break\r\n"}));
}

}  // namespace
}  // namespace zolktest
