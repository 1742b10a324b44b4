// The instance classes pelvar.zolklib2.ZolkJniTrace2 (zolklib2 error style)
// and pelvar.zolklibM.ZolkJniTrace (zolklibM style) through a real virtual
// machine, their natives called with byte arrays as the classes pass them.
#include <algorithm>
#include <atomic>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/TempDir.h"
#include "zolktj/TraceJniTest.h"

namespace zolktest {
namespace {

#define ERR2 "Lpelvar/zolklib2/ZolkErrCode;"
#define ERRM "Lpelvar/zolklibM/ZolkErrCode;"
#define BYTES "[B"
using Strings = std::vector<std::string>;
using Arg = std::optional<std::string>;
using zolk2t::Script;

const int kWord = ZOLK2_TRACE_ERROR_WORD(10, 0x123);
const int kDetail = 17;
const int kDeleteWord = ZOLK2_TRACE_ERROR_WORD(4, 0x456);
const jlong kHigh = jlong{0x1234} << 32;  // bits a handle must lose on its way to the core
const uint32_t kHandle = 0x80000005u;     // zero-extended, it stays positive

class InstanceTest : public TraceJniTest {
 protected:
  void SetUp() override {
    TraceJniTest::SetUp();
    ASSERT_NE(env(), nullptr);
    j2_ = Class("pelvar/zolklib2/ZolkJniTrace2");
    m_ = Class("pelvar/zolklibM/ZolkJniTrace");
    ASSERT_TRUE(j2_ != nullptr && m_ != nullptr);
  }
  jbyteArray B(const std::string& s) { return Bytes(s); }
  jbyteArray X(int n) { return Bytes(std::string(n, 'x')); }

  jobject J2() { return New(j2_, "()V"); }
  jobject J2Start(jobject o, jbyteArray name, jbyteArray path, int size = 4096, int count = 2,
                  int flags = 0) {
    return Object(o, "jni_startTrace", "(" BYTES BYTES "III)" ERR2, name, path, size, count, flags);
  }
  jobject J2Put(jobject o, jlong h, jbyteArray id, jbyteArray text, jbyteArray type,
                jbyteArray message) {
    return Object(o, "jni_putMsg", "(JI" BYTES BYTES BYTES BYTES ")" ERR2, h, 3, id, text, type,
                  message);
  }
  jobject J2Clear(jbyteArray path) {
    return StaticObject(j2_, "jni_logFileClearByNum", "(" BYTES "I)" ERR2, path, 1);
  }
  jobject J2Backup(jobject o, jlong h, jbyteArray path) {
    return Object(o, "jni_traceBackup", "(J" BYTES ")" ERR2, h, path);
  }

  jobject M() { return New(m_, "()V"); }
  jobject MStart(jobject o, jbyteArray name, jbyteArray path, int flags = 0, int count = 2,
                 int size = 4096) {
    return Object(o, "jni_startTrace", "(" BYTES BYTES "IIII)" ERRM, name, path, count, size, 5,
                  flags);
  }
  jobject MPut(jobject o, jlong h, jbyteArray first, jbyteArray second, jbyteArray type,
               jbyteArray message) {
    return Object(o, "jni_putMsg", "(JI" BYTES BYTES BYTES BYTES ")" ERRM, h, 3, first, second,
                  type, message);
  }
  jobject MPath(const char* native, jbyteArray path) {
    return StaticObject(m_, native, "(" BYTES "I)" ERRM, path, 1);
  }
  jobject MBackup(jobject o, jlong h, jbyteArray path) {
    return Object(o, "jni_traceBackup", "(J" BYTES "I)" ERRM, h, path, 9);
  }
  int Position(jobject err) { return Int(err, "getPosition", "()I"); }

