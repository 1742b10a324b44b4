// zolk-rsyslog-run [--forward] COMMAND [ARG...]
//
// Runs COMMAND with rsyslogd at a private /dev/log and, once it has exited
// and the daemon has written everything it sent, prints what the daemon
// wrote for each message, one line each, after COMMAND's own output (which
// passes untouched):
//
//   rsyslogd wrote: local3.warning myapp[42]: text
//
// With --forward a second rsyslogd is the central collector, reached over
// TCP on the loopback address of a private network namespace, and the lines
// are what the collector wrote. The first line says where the messages went.
// Exits with COMMAND's status; 2 when no daemon can be started here, or
// COMMAND cannot be started, saying why.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "RsyslogDaemon.h"

int main(int argc, char** argv) {
  zolk::RsyslogDaemon::Options options;
  int first = 1;
  if (argc > 1 && std::strcmp(argv[1], "--forward") == 0) {
    options.forward = true;
    ++first;
  }
  if (first >= argc) {
    std::fprintf(stderr, "usage: %s [--forward] COMMAND [ARG...]\n", argv[0]);
    return 2;
  }
  zolk::RsyslogDaemon daemon(options);
  if (!daemon.ok()) {
    std::fprintf(stderr, "%s: no rsyslogd: %s\n", argv[0], daemon.error().c_str());
    return 2;
  }
  std::printf("  sink: %s; what it wrote follows the output\n", daemon.where().c_str());
  std::fflush(stdout);
  // An ignored SIGCHLD, inherited from whoever started us, would have the
  // kernel reap the command for us, and waitpid() could never report it.
  ::signal(SIGCHLD, SIG_DFL);
  const pid_t pid = ::fork();
  if (pid < 0) {
    std::fprintf(stderr, "%s: cannot start %s: %s\n", argv[0], argv[first], std::strerror(errno));
    return 2;
  }
  if (pid == 0) {
    ::execvp(argv[first], argv + first);
    std::perror(argv[first]);
    _exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      std::fprintf(stderr, "%s: cannot wait for %s: %s\n", argv[0], argv[first], std::strerror(errno));
      return 2;
    }
  }
  for (const zolk::SyslogRecord& r : daemon.Collect())
    std::printf("  %s wrote: %s\n", options.forward ? "the collector" : "rsyslogd",
                zolk::Describe(r).c_str());
  if (!daemon.ok()) std::fprintf(stderr, "%s: %s\n", argv[0], daemon.error().c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
