// The Java face of the system log library, driven through a real virtual
// machine: the classes of zolklib2.jar call the natives of the build under
// test, and what reaches syslog() is recorded by this program.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zolk2sys.h>

#include "common/Jvm.h"
#include "common/TempDir.h"
#include "zolksys/SysLogTest.h"

namespace zolktest {
namespace {

#define STR "Ljava/lang/String;"

// The entries of a directory, "." and ".." aside, sorted.
std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

size_t FileCount(const std::string& dir) { return Names(dir).size(); }

class SysLogJniTest : public JvmTest {
 protected:
  std::vector<std::string> Options() const override {
    // A small heap, so that a large string makes getBytes() raise.
    return {"-Dpelvar.zolklib2.syslog.library=" ZOLK_TEST_SYSLIB, "-Xmx64m",
            "-Dfile.encoding=" + Encoding()};
  }
  virtual std::string Encoding() const { return "UTF-8"; }
  void SetUp() override {
    JvmTest::SetUp();
    ASSERT_NE(env(), nullptr);
    log_ = Class("pelvar/zolklib2/ZolkSystemLog");
    op_ = Class("pelvar/zolklib2/ZolkSystemOperation");
    ASSERT_TRUE(log_ != nullptr && op_ != nullptr);
    SyslogRecorder::Clear();
  }

  jobject NewLog() { return New(log_, "()V"); }
  jlong Handle(jobject log) { return LongField(log, "m_instance"); }
  jint Put(jobject log, int priority, jstring t1, jstring t2) {
    return Int(log, "put", "(I" STR STR ")I", priority, t1, t2);
  }
  jint PutWithTid(jobject log, int priority, jstring t1, jstring t2) {
    return Int(log, "putWithTid", "(I" STR STR ")I", priority, t1, t2);
  }
  jint Open(jobject log, jstring ident, int option, int facility) {
    return Int(log, "open", "(" STR "II)I", ident, option, facility);
  }
  jint OpPut(jstring text) { return StaticInt(op_, "put", "(I" STR ")I", 6, text); }
  jint OpFormat(int mode, jstring prefix, jstring suffix) {
    return StaticInt(op_, "setTidFormat", "(I" STR STR ")I", mode, prefix, suffix);
  }
  // A string of the characters U+0000 to U+00FF given by bytes (NUL included).
  jstring Latin1(const std::string& bytes) {
    std::vector<jchar> chars(bytes.begin(), bytes.end());
    return env()->NewString(chars.data(), static_cast<jsize>(chars.size()));
  }
  static std::string LastMessage() {
    auto w = SyslogRecorder::Writes();
    return w.empty() ? "<none>" : w.back().message;
  }

  jclass log_ = nullptr;
  jclass op_ = nullptr;
};

// The whole 64-bit address travels through m_instance, and any value that is
// no live record is refused by every native that takes one, without a crash.
TEST_F(SysLogJniTest, HandlesAreWholeAddressesAndStaleOnesAreRefused) {
  jobject log = NewLog();
  const jlong handle = Handle(log);
  ASSERT_NE(handle, 0);
  auto* record = reinterpret_cast<ZOLK2_SYSLOG*>(static_cast<std::uintptr_t>(handle));
  ZOLK2_SetLogMaskInstance(record, 0x0F);
  EXPECT_EQ(Int(log, "setLogMask", "(I)I", 0), 0x0F) << "m_instance is not the record";
  EXPECT_EQ(Put(log, 6, nullptr, Str("alive")), 0);

  jobject other = NewLog();
  const jlong otherHandle = Handle(other);
  Void(other, "close", "()V");
  const struct {
    const char* what;
    jlong value;
  } stale[] = {{"zero", 0},
               {"deleted", otherHandle},
               {"high bits changed", handle ^ (jlong{1} << 40)},
               {"low 32 bits only", static_cast<jlong>(static_cast<std::uint32_t>(handle))},
               {"inside the record", handle + 8}};
  for (const auto& c : stale) {
    if (c.value == handle) continue;  // the address fits 32 bits on this machine
    SCOPED_TRACE(c.what);
    EXPECT_EQ(StaticInt(log_, "cs_zolk_putToSysLog", "(JI" STR STR ")I", c.value, 6, nullptr,
                        Str("x")), 1);
    EXPECT_EQ(StaticInt(log_, "cs_zolk_openSysLog", "(J" STR "II)I", c.value, Str("id"), 0, 8), 1);
    EXPECT_EQ(StaticInt(log_, "cs_zolk_setLogMask", "(JI)I", c.value, 0x01), 1);
    EXPECT_EQ(StaticInt(log_, "cs_zolk_closeSysLog", "(J)I", c.value), 1);
    EXPECT_EQ(StaticInt(log_, "cs_zolk_deleteSysLog", "(J)I", c.value), 1);
  }
  EXPECT_EQ(SyslogRecorder::Writes().size(), 1u);

  // close() deletes once; afterwards the object answers 1 and a second close does nothing.
  Void(log, "close", "()V");
  Void(log, "close", "()V");
  EXPECT_EQ(Handle(log), 0);
  EXPECT_EQ(Put(log, 6, nullptr, Str("late")), 1);
  EXPECT_EQ(ZOLK2_SetLogMaskInstance(record, 0x0F), 1) << "close() did not delete the record";
}

// Options, facilities, priorities and masks as they reach the C library.
TEST_F(SysLogJniTest, ConstantsAreConvertedOnTheirWayToTheLibrary) {
  jobject log = NewLog();
  EXPECT_EQ(Open(log, Str("app"), 0x10002 | 0x04, 40), 0);
  EXPECT_EQ(Put(log, 7, Str("app"), Str("ready")), 0);
  auto w = SyslogRecorder::Writes();
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0].option, 0x02);
  EXPECT_EQ(w[0].facility, 48);
  EXPECT_EQ(w[0].priority & 7, 0) << "an unknown priority is written as LOG_EMERG";
  EXPECT_EQ(w[0].ident, "app");
  EXPECT_EQ(w[0].message, kReentrant ? "app[" + ThreadIdText() + "] ready" : "app ready");
  EXPECT_EQ(Open(log, Str("app"), 0x40000, 8), 1) << "a reserved option bit is refused";