  jclass j2_ = nullptr;
  jclass m_ = nullptr;
};

// Each result of the two creating natives: what is stored, deleted and
// answered. 3 fails in ZolkJniTrace2 and succeeds in zolklibM; there an
// error other than the qualified ones is plain (no delete, nothing stored),
// and after a delete the error object takes the position of the core's
// error that the delete left.
TEST_F(InstanceTest, CreatingNativesJudgeTheCoreResult) {
  enum Outcome { kSuccess, kFailure, kFailureWithDelete };
  const struct {
    int r;
    bool block;
    int flags;
    bool j2Success;
    Outcome m;
  } cases[] = {{0, false, 0, true, kSuccess},          {0, true, 0, true, kSuccess},
               {1, false, 0, true, kSuccess},          {1, true, 1, false, kFailureWithDelete},
               {2, true, 1, true, kSuccess},           {2, false, 0, false, kFailureWithDelete},
               {3, true, 0, false, kSuccess},          {-1, false, 1, false, kFailure},
               {9, true, 1, false, kFailure}};
  TempDir dir;
  const std::string block = "{4096,2," + dir.path() + "}";
  for (const auto& c : cases) {
    LocalFrame frame(env());
    SCOPED_TRACE("r=" + std::to_string(c.r) + " block=" + std::to_string(c.block) +
                 " flags=" + std::to_string(c.flags));
    // Only a (qualified) success of the core writes a handle.
    const uint32_t written = c.r >= 0 && c.r <= 3 ? kHandle : 0;
    const std::string writtenText = std::to_string(written);

    zolk2t::Reset();
    zolk2t::SetNextHandle(kHandle);
    Script("ZOLK2_CreateInstance", c.r, kWord, kDetail);
    jobject j2 = J2();
    const Err e2 = Read(J2Start(j2, B("app"), c.block ? B(dir.path()) : nullptr, 4096, 2, c.flags));
    EXPECT_EQ(LastArg("ZOLK2_CreateInstance", 0), c.block ? Arg(block) : std::nullopt);
    EXPECT_EQ(LongField(j2, "m_jniInstance"), jlong{written}) << "stored after success and failure";
    if (c.j2Success) {
      EXPECT_EQ(e2, NoErr());
      EXPECT_EQ(Functions(), Strings{"ZOLK2_CreateInstance"});
    } else {
      EXPECT_EQ(e2, ErrOf(kWord, kDetail));
      EXPECT_EQ(Functions(),
                (Strings{"ZOLK2_CreateInstance", "ZOLK2_GetLastError", "ZOLK2_DeleteInstance"}));
      EXPECT_EQ(LastArg("ZOLK2_DeleteInstance", 0), writtenText);
    }

    zolk2t::Reset();
    zolk2t::SetNextHandle(kHandle);
    Script("ZOLK2_CreateInstanceM", c.r, kWord, kDetail);
    Script("ZOLK2_DeleteInstance", 0, kDeleteWord);
    jobject m = M();
    SetLongField(m, "m_jniInstance", 77);
    jobject errM = MStart(m, B("app"), c.block ? B(dir.path()) : nullptr, c.flags);
    EXPECT_EQ(LastArg("ZOLK2_CreateInstanceM", 0), c.block ? Arg(block) : std::nullopt);
    EXPECT_EQ(LastArg("ZOLK2_CreateInstanceM", 2), "5");
    EXPECT_EQ(LongField(m, "m_jniInstance"), c.m == kSuccess ? jlong{written} : 77);
    Strings calls = {"ZOLK2_CreateInstanceM"};
    if (c.m == kSuccess) {
      EXPECT_EQ(Read(errM), NoErr());
    } else {
      EXPECT_EQ(Read(errM), ErrOf(kWord, kDetail));
      calls.push_back("ZOLK2_GetLastError");
    }
    if (c.m == kFailure) {
      EXPECT_EQ(Position(errM), 0x123);
    }
    if (c.m == kFailureWithDelete) {
      calls.insert(calls.end(), {"ZOLK2_DeleteInstance", "ZOLK2_GetLastError"});
      EXPECT_EQ(LastArg("ZOLK2_DeleteInstance", 0), writtenText);
      EXPECT_EQ(Position(errM), 0x456);
      EXPECT_NE(ToString(errM).find("the instance was deleted again"), std::string::npos);
    }
    EXPECT_EQ(Functions(), calls);
  }
}

// Every bound a byte on each side. Texts are cut silently; the paths of
// zolklibM are refused (code 13) when they do not fit, before any core call.
TEST_F(InstanceTest, BoundsInBothClasses) {
  const jlong h = 1;
  jobject j2 = J2();
  jobject m = M();
  const struct {
    const char* what;
    int bound;
    bool refusedOver;
    std::function<jobject(jbyteArray)> call;
    const char* fn;
    size_t arg;
    std::string prefix = "", suffix = "";
  } cases[] = {
      {"2 name", 24, false, [&](jbyteArray b) { return J2Start(j2, b, nullptr); },
       "ZOLK2_CreateInstance", 1},
      {"2 path", 1024, false, [&](jbyteArray b) { return J2Start(j2, B("a"), b, 4096, 1); },
       "ZOLK2_CreateInstance", 0, "{4096,1,", "}"},
      {"2 id", 24, false, [&](jbyteArray b) { return J2Put(j2, h, b, nullptr, nullptr, nullptr); },
       "ZOLK2_PutInstanceWithIdEx", 2},
      {"2 text", 31, false, [&](jbyteArray b) { return J2Put(j2, h, nullptr, b, nullptr, nullptr); },
       "ZOLK2_PutInstanceWithIdEx", 3},
      {"2 type", 5, false, [&](jbyteArray b) { return J2Put(j2, h, nullptr, nullptr, b, nullptr); },
       "ZOLK2_PutInstanceWithMsgType", 4},
      {"2 message", 4096, false,
       [&](jbyteArray b) { return J2Put(j2, h, nullptr, nullptr, nullptr, b); },
       "ZOLK2_PutInstanceWithIdEx", 4},
      {"2 clear path", 1024, false, [&](jbyteArray b) { return J2Clear(b); }, "ZOLK2_LogFileClear",
       0},
      {"2 backup path", 1024, false, [&](jbyteArray b) { return J2Backup(j2, h, b); },
       "ZOLK2_InstanceTraceBackup", 1},
      {"M name", 255, false, [&](jbyteArray b) { return MStart(m, b, nullptr); },
       "ZOLK2_CreateInstanceM", 1},
      {"M path", 8191, true, [&](jbyteArray b) { return MStart(m, B("a"), b); },
       "ZOLK2_CreateInstanceM", 0, "{4096,2,", "}"},
      {"M first", 255, false, [&](jbyteArray b) { return MPut(m, h, b, B("s"), nullptr, B("m")); },
       "ZOLK2_PutInstanceWithIdEx", 2},
      {"M second", 63, false, [&](jbyteArray b) { return MPut(m, h, B("f"), b, nullptr, B("m")); },
       "ZOLK2_PutInstanceWithIdEx", 3},
      {"M type", 31, false, [&](jbyteArray b) { return MPut(m, h, B("f"), B("s"), b, B("m")); },
       "ZOLK2_PutInstanceWithMsgType", 4},
      {"M message", 8191, false,
       [&](jbyteArray b) { return MPut(m, h, B("f"), B("s"), nullptr, b); },
       "ZOLK2_PutInstanceWithIdEx", 4},
      {"M backup path", 8191, true, [&](jbyteArray b) { return MBackup(m, h, b); },
       "ZOLK2_InstanceTraceBackupM", 1},
      {"M clear path", 8191, true, [&](jbyteArray b) { return MPath("jni_logFileClearByNum", b); },
       "ZOLK2_LogFileClear", 0},
      {"M age path", 8191, true, [&](jbyteArray b) { return MPath("jni_logFileClearByTime", b); },
       "ZOLK2_LogFileClear", 0},
  };
  for (const auto& c : cases) {
    for (int n : {c.bound, c.bound + 1}) {
      LocalFrame frame(env());
      SCOPED_TRACE(std::string(c.what) + " of " + std::to_string(n) + " bytes");
      zolk2t::Reset();
      jobject err = c.call(X(n));
      if (c.refusedOver && n > c.bound) {
        // Nothing recorded, so the position is that of "no error": all 24 bits.
        EXPECT_EQ(Read(err), ErrOf(ZOLK2_TRACE_ERROR_WORD(13, 0xFFFFFF), 0));
        EXPECT_NE(ToString(err).find("]: an argument does not fit its buffer"), std::string::npos)
            << ToString(err);
        EXPECT_EQ(Functions(), Strings{"ZOLK2_GetLastError"});
      } else {
        EXPECT_EQ(LastArg(c.fn, c.arg), c.prefix + std::string(std::min(n, c.bound), 'x') + c.suffix);
      }
    }
  }
  // zolklibM passes the file set as given, without the range tests.
  MStart(m, B("a"), B("p"), 0, 99, 1);
  EXPECT_EQ(LastArg("ZOLK2_CreateInstanceM", 0), "{1,99,p}");
}

// Nulls: in ZolkJniTrace2 an absent text reaches the core as null (a null
// name answers the failed-JNI-step error); in zolklibM a null required
// argument answers code 1 with the position of the core's last error, and
// the core is not called.
TEST_F(InstanceTest, NullArgumentsInBothStyles) {
  const jlong h = 3;
  const std::nullopt_t null = std::nullopt;
  jobject j2 = J2();
  EXPECT_EQ(Read(J2Start(j2, nullptr, B("/tmp"))), JniStepErr());
  EXPECT_EQ(Functions(), Strings{});
  J2Start(j2, B("a"), nullptr);
  EXPECT_EQ(LastArg("ZOLK2_CreateInstance", 0), std::nullopt);
  J2Put(j2, h, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(zolk2t::Calls("ZOLK2_PutInstanceWithIdEx").back().args,
            (std::vector<Arg>{"3", "3", null, null, null}));
  J2Put(j2, h, nullptr, nullptr, B(""), nullptr);
  EXPECT_EQ(zolk2t::Calls("ZOLK2_PutInstanceWithMsgType").back().args,
            (std::vector<Arg>{"3", "3", null, null, "", null}));
  J2Clear(nullptr);
  EXPECT_EQ(LastArg("ZOLK2_LogFileClear", 0), std::nullopt);
  J2Backup(j2, h, nullptr);
  EXPECT_EQ(zolk2t::Calls("ZOLK2_InstanceTraceBackup").back().args, (std::vector<Arg>{"3", null}));

  zolk2t::Reset();
  Script("ZOLK2_GetLastError", ZOLK2_TRACE_ERROR_WORD(5, 0x321));
  const Err nullArg = ErrOf(ZOLK2_TRACE_ERROR_WORD(1, 0x321), 0);
  jobject m = M();
  jobject err = MStart(m, nullptr, B("/tmp"));
  EXPECT_EQ(Read(err), nullArg);
  EXPECT_EQ(Position(err), 0x321);
  EXPECT_EQ(ToString(err),
            "ZolkErrCode[word=0x01000321, code=1, position=801, detail=0]: a required argument is "
            "null: the call was refused before the core trace library was called (the position is "
            "that of the core's last error when the call began)");
  const std::function<jobject()> refused[] = {
      [&] { return MPut(m, h, nullptr, B("s"), B("t"), B("m")); },
      [&] { return MPut(m, h, B("f"), nullptr, B("t"), B("m")); },
      [&] { return MPut(m, h, B("f"), B("s"), B("t"), nullptr); },
      [&] { return MBackup(m, h, nullptr); },
      [&] { return MPath("jni_logFileClearByNum", nullptr); },
      [&] { return MPath("jni_logFileClearByTime", nullptr); },
  };
  for (const auto& call : refused) EXPECT_EQ(Read(call()), nullArg);
  for (const std::string& f : Functions()) EXPECT_EQ(f, "ZOLK2_GetLastError");
  MPut(m, h, B("f"), B("s"), nullptr, B("m"));
  EXPECT_EQ(zolk2t::Calls("ZOLK2_PutInstanceWithIdEx").size(), 1u);
}

// Handles lose their high 32 bits on the way to the core; the int natives
// pass the core's result through; the lock times must fit an int.
TEST_F(InstanceTest, HandlesSettersAndLockTimes) {
  jobject j2 = J2();
  jobject m = M();
  const jlong h = kHigh | 7;
  const struct {
    jobject obj;
    const char *native, *fn;
  } setters[] = {{j2, "jni_setLogLevel", "ZOLK2_SetInstanceLogLevel"},
                 {j2, "jni_setFileThreshold", "ZOLK2_SetInstanceFileThreshold"},
                 {j2, "jni_setShmThreshold", "ZOLK2_SetInstanceShmThreshold"},
                 {m, "jni_setLogLevel", "ZOLK2_SetInstanceLogLevel"},
                 {m, "jni_setFileThreshold", "ZOLK2_SetInstanceFileThreshold"},
                 {m, "jni_setShmThreshold", "ZOLK2_SetInstanceShmThreshold"},
                 {m, "jni_setLockRetryTimes", "ZOLK2_SetInstanceLockRetryTimes"}};
  for (const auto& s : setters) {
    Script(s.fn, 42);
    EXPECT_EQ(Int(s.obj, s.native, "(JI)I", h, 77), 42) << s.fn;
    EXPECT_EQ(zolk2t::Calls(s.fn).back().args, (std::vector<Arg>{"7", "77"})) << s.fn;
  }
  const struct {
    const char* fn;
    std::function<jobject()> call;
  } others[] = {
      {"ZOLK2_DeleteInstance", [&] { return Object(j2, "jni_endTrace", "(J)" ERR2, h); }},
      {"ZOLK2_ChInstanceFileAttr", [&] { return Object(j2, "jni_chFileAttr", "(JI)" ERR2, h, 1); }},
      {"ZOLK2_InstanceTraceBackup", [&] { return J2Backup(j2, h, nullptr); }},
      {"ZOLK2_PutInstanceWithIdEx", [&] { return J2Put(j2, h, nullptr, nullptr, nullptr, B("m")); }},
      {"ZOLK2_DeleteInstance", [&] { return Object(m, "jni_endTrace", "(J)" ERRM, h); }},
      {"ZOLK2_InstanceFileBufferFlush", [&] { return Object(m, "jni_flushBuffer", "(J)" ERRM, h); }},
      {"ZOLK2_ChInstanceFileAttr", [&] { return Object(m, "jni_chFileAttr", "(JI)" ERRM, h, 1); }},
      {"ZOLK2_InstanceTraceBackupM", [&] { return MBackup(m, h, B("p")); }},
      {"ZOLK2_PutInstanceWithMsgType", [&] { return MPut(m, h, B("f"), B("s"), B("t"), B("m")); }},
  };
  for (const auto& o : others) {
    for (int r : {0, -1}) {
      Script(o.fn, r, kWord, kDetail);
      EXPECT_EQ(Read(o.call()), r == 0 ? NoErr() : ErrOf(kWord, kDetail)) << o.fn;
      EXPECT_EQ(zolk2t::Calls(o.fn).back().args[0], "7") << o.fn;
    }
  }

  const struct {
    jlong time;
    jint sleep, block;
  } times[] = {{2147483647, 5, 0}, {2147483648LL, -1, -1}, {-1, 5, 0}};
  for (const auto& t : times) {
    zolk2t::Reset();
    Script("ZOLK2_SetInstanceLockWaitTime", 5);
    EXPECT_EQ(Int(m, "jni_setLockSleepTime", "(JJ)I", h, t.time), t.sleep) << t.time;
    EXPECT_EQ(Int(m, "jni_setLockBlockTime", "(JJ)I", h, t.time), t.block) << t.time;
    EXPECT_EQ(Functions().size(), t.sleep == -1 ? 0u : 1u) << "block time never reaches the core";
    if (t.sleep != -1) {
      EXPECT_EQ(zolk2t::Calls().back().args, (std::vector<Arg>{"7", std::to_string(t.time)}));
    }
  }
  for (int word : {ZOLK2_TRACE_ERROR_WORD(13, 291), -1}) {
    Script("ZOLK2_GetLastError", word);
    EXPECT_EQ(StaticInt(m_, "jni_getLastErrorPos", "()I"), word == -1 ? -1 : 291);
  }
}

// Two instances of each class write their own trace sets, which the trace
// file reader reads back; close() ends each instance once.
TEST_F(InstanceTest, EndToEndTwoInstancesOfEachClass) {
  TempDir dir;
  const jstring path = Str(dir.path());
  jobject a = J2(), b = J2(), c = M(), d = M();
  const char *start2 = "(" STR STR "III)" ERR2, *startM = "(" STR STR "IIII)" ERRM;
  const char *put2 = "(I" STR STR STR STR ")" ERR2, *putM = "(I" STR STR STR STR ")" ERRM;
  EXPECT_EQ(Read(Object(a, "start", start2, Str("alpha"), path, 65536, 2, 0)), NoErr());
  EXPECT_EQ(Read(Object(b, "start", start2, Str("beta"), path, 65536, 2, 0)), NoErr());
  EXPECT_EQ(Read(Object(c, "start", startM, Str("gamma"), path, 2, 65536, 0, 0)), NoErr());
  EXPECT_EQ(Read(Object(d, "start", startM, Str("delta"), path, 2, 65536, 0, 0)), NoErr());
  EXPECT_EQ(Read(Object(a, "put", put2, 3, Str("ida"), Str("ta"), nullptr, Str("from a"))), NoErr());
  EXPECT_EQ(Read(Object(b, "put", put2, 4, Str("idb"), nullptr, Str("T"), Str("from b"))), NoErr());
  EXPECT_EQ(Read(Object(c, "put", putM, 5, Str("f"), Str("s"), nullptr, Str("from c"))), NoErr());
  EXPECT_EQ(Read(Object(d, "put", putM, 6, Str("f"), Str("s"), Str("TT"), Str("from d"))), NoErr());
  EXPECT_EQ(Read(Object(d, "flushBuffer", "()" ERRM)), NoErr());
  for (jobject o : {a, b, c, d, a, b, c, d}) Void(o, "close", "()V");
  EXPECT_EQ(zolk2t::Calls("ZOLK2_DeleteInstance").size(), 4u);
  EXPECT_EQ(TraceLines(dir / "alpha1.log"), Strings{"3|ida||ta||from a\r\n"});
  EXPECT_EQ(TraceLines(dir / "beta1.log"), Strings{"4|idb|||T|from b\r\n"});
  EXPECT_EQ(TraceLines(dir / "gamma1.log"), Strings{"5|f||s||from c\r\n"});
  EXPECT_EQ(TraceLines(dir / "delta1.log"), Strings{"6|f||s|TT|from d\r\n"});
}

// One instance per object, ended once. A second start() is refused and
// leaves the first instance for close(). Threads ending, closing and
// writing to one object at once delete its instance once, and no write
// reaches the core with the handle after its delete.
TEST_F(InstanceTest, EachObjectStartsAndEndsItsInstanceOnce) {
  JavaVM* vm = nullptr;
  ASSERT_EQ(env()->GetJavaVM(&vm), JNI_OK);
  const struct {
    jclass cls;
    std::string err, startSig;
  } classes[] = {{j2_, ERR2, "(" STR STR "III)" ERR2}, {m_, ERRM, "(" STR STR "IIII)" ERRM}};
  constexpr int kRounds = 200;
  constexpr int kThreads = 6;  // by turns: end(), close(), put()
  for (const auto& c : classes) {
    SCOPED_TRACE(c.err);
    // No file set; start() reads only the ints its signature has.
    auto start = [&](jobject o) {
      return Read(Object(o, "start", c.startSig.c_str(), Str("a"), nullptr, 0, 0, 0, 0));
    };
    zolk2t::Reset();
    jobject o = New(c.cls, "()V");
    ASSERT_EQ(start(o), NoErr());
    const jlong first = LongField(o, "m_jniInstance");
    start(o);
    EXPECT_EQ(TakeException(), "java.lang.IllegalStateException");
    EXPECT_EQ(LongField(o, "m_jniInstance"), first);
    Void(o, "close", "()V");
    EXPECT_EQ(zolk2t::LiveInstances(), 0u);
    EXPECT_EQ(zolk2t::Calls("ZOLK2_DeleteInstance").size(), 1u);

    zolk2t::Reset();
    const jobject shared = env()->NewGlobalRef(o), text = env()->NewGlobalRef(B("t"));
    const jmethodID end = env()->GetMethodID(c.cls, "end", ("()" + c.err).c_str());
    const jmethodID close = env()->GetMethodID(c.cls, "close", "()V");
    const jmethodID put =
        env()->GetMethodID(c.cls, "put", ("(I" BYTES BYTES BYTES BYTES ")" + c.err).c_str());
    ASSERT_TRUE(end != nullptr && close != nullptr && put != nullptr);
    std::atomic<int> failed{0};  // calls that threw, threads that could not attach
    for (int round = 0; round < kRounds; ++round) {
      LocalFrame frame(env());
      ASSERT_EQ(start(o), NoErr());
      std::atomic<int> waiting{kThreads};
      std::vector<std::thread> threads;
      for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
          JNIEnv* e = nullptr;
          const bool attached =
              vm->AttachCurrentThread(reinterpret_cast<void**>(&e), nullptr) == JNI_OK;
          for (--waiting; waiting.load() > 0;) std::this_thread::yield();
          if (!attached) {
            ++failed;
            return;
          }
          jobject r = nullptr;
          if (t % 3 == 0) r = e->CallObjectMethod(shared, end);
          if (t % 3 == 1) e->CallVoidMethod(shared, close);
          if (t % 3 == 2) r = e->CallObjectMethod(shared, put, 3, text, text, nullptr, text);
          if (e->ExceptionCheck()) {
            e->ExceptionClear();
            ++failed;
          }
          e->DeleteLocalRef(r);
          vm->DetachCurrentThread();
        });
      for (std::thread& t : threads) t.join();
    }
    env()->DeleteGlobalRef(text);
    env()->DeleteGlobalRef(shared);
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(zolk2t::Calls("ZOLK2_DeleteInstance").size(), size_t{kRounds});
    EXPECT_EQ(zolk2t::LiveInstances(), 0u);
    std::set<Arg> deleted;
    size_t late = 0;
    for (const zolk2t::Call& call : zolk2t::Calls()) {
      if (call.function == "ZOLK2_DeleteInstance") deleted.insert(call.args[0]);
      if (call.function == "ZOLK2_PutInstanceWithIdEx") late += deleted.count(call.args[0]);
    }
    EXPECT_EQ(late, 0u) << "writes with a deleted handle";
  }
}

// A class path without the two error classes: zolklibM turns the missing
// class into the ClassNotFoundException its callers expect, before and
// after a core call; zolklib2 answers null and leaves no exception.
class MissingErrorClassTest : public InstanceTest {
 protected:
  bool WithJar() const override { return false; }
  std::string ClassPath() const override { return ZOLK_TEST_NOERR_CLASSES; }
  std::string Thrown() {
    jthrowable t = env()->ExceptionOccurred();
    if (t == nullptr) return "<nothing thrown>";
    env()->ExceptionClear();
    return ToString(t);
  }
};

TEST_F(MissingErrorClassTest, ZolklibMThrowsZolklib2AnswersNull) {
  const std::string expected =
      "java.lang.ClassNotFoundException: pelvar.zolklibM.ZolkErrCode class was not found.";
  jobject m = M();
  EXPECT_EQ(MPut(m, 1, B("f"), B("s"), nullptr, nullptr), nullptr);
  EXPECT_EQ(Thrown(), expected) << "argument error";
  Script("ZOLK2_DeleteInstance", -1, kWord, kDetail);
  EXPECT_EQ(Object(m, "jni_endTrace", "(J)" ERRM, jlong{1}), nullptr);
  EXPECT_EQ(Thrown(), expected) << "core failure";

  jobject j2 = J2();
  EXPECT_EQ(J2Start(j2, nullptr, nullptr), nullptr);
  Script("ZOLK2_DeleteInstance", -1, kWord, kDetail);
  EXPECT_EQ(Object(j2, "jni_endTrace", "(J)" ERR2, jlong{1}), nullptr);
  jclass trace = Class("pelvar/zolklib2/ZolkJniTrace");
  EXPECT_EQ(StaticObject(trace, "put", "(I" STR STR STR ")" ERR2, 3, nullptr, nullptr, Str("m")),
            nullptr);
  EXPECT_EQ(TakeException(), "");
}

}  // namespace
}  // namespace zolktest
