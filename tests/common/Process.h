// Child processes for tests: running a program and collecting what it did,
// running a function in a forked child, and a second process that holds a
// lockf() lock on a file until it is told to let go.
#ifndef ZOLK_TESTS_COMMON_PROCESS_H
#define ZOLK_TESTS_COMMON_PROCESS_H

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zolktest {

struct ProcessResult {
  int exitCode = -1;  // exit status, or -1 when killed by a signal
  int signal = 0;     // terminating signal, 0 when it exited
  bool timedOut = false;
  std::string out;    // everything written to standard output
  std::string err;    // everything written to standard error
};

struct ProcessOptions {
  std::string input;                          // written to standard input, then closed
  std::map<std::string, std::string> setEnv;  // added to (or replacing in) the environment
  std::string workDir;                        // empty: the test's own
  int timeoutSeconds = 60;                    // killed with SIGKILL after this
  std::function<int()> prepareChild;          // run in the child before exec; not 0: its exit status
};

// Runs argv[0] (searched in PATH when it has no '/') with the arguments.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const ProcessOptions& options = {});

// Runs fn in a forked child; the child's exit status is fn's result (0 to
// 255). Output of the child goes to the test's own streams.
ProcessResult RunInChild(const std::function<int()>& fn, int timeoutSeconds = 60);

// A second process holding a lockf() lock on [offset, offset+length) of a
// file (length 0: to the end of the file and beyond) from construction until
// Release() or destruction.
class LockHolder final {
 public:
  LockHolder(const std::string& path, off_t offset = 0, off_t length = 0);
  ~LockHolder();
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

  bool locked() const { return locked_; }  // false when the child could not lock
  void Release();

 private:
  pid_t pid_ = -1;
  int releaseFd_ = -1;
  bool locked_ = false;
};

}  // namespace zolktest

#endif
