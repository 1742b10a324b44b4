// The standard logging of a Java program reaching the system log: the
// handler configured by a logging.properties file, and System.getLogger
// through the finder's jar. What reaches syslog() is recorded by this
// program.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/Jvm.h"
#include "common/TempDir.h"
#include "zolksys/SyslogRecorder.h"

namespace zolktest {
namespace {

#define STR "Ljava/lang/String;"
#define LEVEL "Ljava/util/logging/Level;"
#define HANDLER "pelvar/zolklib2/logging/ZolkSyslogHandler"

constexpr int kLocal3 = 19 << 3;

class SyslogHandlerTest : public JvmTest {
 protected:
  std::vector<std::string> Options() const override {
    static TempDir dir;
    WriteFile(dir / "logging.properties",
              "handlers=pelvar.zolklib2.logging.ZolkSyslogHandler\n"
              ".level=ALL\n"
              "pelvar.zolklib2.logging.ZolkSyslogHandler.ident=orders\n"
              "pelvar.zolklib2.logging.ZolkSyslogHandler.facility=local3\n"
              "java.util.logging.SimpleFormatter.format=%3$s %5$s%6$s%n\n"
              "bad.ident=second\n"
              "bad.facility=nowhere\n");
    return {"-Dpelvar.zolklib2.syslog.library=" ZOLK_TEST_SYSLIB,
            "-Djava.util.logging.config.file=" + (dir / "logging.properties")};
  }
  std::string ClassPath() const override {
    return ZOLK_TEST_FINDER_JAR ":" ZOLK_TEST_DRIVER_JAR;
  }
  void SetUp() override {
    JvmTest::SetUp();
    ASSERT_NE(env(), nullptr);
    env()->PushLocalFrame(1024);
    level_ = Class("java/util/logging/Level");
    driver_ = Class("LoggingDriver");
    SyslogRecorder::Clear();
  }

  void Log(const char* logger, const char* level, const char* text) {
    StaticVoid(driver_, "log", "(" STR STR STR ")V", Str(logger), Str(level), Str(text));
  }

  // Sends System.err to a buffer until Restore() gives back what was written.
  void CaptureErr() {
    jclass bytes = Class("java/io/ByteArrayOutputStream");
    err_ = New(bytes, "()V");
    jobject stream = New(Class("java/io/PrintStream"), "(Ljava/io/OutputStream;Z)V", err_, JNI_TRUE);
    oldErr_ = env()->GetStaticObjectField(Class("java/lang/System"),
        env()->GetStaticFieldID(Class("java/lang/System"), "err", "Ljava/io/PrintStream;"));
    StaticVoid(Class("java/lang/System"), "setErr", "(Ljava/io/PrintStream;)V", stream);
  }
  std::string Restore() {
    StaticVoid(Class("java/lang/System"), "setErr", "(Ljava/io/PrintStream;)V", oldErr_);
    return ToString(err_);
  }
  jobject Record(const char* level, const char* text) {
    jobject lv = StaticObject(level_, "parse", "(" STR ")" LEVEL, Str(level));
    return New(Class("java/util/logging/LogRecord"), "(" LEVEL STR ")V", lv, Str(text));
  }

  void TearDown() override {
    if (env() != nullptr) env()->PopLocalFrame(nullptr);
    JvmTest::TearDown();
  }

  jclass level_ = nullptr, driver_ = nullptr;
  jobject err_ = nullptr, oldErr_ = nullptr;
};

// Each level, the standard ones and custom ones between them, has its
// priority; none becomes an emergency. Records of several loggers and
// threads all carry the configured identity and facility.
TEST_F(SyslogHandlerTest, RecordsOfLoggersAndThreadsReachSyslog) {
  const struct {
    const char *logger, *level;
    int priority;
  } cases[] = {{"a", "1200", 3},   {"a", "SEVERE", 3}, {"a.b", "WARNING", 4}, {"b", "950", 4},
               {"b", "INFO", 5},   {"a", "CONFIG", 6}, {"a", "FINE", 6},      {"b", "FINEST", 6},
               {"c", "ALL", 6}};
  for (const auto& c : cases) Log(c.logger, c.level, c.level);
  auto w = SyslogRecorder::Writes();
  ASSERT_EQ(w.size(), std::size(cases));
  for (size_t i = 0; i < w.size(); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(c.level);
    EXPECT_EQ(w[i].priority, c.priority);
    EXPECT_EQ(w[i].message, std::string(c.logger) + " " + c.level);
  }
  constexpr int kThreads = 4, kRecords = 50;
  StaticVoid(driver_, "threads", "(II)V", kThreads, kRecords);
  jobject finder = StaticObject(driver_, "systemLogger", "(" STR STR ")" STR, Str("sys"),
                                Str("via finder"));
  EXPECT_EQ(Text(static_cast<jstring>(finder)), "pelvar.zolklib2.loggerfinder.ZolkLoggerFinder");

  w = SyslogRecorder::Writes();
  ASSERT_EQ(w.size(), std::size(cases) + kThreads * kRecords + 1);
  EXPECT_EQ(w.back().message, "sys via finder");
  EXPECT_EQ(w.back().priority, 3);
  int threadRecords = 0;
  for (const SyslogCall& c : w) {
    EXPECT_EQ(c.ident, "orders") << c.message;
    EXPECT_EQ(c.facility, kLocal3) << c.message;
    threadRecords += c.message.rfind("t", 0) == 0 && c.priority == 6;
  }
  EXPECT_EQ(threadRecords, kThreads * kRecords);
}

// A bad property is reported, naming it and its value, and the handler works
// with the default; after close() the native instance is freed and a record
// is dropped without a report.
TEST_F(SyslogHandlerTest, BadPropertyReportedAndCloseDropsRecords) {
  jclass handler = Class(HANDLER);
  CaptureErr();
  jobject bad = New(handler, "(" STR ")V", Str("bad"));
  EXPECT_NE(Restore().find("bad property bad.facility=nowhere"), std::string::npos);
  Void(bad, "publish", "(Ljava/util/logging/LogRecord;)V", Record("WARNING", "kept"));
  auto w = SyslogRecorder::Writes();
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0].ident, "second");
  EXPECT_EQ(w[0].facility, 8);

  jobject log = env()->GetObjectField(
      bad, env()->GetFieldID(handler, "log", "Lpelvar/zolklib2/ZolkSystemLog;"));
  ASSERT_NE(LongField(log, "m_instance"), 0);
  Void(bad, "close", "()V");
  EXPECT_EQ(LongField(log, "m_instance"), 0);
  jobject fresh = New(handler, "()V");
  Void(fresh, "close", "()V");
  CaptureErr();
  for (jobject h : {bad, fresh}) {
    Void(h, "publish", "(Ljava/util/logging/LogRecord;)V", Record("SEVERE", "dropped"));
    Void(h, "close", "()V");
  }
  EXPECT_EQ(Restore(), "");
  EXPECT_EQ(SyslogRecorder::Writes().size(), 1u);
}

}  // namespace
}  // namespace zolktest
