// zolk-devlog-capture COMMAND [ARG...]
//
// Runs COMMAND with a private /dev/log and prints every datagram it sends to
// the system log, one per line, until it has exited. Exits with COMMAND's
// status (or 2 when no private /dev/log can be had here, or COMMAND cannot
// be started or waited for, saying why).

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "DevLogSink.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s COMMAND [ARG...]\n", argv[0]);
    return 2;
  }
  zolk::DevLogSink sink;
  if (!sink.ok()) {
    std::fprintf(stderr, "%s: no private /dev/log: %s\n", argv[0], sink.error().c_str());
    return 2;
  }
  // An ignored SIGCHLD, inherited from whoever started us, would have the
  // kernel reap the command for us, and waitpid() could never report it.
  ::signal(SIGCHLD, SIG_DFL);
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) {
    std::fprintf(stderr, "%s: cannot start %s: %s\n", argv[0], argv[1], std::strerror(errno));
    return 2;
  }
  if (pid == 0) {
    ::execvp(argv[1], argv + 1);
    std::perror(argv[1]);
    _exit(127);
  }
  int status = 0;
  bool exited = false;
  for (;;) {
    std::optional<std::string> d = sink.Receive(exited ? 200 : 50);
    if (d) {
      std::printf("  /dev/log received: %s\n", d->c_str());
      std::fflush(stdout);
      continue;
    }
    if (exited) break;
    const pid_t w = ::waitpid(pid, &status, WNOHANG);
    if (w < 0 && errno != EINTR) {
      std::fprintf(stderr, "%s: cannot wait for %s: %s\n", argv[0], argv[1], std::strerror(errno));
      return 2;
    }
    exited = w == pid;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
