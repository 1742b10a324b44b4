#include "common/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "ZolkUniqueFd.h"

namespace zolktest {
namespace {

using Fd = zolkinternal::UniqueFd;

double Now() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void FillStatus(int status, ProcessResult& r) {
  if (WIFEXITED(status)) {
    r.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    r.signal = WTERMSIG(status);
  }
}

// Waits for pid, killing it once the deadline has passed.
void Reap(pid_t pid, double deadline, ProcessResult& r) {
  int status = 0;
  for (;;) {
    pid_t w = ::waitpid(pid, &status, WNOHANG);
    if (w == pid) break;
    if (w < 0 && errno != EINTR) {
      ADD_FAILURE() << "waitpid: " << std::strerror(errno);
      return;
    }
    if (Now() > deadline && !r.timedOut) {
      r.timedOut = true;
      ::kill(pid, SIGKILL);
    }
    ::usleep(2000);
  }
  FillStatus(status, r);
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
  ProcessResult r;
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return r;
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    if (!options.workDir.empty() && ::chdir(options.workDir.c_str()) != 0) _exit(126);
    for (const auto& [k, v] : options.setEnv) ::setenv(k.c_str(), v.c_str(), 1);
    if (options.prepareChild) {
      if (const int status = options.prepareChild(); status != 0) _exit(status);
    }
    ::execvp(args[0], args.data());
    _exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  Fd inW(in[1]), outR(out[0]), errR(err[0]);
  if (pid < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    return r;
  }

  // Feed the input and drain both outputs together, so that no pipe fills.
  size_t fed = 0;
  if (options.input.empty()) inW.reset();
  ::signal(SIGPIPE, SIG_IGN);
  const double deadline = Now() + options.timeoutSeconds;
  while (outR.get() >= 0 || errR.get() >= 0) {
    struct pollfd p[3] = {{outR.get(), POLLIN, 0}, {errR.get(), POLLIN, 0}, {inW.get(), POLLOUT, 0}};
    int n = ::poll(p, 3, 100);
    if (n < 0 && errno != EINTR) break;
    if (Now() > deadline) {
      r.timedOut = true;
      ::kill(pid, SIGKILL);
      break;
    }
    char buf[65536];
    for (int i = 0; i < 2; ++i) {
      if (p[i].fd < 0 || !(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t got = ::read(p[i].fd, buf, sizeof buf);
      if (got > 0) {
        (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(got));
      } else {
        (i == 0 ? outR : errR).reset();
      }
    }
    if (p[2].fd >= 0 && (p[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t put = ::write(inW.get(), options.input.data() + fed, options.input.size() - fed);
      if (put > 0) fed += static_cast<size_t>(put);
      if (put <= 0 || fed == options.input.size()) inW.reset();
    }
  }
  Reap(pid, deadline + 5, r);
  return r;
}

ProcessResult RunInChild(const std::function<int()>& fn, int timeoutSeconds) {
  ProcessResult r;
  ::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    return r;
  }
  if (pid == 0) {
    int rc = fn();
    ::fflush(nullptr);
    // Straight to the kernel: the sanitizers' exit checks would report the
    // parent's threads and allocations, copied into the child, as its own.
    ::syscall(SYS_exit_group, rc);
  }
  Reap(pid, Now() + timeoutSeconds, r);
  return r;
}

Child::Child(const std::function<int()>& fn) {
  ::fflush(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    const int rc = fn();
    ::fflush(nullptr);
    _exit(rc);
  }
  EXPECT_GT(pid_, 0) << "fork: " << std::strerror(errno);
}

Child::~Child() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    Wait(5);
  }
}

int Child::Wait(int timeoutSeconds) {
  if (pid_ <= 0) return -1;
  const double deadline = Now() + timeoutSeconds;
  int status = 0;
  for (;;) {
    const pid_t w = ::waitpid(pid_, &status, WNOHANG);
    if (w == pid_) break;
    if (w < 0 && errno != EINTR) return -1;
    if (Now() > deadline) return -1;
    ::usleep(1000);
  }
  pid_ = -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}

LockHolder::LockHolder(const std::string& path, off_t offset, off_t length) {
  int ready[2], release[2];
  if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return;
  }
  ::fflush(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::close(ready[0]);
    ::close(release[1]);
    char ok = 'n';
    int fd = ::open(path.c_str(), O_RDWR);
    if (fd >= 0 && ::lseek(fd, offset, SEEK_SET) == offset && ::lockf(fd, F_TLOCK, length) == 0)
      ok = 'y';
    if (::write(ready[1], &ok, 1) != 1) _exit(1);
    char c;
    while (::read(release[0], &c, 1) < 0 && errno == EINTR) {
    }
    _exit(0);
  }
  ::close(ready[1]);
  ::close(release[0]);
  releaseFd_ = release[1];
  char ok = 'n';
  if (pid_ < 0 || ::read(ready[0], &ok, 1) != 1) ok = 'n';
  ::close(ready[0]);
  locked_ = ok == 'y';
}

void LockHolder::Release() {
  if (releaseFd_ >= 0) {
    // A byte rather than end-of-file: other children forked meanwhile may
    // hold copies of this pipe's write end.
    if (::write(releaseFd_, "x", 1) != 1) ADD_FAILURE() << "releasing the lock holder";
    ::close(releaseFd_);
    releaseFd_ = -1;
  }
  if (pid_ > 0) {
    int status;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }
  locked_ = false;
}

LockHolder::~LockHolder() { Release(); }

}  // namespace zolktest
