// zolk-devlog-capture COMMAND [ARG...]
//
// Runs COMMAND with a private /dev/log and prints every datagram it sends to
// the system log, one per line, until it has exited. Exits with COMMAND's
// status (or 2 when no private /dev/log can be had here, or COMMAND cannot
// be started or waited for, saying why).
//
// COMMAND's standard output is a second socket connected to the same
// /dev/log, so its output and its messages arrive in one queue, in the order
// they were sent, whatever the load. A message is printed after the end of
// the output line that follows it: a program that prints the result of each
// call has the message the call sent shown under that result. The output
// passes in the writes the command makes, each at most 64 KiB.

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "DevLogSink.h"

namespace {

// A socket bound to an address of its own (so its datagrams can be told
// apart from the command's messages) and connected to the sink; -1 if not.
int OutputSocket() {
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  struct sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  if (::bind(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr.sun_family) != 0) {
    ::close(fd);
    return -1;
  }
  std::strcpy(addr.sun_path, "/dev/log");
  if (::connect(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void PrintMessages(std::vector<std::string>& held) {
  for (const std::string& m : held) std::printf("  /dev/log received: %s\n", m.c_str());
  held.clear();
}

}  // namespace

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
  const int out = OutputSocket();
  if (out < 0) {
    std::fprintf(stderr, "%s: no socket for the output of %s: %s\n", argv[0], argv[1],
                 std::strerror(errno));
    return 2;
  }
  const std::string outAddress = zolk::DevLogSink::SenderAddress(out);
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
    if (::dup2(out, STDOUT_FILENO) < 0) {
      std::perror("dup2");
      _exit(127);
    }
    ::execvp(argv[1], argv + 1);
    std::perror(argv[1]);
    _exit(127);
  }
  ::close(out);
  int status = 0;
  bool exited = false;
  bool midLine = false;
  std::vector<std::string> held;
  std::string sender;
  for (;;) {
    std::optional<std::string> d = sink.Receive(exited ? 200 : 50, &sender);
    if (d) {
      if (sender != outAddress) {
        held.push_back(*d);
        continue;
      }
      const size_t eol = held.empty() ? std::string::npos : d->find('\n');
      if (eol == std::string::npos) {
        std::fwrite(d->data(), 1, d->size(), stdout);
      } else {
        std::fwrite(d->data(), 1, eol + 1, stdout);
        PrintMessages(held);
        std::fwrite(d->data() + eol + 1, 1, d->size() - eol - 1, stdout);
      }
      if (!d->empty()) midLine = d->back() != '\n';
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
  if (midLine && !held.empty()) std::putchar('\n');
  PrintMessages(held);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
