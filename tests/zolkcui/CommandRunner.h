// Running the configuration commands for tests: the test builds against a
// configuration file in a test's own directory, and any build in a child
// that may first enter a private mount namespace or limit file sizes.
#ifndef ZOLK_TESTS_ZOLKCUI_COMMANDRUNNER_H
#define ZOLK_TESTS_ZOLKCUI_COMMANDRUNNER_H

#include <sys/resource.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "common/Process.h"
#include "common/TempDir.h"

namespace zolkcuitest {

// What the test builds read, relative to their working directory.
inline const char kConfRelative[] = "etc/D002zolk2.cnf";
inline const char kShippedConf[] = "/opt/quorvex/ZOLKLib2/etc/D002zolk2.cnf";

// The seven keys at the setter's defaults, as the setter writes them.
inline const char kDefaultConf[] =
    "LogFile = \nLogSize = 262144\nLogFNum = 4\nMapSize = 65536\n"
    "WatchDog = 10\nIntervalSec = 0\nMaxMsgNum = 0\n";

// A test's directory holding etc/D002zolk2.cnf for the test builds.
class ConfDir final {
 public:
  ConfDir();
  const std::string &path() const { return dir_.path(); }
  std::string operator/(const std::string &name) const { return dir_ / name; }
  std::string conf() const { return dir_ / kConfRelative; }
  void Write(const std::string &content) const;
  // Content of the configuration file; "<missing>" when there is none.
  std::string Read() const;
  // Names in etc/ other than the configuration file (leftover temporaries).
  std::vector<std::string> Strays() const;
  // Runs a test build with the arguments, in this directory.
  zolktest::ProcessResult Run(const char *program, const std::vector<std::string> &args) const;

 private:
  zolktest::TempDir dir_;
};

// Who a command runs as: uid 0 keeps the test's own credentials.
struct Credentials {
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;  // supplementary groups
};

// How RunIsolated runs a command.
struct Isolation {
  bool privateMounts = false;                   // a private mount namespace first
  std::function<int()> setup;                   // in the child before the command; non-zero aborts
  std::function<void()> collect;                // in the child after the command
  rlim_t fileSizeLimit = RLIM_INFINITY;         // RLIMIT_FSIZE, SIGXFSZ ignored
  Credentials runAs;                            // taken by the command alone (needs root)
  useconds_t killAfter = 0;                     // SIGKILL this long after the fork (0: never)
};

// Exit status of RunIsolated when the command cannot be run as the other
// user: its copy cannot be made, or the user may not enter workDir.
inline constexpr int kCannotRunAs = 208;

// Runs program with args in workDir from a forked child prepared as told;
// the command's streams are collected through files in workDir. The exit
// status is 200 when the command was killed by a signal. Run as another
// user, the command is a copy in workDir, which that user must be able to
// enter (status kCannotRunAs otherwise).
zolktest::ProcessResult RunIsolated(const std::string &workDir, const char *program,
                                    const std::vector<std::string> &args, const Isolation &how);

}  // namespace zolkcuitest

#endif
