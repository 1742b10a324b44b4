// The capture tool started the way a caller might leave things for it: with
// SIGCHLD ignored, and where it cannot start its command at all.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "common/Process.h"
#include "common/TempDir.h"

namespace zolktest {
namespace {

constexpr int kNoSetup = 125;  // the child could not be prepared here
constexpr uid_t kNobody = 65534;

bool Put(const char* path, const char* text) {
  const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::write(fd, text, std::strlen(text)) == static_cast<ssize_t>(std::strlen(text));
  ::close(fd);
  return ok;
}

// The tool as another user can run it: a copy in a directory of the test's
// own, since the build tree may lie where only root can enter (a checkout
// under /root). Empty when the copy cannot be made.
std::string ReachableCopy(const TempDir& dir) {
  const std::string copy = dir / "zolk-devlog-capture";
  std::ifstream in(ZOLK_DEVLOG_CAPTURE_PATH, std::ios::binary);
  std::ofstream out(copy, std::ios::binary);
  out << in.rdbuf();
  out.close();
  const bool ok = in && out && ::chmod(copy.c_str(), 0755) == 0 &&
                  ::chmod(dir.path().c_str(), 0755) == 0;
  return ok ? copy : "";
}

// In the child before exec: a non-root uid, root only inside a user
// namespace of its own (so the tool can still make its private /dev/log),
// allowed no process beyond the one it is, so the tool's fork fails.
int AllowNoFurtherProcess(const std::string& tool) {
  if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) return kNoSetup;
  if (::access(tool.c_str(), X_OK) != 0) return kNoSetup;
  ::prctl(PR_SET_DUMPABLE, 1);  // else /proc/self stays root's and the maps cannot be written
  if (::unshare(CLONE_NEWUSER) != 0 || !Put("/proc/self/setgroups", "deny") ||
      !Put("/proc/self/uid_map", "0 65534 1") || !Put("/proc/self/gid_map", "0 65534 1"))
    return kNoSetup;
  const struct rlimit one = {1, 1};
  return ::setrlimit(RLIMIT_NPROC, &one) == 0 ? 0 : kNoSetup;
}

TEST(DevLogCapture, EndsWhenStartedWithSigchldIgnoredOrUnableToFork) {
  struct Case {
    const char* name;
    std::function<int()> prepare;
    int exitCode;
    const char* message;
  };
  const TempDir dir;
  const std::string tool = ReachableCopy(dir);
  ASSERT_NE(tool, "") << "cannot copy " << ZOLK_DEVLOG_CAPTURE_PATH << " to " << dir.path();
  const Case cases[] = {
      {"SIGCHLD ignored", [] { return ::signal(SIGCHLD, SIG_IGN) == SIG_ERR ? kNoSetup : 0; }, 3,
       ""},
      {"fork fails", [&tool] { return AllowNoFurtherProcess(tool); }, 2,
       "cannot start /bin/sh: Resource temporarily unavailable"},
  };
  std::string skipped;
  for (const Case& c : cases) {
    ProcessOptions options;
    options.prepareChild = c.prepare;
    options.timeoutSeconds = 20;
    // The leak checker needs a task of its own at exit, which the limit forbids.
    const char* asan = std::getenv("ASAN_OPTIONS");
    options.setEnv["ASAN_OPTIONS"] = std::string(asan != nullptr ? asan : "") + ":detect_leaks=0";
    const ProcessResult r =
        RunProcess({tool, "/bin/sh", "-c", "exit 3"}, options);
    if (r.exitCode == kNoSetup || r.err.find("no private /dev/log") != std::string::npos) {
      skipped += std::string(c.name) + ": cannot be set up here " + r.err + "; ";
      continue;
    }
    EXPECT_FALSE(r.timedOut) << c.name;
    EXPECT_EQ(r.exitCode, c.exitCode) << c.name << ": " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
  }
  if (!skipped.empty()) GTEST_SKIP() << skipped;
}

// The output and the messages travel through one queue, so the order shown
// is the order written, however late the tool gets to read.
TEST(DevLogCapture, ShowsEachMessageAfterTheOutputLineThatFollowsIt) {
  ProcessOptions options;
  options.timeoutSeconds = 20;
  const ProcessResult r = RunProcess(
      {ZOLK_DEVLOG_CAPTURE_PATH, "/bin/sh", "-c",
       "logger -u /dev/log first; echo put 1; logger -u /dev/log second; echo put 2;"
       " printf partial; logger -u /dev/log third"},
      options);
  if (r.err.find("no private /dev/log") != std::string::npos) GTEST_SKIP() << r.err;
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::regex expected(
      "put 1\n  /dev/log received: <13>[^\n]*: first\n"
      "put 2\n  /dev/log received: <13>[^\n]*: second\n"
      "partial\n  /dev/log received: <13>[^\n]*: third\n");
  EXPECT_TRUE(std::regex_match(r.out, expected)) << r.out;
}

}  // namespace
}  // namespace zolktest