  // The default instance drops the with-thread-id bit.
  StaticVoid(op_, "openSysLog", "(" STR "II)V", Str("op"), 0x10002, 8);
  EXPECT_EQ(OpPut(Str("plain")), 0);
  EXPECT_EQ(SyslogRecorder::Writes().back().option, 0x02);
  EXPECT_EQ(LastMessage(), "plain");

  const struct {
    const char* method;
    int arg;
    int mask;
  } masks[] = {{"setLogMaskUpTo", 4, 0x1F}, {"setLogMaskOnlyTo", 4, 0x10},
               {"setLogMaskUpTo", 9, 0x01}, {"setLogMaskOnlyTo", -1, 0x01},
               {"setLogMask", 0x7F, 0x7F}};
  int previous = Int(log, "setLogMask", "(I)I", 0xFF);
  int previousOp = StaticInt(op_, "setLogMask", "(I)I", 0xFF);
  for (const auto& m : masks) {
    SCOPED_TRACE(std::string(m.method) + " " + std::to_string(m.arg));
    previous = Int(log, m.method, "(I)I", m.arg);
    EXPECT_EQ(Int(log, "setLogMask", "(I)I", 0), m.mask);
    previousOp = StaticInt(op_, m.method, "(I)I", m.arg);
    EXPECT_EQ(StaticInt(op_, "setLogMask", "(I)I", 0), m.mask);
  }
  (void)previous, (void)previousOp;

  EXPECT_EQ(StaticInt(log_, "errCode", "(I)I", 13), 13);
  EXPECT_EQ(StaticInt(log_, "errApi", "(I)I", 13), -1);
  EXPECT_EQ(StaticInt(log_, "errApi", "(I)I", (101 << 24) | 12), 101);
  EXPECT_EQ(StaticInt(log_, "errCode", "(I)I", (101 << 24) | 12), 12);
  EXPECT_EQ(StaticInt(log_, "cs_zolk_setEventSrcName", "(J" STR ")I", jlong{0}, nullptr), 0);
  EXPECT_EQ(StaticInt(op_, "setEventSrcName", "(" STR ")I", Str("src")), 0);
  EXPECT_EQ(StaticLong(op_, "getPid", "()J"), static_cast<jlong>(::getpid()));
}

// Null texts become null pointers: an empty message, or the other text alone.
TEST_F(SysLogJniTest, NullStringsAreNullPointers) {
  jobject log = NewLog();
  const struct {
    jstring t1, t2;
    const char* expected;
  } cases[] = {{nullptr, Str("ready"), "ready"}, {Str("app"), Str("ready"), "app ready"},
               {Str("app"), nullptr, "app"}, {nullptr, nullptr, ""}};
  for (const auto& c : cases) {
    EXPECT_EQ(Put(log, 6, c.t1, c.t2), 0);
    EXPECT_EQ(LastMessage(), c.expected);
  }
  EXPECT_EQ(Open(log, nullptr, 0, 8), 0);
  EXPECT_EQ(OpPut(nullptr), 0);
  EXPECT_EQ(LastMessage(), "");
  EXPECT_EQ(StaticInt(op_, "putWithTid", "(I" STR STR ")I", 6, nullptr, nullptr), 0);
}

