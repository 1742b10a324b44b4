// A Java program writing to the real system log daemon: ZolkSystemLog
// instances from several threads, and java.util.logging through the
// handler. The virtual machine runs as a command inside the child that has
// the daemon, since it cannot be created in a process that then enters
// namespaces.
#include <syslog.h>

#include <cstdio>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/Process.h"
#include "common/RsyslogTest.h"
#include "common/TempDir.h"

namespace zolktest {
namespace {

constexpr int kWithTid = 0x10000;  // ZolkSystemLog.WITH_TID
constexpr int kThreads = 4, kEach = 25;

// A message the daemon should write once, keyed by "program text".
struct Expected {
  int facility, severity;
  std::string pid;
};

// Each record matches an expected message not matched before, and every
// expected message a record. A fault usually spoils hundreds of messages:
// the number and the first of each kind are shown.
void ExpectEachOnce(std::map<std::string, Expected> expected,
                    const std::vector<zolk::SyslogRecord>& records) {
  std::vector<std::string> extra, wrong;
  for (const zolk::SyslogRecord& r : records) {
    const auto it = expected.find(r.program + " " + r.text);
    if (it == expected.end()) {
      extra.push_back(zolk::Describe(r));
      continue;
    }
    const Expected& e = it->second;
    if (r.facility != e.facility || r.severity != e.severity || r.pid != e.pid)
      wrong.push_back(zolk::Describe(r) + " (expected facility " + std::to_string(e.facility) +
                      ", severity " + std::to_string(e.severity) + ", pid " + e.pid + ")");
    expected.erase(it);
  }
  std::vector<std::string> missing;
  for (const auto& e : expected) missing.push_back(e.first);
  for (const auto& [what, list] :
       {std::pair{"not expected, or again", &extra}, std::pair{"with other fields", &wrong},
        std::pair{"missing", &missing}}) {
    EXPECT_TRUE(list->empty()) << list->size() << " records " << what
                               << ", the first: " << list->front();
  }
}

std::string Tid(const char* format, const std::string& tid) {
  char text[32];
  std::snprintf(text, sizeof text, format, std::stoul(tid));
  return text;
}

// Several instances written from several threads, long texts, and records
// of each level through the handler a logging.properties file configures:
// every message arrives once with its instance's identity, facility, pid
// (where LOG_PID asks) and thread-id decoration, at its own severity unless
// the mask holds it back; the handler's records at the severities of its
// level table. -Xcheck:jni prints nothing.
TEST(JavaRsyslogTest, InstancesThreadsLongTextsAndHandlerRecordsArriveOnce) {
  ZOLK_SKIP_WITHOUT_RSYSLOGD();
  const struct Instance {
    const char* ident;
    int options, facility;
    int tidMode;                  // ZolkSystemLog.TID_*: 1 hex, 2 decimal, 4 hex8, 8 hex16
    const char *prefix, *suffix;  // "" for the library's "[" and "] "
    int maskUpTo;
    const char *call, *tidFormat;  // tidFormat null: written without the thread id
  } instances[] = {
      {"jorders", LOG_PID | kWithTid, LOG_LOCAL1, 2, "", "", LOG_INFO, "put", "[%lu] "},
      {"jbilling", 0, LOG_DAEMON, 4, "<", "> ", LOG_WARNING, "putWithTid", "<%08lX> "},
      {"jaudit", LOG_PID, LOG_LOCAL7, 8, "{", "}", LOG_NOTICE, "putWithTid", "{%016lX}"},
      {"jplain", LOG_PID, LOG_USER, 1, "", "", LOG_INFO, "put", nullptr},
  };
  // Through the last instance: the library cuts at 1023 bytes, the daemon nothing.
  const struct { int sent, arrives; } texts[] = {{1023, 1023}, {1100, 1023}};
  const struct {
    const char* level;
    int severity;
  } levels[] = {{"1200", LOG_ERR},    {"SEVERE", LOG_ERR},  {"WARNING", LOG_WARNING},
                {"950", LOG_WARNING}, {"INFO", LOG_NOTICE}, {"CONFIG", LOG_INFO},
                {"FINE", LOG_INFO},   {"FINEST", LOG_INFO}};

  TempDir dir;
  WriteFile(dir / "logging.properties",
            "handlers=pelvar.zolklib2.logging.ZolkSyslogHandler\n"
            ".level=ALL\n"
            "pelvar.zolklib2.logging.ZolkSyslogHandler.ident=jhandler\n"
            "pelvar.zolklib2.logging.ZolkSyslogHandler.facility=local5\n"
            "pelvar.zolklib2.logging.ZolkSyslogHandler.options=pid tid\n"
            "pelvar.zolklib2.logging.ZolkSyslogHandler.tidformat=decimal\n"
            "java.util.logging.SimpleFormatter.format=%5$s%n\n");
  std::vector<std::string> argv = {
      ZOLK_TEST_JAVA,
      "-Xcheck:jni",
      "-cp",
      ZOLK_TEST_JAR ":" ZOLK_TEST_RSYSLOG_DRIVER_JAR,
      "-Dpelvar.zolklib2.syslog.library=" ZOLK_TEST_SYSLIB,
      "-Djava.util.logging.config.file=" + (dir / "logging.properties"),
      "RsyslogDriver"};
  for (const Instance& in : instances) {
    std::ostringstream arg;
    arg << "instance=" << in.ident << '|' << in.options << '|' << in.facility << '|' << in.tidMode
        << '|' << in.prefix << '|' << in.suffix << '|' << in.maskUpTo << '|' << in.call;
    argv.push_back(arg.str());
  }
  argv.push_back("threads=" + std::to_string(kThreads) + "," + std::to_string(kEach));
  for (const auto& t : texts) argv.push_back("long=" + std::to_string(t.sent));
  for (const auto& l : levels) argv.push_back(std::string("record=") + l.level);

  InRsyslogdChild({}, [&](zolk::RsyslogDaemon& daemon) {
    ProcessOptions options;
    // The instrumented library loads only into a process that starts with
    // the sanitizers' runtimes; the machine handles its own SIGSEGV.
    if (*ZOLK_TEST_PRELOAD != '\0') {
      options.setEnv["LD_PRELOAD"] = ZOLK_TEST_PRELOAD;
      options.setEnv["ASAN_OPTIONS"] = "handle_segv=0:allow_user_segv_handler=1:detect_leaks=0";
    }
    const ProcessResult run = RunProcess(argv, options);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");

    // Lines other than "pid P", "main T" and "thread I T" are the virtual
    // machine's: -Xcheck:jni writes its warnings to standard output.
    std::map<std::string, std::string> ids;
    std::string other;
    std::istringstream out(run.out);
    for (std::string line; std::getline(out, line);) {
      const auto space = line.rfind(' ');
      const std::string key = line.substr(0, space);
      if (space != std::string::npos &&
          (key == "pid" || key == "main" || key.rfind("thread ", 0) == 0))
        ids[key] = line.substr(space + 1);
      else
        other += line + "\n";
    }
    EXPECT_TRUE(other.empty()) << "the virtual machine printed:\n" << other.substr(0, 2000);
    ASSERT_EQ(ids.size(), 2u + kThreads) << run.out;

    std::map<std::string, Expected> expected;
    for (int i = 0; i < kThreads; ++i) {
      const std::string tid = ids["thread " + std::to_string(i)];
      for (int j = 0; j < kEach; ++j) {
        for (int k = 0; k < static_cast<int>(std::size(instances)); ++k) {
          const Instance& in = instances[k];
          const int severity = (i + j + k) % 7;
          if (severity > in.maskUpTo) continue;
          const std::string t = "t" + std::to_string(i), m = "m" + std::to_string(j);
          const std::string text = in.tidFormat ? t + Tid(in.tidFormat, tid) + m : t + " " + m;
          expected[std::string(in.ident) + " " + text] = {
              in.facility >> 3, severity, (in.options & LOG_PID) ? ids["pid"] : "-"};
        }
      }
    }
    const Instance& last = instances[std::size(instances) - 1];
    for (const auto& t : texts) {
      std::string text = "L" + std::to_string(t.sent) + " ";
      while (static_cast<int>(text.size()) < t.arrives)
        text += static_cast<char>('a' + text.size() % 26);
      expected[std::string(last.ident) + " " + text] = {last.facility >> 3, LOG_NOTICE, ids["pid"]};
    }
    for (const auto& l : levels)
      expected["jhandler " + Tid("[%lu] ", ids["main"]) + "r" + l.level] = {LOG_LOCAL5 >> 3,
                                                                            l.severity, ids["pid"]};
    ExpectEachOnce(expected, daemon.Collect());
  });
}

}  // namespace
}  // namespace zolktest
