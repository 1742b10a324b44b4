// End to end, with nothing interposed: messages written through the library
// arrive at a datagram socket bound at /dev/log exactly as the C library's
// syslog() formats them.

#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <iostream>
#include <regex>
#include <string>

#include <gtest/gtest.h>
#include <zolk2sys.h>

#include "DevLogSink.h"
#include "common/Privileges.h"
#include "common/Process.h"

namespace zolktest {
namespace {

// Why this machine does not let the test bind /dev/log (empty if it does).
std::string DevLogUnavailable() {
  if (!IsRoot()) return "binding /dev/log needs root";
  if (PrivateMountUnavailable().empty()) return {};
  struct stat st;
  if (::lstat("/dev/log", &st) == 0)
    return PrivateMountUnavailable() + ", and /dev/log of the host is in use";
  return {};
}

// Checks made inside the child process, reported on its standard error.
class ChildChecks final {
 public:
  void Equal(const std::string& what, const std::string& got, const std::string& expected) {
    if (got == expected) return;
    std::cerr << what << ":\n  got      '" << got << "'\n  expected '" << expected << "'\n";
    failed_ = true;
  }
  void True(const std::string& what, bool ok) {
    if (ok) return;
    std::cerr << what << "\n";
    failed_ = true;
  }
  int exitCode() const { return failed_ ? 1 : 0; }

 private:
  bool failed_ = false;
};

// Splits "<PRI>Mmm dd hh:mm:ss TAG: BODY" into priority, tag and body.
struct Datagram {
  bool parsed = false;
  int pri = -1;
  std::string tag, body;
};

Datagram Parse(const std::string& d) {
  static const std::regex header(
      R"(^<(\d+)>(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 1-3]\d \d\d:\d\d:\d\d ([^:]*): )");
  std::smatch m;
  Datagram out;
  if (!std::regex_search(d, m, header)) return out;
  out.parsed = true;
  out.pri = std::stoi(m[1]);
  out.tag = m[3];
  out.body = m.suffix();
  return out;
}

TEST(SysLogDevLog, MessagesArriveAsTheCLibraryFormatsThem) {
  const std::string why = DevLogUnavailable();
  if (!why.empty()) GTEST_SKIP() << why;

  ProcessResult r = RunInChild([] {
    zolk::DevLogSink sink;
    if (!sink.ok()) {
      std::cerr << "sink: " << sink.error() << "\n";
      return 2;
    }
    ChildChecks check;
    const std::string pid = std::to_string(::getpid());
    auto next = [&](const std::string& what) {
      std::optional<std::string> d = sink.Receive(2000);
      check.True(what + ": no datagram arrived", d.has_value());
      Datagram p = Parse(d.value_or(""));
      check.True(what + ": header not in the C library's format: '" + d.value_or("") + "'",
                 p.parsed);
      return p;
    };

    ZOLK2_SYSLOG* inst = nullptr;
    if (ZOLK2_CreateSysLogInstance(&inst) != 0) return 3;
    ZOLK2_OpenSysLogInstance(inst, "zolke2e-identity-cut", LOG_PID, LOG_LOCAL3);
    ZOLK2_PutToSysLogInstance(inst, LOG_WARNING, "disk", "nearly full: 95%");
    Datagram d = next("plain message");
    check.Equal("priority", std::to_string(d.pri), std::to_string(LOG_LOCAL3 | LOG_WARNING));
    check.Equal("tag", d.tag, "zolke2e-identity[" + pid + "]");
    check.Equal("body", d.body, "disk nearly full: 95%");

#if ZOLK_TEST_REENTRANT
    ZOLK2_SetSysLogTidFormatInstance(inst, ZOLK2_SYSLOG_TID_DECIMAL, "(", ") ");
    ZOLK2_PutToSysLogWithTidInstance(inst, 9, "worker", "stopped");
    d = next("message with thread id");
    check.Equal("priority", std::to_string(d.pri), std::to_string(LOG_LOCAL3 | LOG_ERR));
    check.Equal("body", d.body, "worker(" + std::to_string(::gettid()) + ") stopped");
#endif

    // The mask reaches the C library: a masked priority is not sent.
    ZOLK2_SetLogMaskInstance(inst, LOG_UPTO(LOG_ERR));
    ZOLK2_PutToSysLogInstance(inst, LOG_INFO, "masked", nullptr);
    ZOLK2_PutToSysLogInstance(inst, LOG_CRIT, "passed", nullptr);
    d = next("after the mask");
    check.Equal("body after the mask", d.body, "passed");

    // The default instance, without LOG_PID.
    ZOLK2_OpenSysLog("zolkdefault", 0, LOG_DAEMON);
    ZOLK2_PutToSysLog(LOG_NOTICE, "default instance");
    d = next("default instance");
    check.Equal("priority", std::to_string(d.pri), std::to_string(LOG_DAEMON | LOG_NOTICE));
    check.Equal("tag", d.tag, "zolkdefault");
    check.Equal("body", d.body, "default instance");

    // Deleting the instance that configured the connection leaves a valid
    // identity for the process's own syslog() calls.
    ZOLK2_PutToSysLogInstance(inst, LOG_CRIT, "last", nullptr);
    next("last");
    ZOLK2_DeleteSysLogInstance(inst);
    ::syslog(LOG_CRIT, "%s", "raw");
    d = next("raw after delete");
    check.Equal("tag after delete", d.tag, "zolke2e-identity[" + pid + "]");
    return check.exitCode();
  });
  EXPECT_EQ(r.exitCode, 0) << "see the child's report above";
}

}  // namespace
}  // namespace zolktest