// getBytes() raising (here: no heap for the bytes of a 40 MB string) stops
// the call with the documented code and leaves no exception pending.
TEST_F(SysLogJniTest, ConversionFailuresAreReportedNotThrown) {
  jobject log = NewLog();
  jstring huge = Repeat("x", 40 << 20);
  ASSERT_NE(huge, nullptr) << TakeException();
  jstring ok = Str("ok");
  EXPECT_EQ(Put(log, 6, ok, huge), 13);
  EXPECT_EQ(TakeException(), "");
  EXPECT_EQ(PutWithTid(log, 6, huge, ok), 13);
  EXPECT_EQ(Open(log, huge, 0, 8), 13);
  EXPECT_EQ(OpPut(huge), 13);
  EXPECT_EQ(StaticInt(op_, "putWithTid", "(I" STR STR ")I", 6, ok, huge), 13);
  EXPECT_EQ(StaticInt(op_, "fileClearByNum", "(" STR "I)I", huge, 1), -1);
  EXPECT_EQ(StaticInt(op_, "setEventSrcName", "(" STR ")I", huge), 0);
  StaticVoid(op_, "openSysLog", "(" STR "II)V", huge, 0, 8);
  EXPECT_EQ(TakeException(), "");
  // A format whose affix could not be converted is not applied.
  EXPECT_EQ(OpFormat(ZOLK2_SYSLOG_TID_HEX, huge, nullptr), 13);
  EXPECT_EQ(Int(log, "setTidFormat", "(I" STR STR ")I", ZOLK2_SYSLOG_TID_HEX, Str("<"), huge), 13);
  EXPECT_TRUE(SyslogRecorder::Writes().empty());
  EXPECT_EQ(PutWithTid(log, 6, Str("a"), Str("b")), 0);
  EXPECT_EQ(LastMessage(), kReentrant ? "a[" + ThreadIdText() + "] b" : "a b");
}

// Log file cleanup: the pattern arrives whole or nothing is deleted.
TEST_F(SysLogJniTest, CleanupNeverWorksOnAPatternItDidNotReceive) {
  TempDir dir;
  for (const char* name : {"app1.log", "app2.log", "app3.log"}) WriteFile(dir / name, "x");
  const std::string base = dir.path() + "/app";
  // Cut at 1024 bytes, this pattern would be "<dir>/app*" and match every file.
  const std::string longPattern = base + "*" + std::string(1024, 'y') + "Q";
  const std::string nulPattern = base + "*" + std::string(1, '\0') + "Q";
  const struct {
    const char* what;
    jstring pattern;
    int expected;
  } refused[] = {{"null", nullptr, 22},
                 {"over 1024 bytes", Str(longPattern), 36},
                 {"exactly 1024 bytes", Str(base + "*" + std::string(1024 - base.size() - 1, 'y')), 36},
                 {"with a NUL", Latin1(nulPattern), 22}};
  for (const auto& c : refused) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(StaticInt(op_, "fileClearByNum", "(" STR "I)I", c.pattern, 0), c.expected);
    EXPECT_EQ(StaticInt(op_, "fileClearByTime", "(" STR "I)I", c.pattern, 0), c.expected);
    EXPECT_EQ(FileCount(dir.path()), 3u);
  }
  EXPECT_EQ(StaticInt(op_, "fileClearByNum", "(" STR "I)I", Str(base + "*.log"), 1), 0);
  EXPECT_EQ(FileCount(dir.path()), 1u);
  EXPECT_EQ(StaticInt(op_, "fileClearByTime", "(" STR "I)I", Str(base + "*.log"), 0), 0);
  EXPECT_EQ(FileCount(dir.path()), 0u);
}

// Texts reach syslog() as the bytes of the virtual machine's default
// encoding, and the 7-byte affix bound counts those bytes.
class SysLogJniEncodingTest : public SysLogJniTest,
                              public ::testing::WithParamInterface<const char*> {
 protected:
  std::string Encoding() const override { return GetParam(); }
};

TEST_P(SysLogJniEncodingTest, TextIsWrittenInTheDefaultEncoding) {
  const bool eucJp = Encoding() == "EUC-JP";
  // 日本 and 日本語: 6 and 9 bytes in UTF-8, 4 and 6 in EUC-JP.
  const std::string nihon = eucJp ? "\xC6\xFC\xCB\xDC" : "\xE6\x97\xA5\xE6\x9C\xAC";
  const std::string go = eucJp ? "\xB8\xEC" : "\xE8\xAA\x9E";
  jobject log = NewLog();
  ASSERT_EQ(Open(log, Str("日本"), 0, 8), 0);
  EXPECT_EQ(Put(log, 6, Str("日本"), Str("語 ok")), 0);
  EXPECT_EQ(LastMessage(), nihon + " " + go + " ok");
  EXPECT_EQ(SyslogRecorder::Writes().back().ident, nihon);
  EXPECT_EQ(OpPut(Str("日本語")), 0);
  EXPECT_EQ(LastMessage(), nihon + go);

  // The affix bound: 7 bytes pass, 8 do not, whatever the characters.
  const struct {
    std::string prefix;
    int expected;
  } affixes[] = {{"1234567", 0}, {"12345678", 1}, {"] ", 0},
                 {"日本語", eucJp ? 0 : 1}, {"日本", 0}};
  for (const auto& a : affixes) {
    SCOPED_TRACE(a.prefix);
    EXPECT_EQ(OpFormat(ZOLK2_SYSLOG_TID_HEX8, Str(a.prefix), nullptr), a.expected);
    EXPECT_EQ(Int(log, "setTidFormat", "(I" STR STR ")I", ZOLK2_SYSLOG_TID_HEX8, nullptr,
                  Str(a.prefix)), a.expected);
  }
  // The single-thread build accepts every format and writes no thread id.
  EXPECT_EQ(OpFormat(3, nullptr, nullptr), kReentrant ? 1 : 0);
  if (kReentrant) {
    ASSERT_EQ(Int(log, "setTidFormat", "(I" STR STR ")I", ZOLK2_SYSLOG_TID_DECIMAL, Str("日本"),
                  Str("語")), 0);
    EXPECT_EQ(PutWithTid(log, 6, Str("a"), Str("b")), 0);
    EXPECT_EQ(LastMessage(), "a" + nihon + std::to_string(::gettid()) + go + "b");
    ASSERT_EQ(OpFormat(ZOLK2_SYSLOG_TID_HEX16, nullptr, nullptr), 0);
    EXPECT_EQ(StaticInt(op_, "putWithTid", "(I" STR STR ")I", 6, Str("a"), Str("b")), 0);
    EXPECT_EQ(LastMessage(), "a[" + ThreadIdText("%016lX") + "] b");
  }
}

INSTANTIATE_TEST_SUITE_P(Encodings, SysLogJniEncodingTest, ::testing::Values("UTF-8", "EUC-JP"),
                         [](const auto& info) {
                           return std::string(info.param) == "UTF-8" ? "Utf8" : "EucJp";
                         });

// A cleanup pattern that the default encoding cannot hold would reach the
// cleanup with a '?' (a wildcard) in place of each such character; it is
// refused with EILSEQ and nothing is deleted.
class SysLogJniCleanupEncodingTest : public SysLogJniEncodingTest {};

TEST_P(SysLogJniCleanupEncodingTest, PatternTheEncodingCannotHoldIsRefused) {
  const bool ascii = Encoding() == "US-ASCII";
  const std::vector<std::string> all = {"report-A.log", "report-B.log", "report-é.log"};
  const struct {
    const char* what;
    const char* name;  // modified UTF-8
    int expected;
    std::vector<std::string> left;
  } cases[] = {
      {"e acute", "report-é.log", ascii ? 84 : 0,
       ascii ? all : std::vector<std::string>{"report-A.log", "report-B.log"}},
      {"lone surrogate", "report-\xED\xA0\x80.log", 84, all},
  };
  for (const char* method : {"fileClearByNum", "fileClearByTime"}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(method) + " " + c.what);
      TempDir dir;
      for (const std::string& name : all) WriteFile(dir / name, "x");
      EXPECT_EQ(StaticInt(op_, method, "(" STR "I)I", Str(dir / c.name), 0), c.expected);
      EXPECT_EQ(Names(dir.path()), c.left);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Encodings, SysLogJniCleanupEncodingTest,
                         ::testing::Values("US-ASCII", "UTF-8"), [](const auto& info) {
                           return std::string(info.param) == "UTF-8" ? "Utf8" : "UsAscii";
                         });

}  // namespace
}  // namespace zolktest
