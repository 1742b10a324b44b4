// The system's own log daemon, rsyslogd, run for a test, a benchmark or the
// demonstration, where nothing but the calling process and its children see
// it: a private mount namespace whose /dev is a small tmpfs holding links to
// the host's device nodes, so that the daemon's input socket is bound at
// /dev/log and every syslog() of the process reaches it. The daemon writes
// every message to a file, one line per message, with the fields it parsed;
// its configuration, files and working directory live on a tmpfs of their
// own, gone when the daemon is.
//
// With forwarding, a second daemon is the central collector: it listens on
// TCP at 127.0.0.1 in a private network namespace, the first daemon forwards
// everything to it, and the messages read are the ones the collector wrote.
//
// The namespaces are entered by the calling process, which therefore must
// have a single thread when the daemon is started (normally a forked child
// or a command's main()). Both daemons are stopped by the destructor.
#ifndef ZOLK_SUPPORT_RSYSLOGDAEMON_H
#define ZOLK_SUPPORT_RSYSLOGDAEMON_H

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace zolk {

// One message as the daemon wrote it.
struct SyslogRecord {
  int facility = -1;    // 0 to 23 (LOG_LOCAL3 >> 3 is 19)
  int severity = -1;    // 0 to 7
  std::string tag;      // as the daemon took it from the message: "myapp[42]:"
  std::string program;  // the tag's program name: "myapp"
  std::string pid;      // the tag's process id; "-" when it has none
  std::string text;     // the message after the tag and the one space behind it
};

// "local3.warning myapp[42]: text", as an operator reads it.
std::string Describe(const SyslogRecord& r);

class RsyslogDaemon final {
 public:
  struct Options {
    // imuxsock's rate limit for a process: at most burst messages in each
    // interval of that many seconds. 0 turns it off (the daemon's default
    // here, made explicit).
    int rateLimitInterval = 0;
    int rateLimitBurst = 0;
    // A second daemon as the collector, reached over TCP.
    bool forward = false;
  };

  // Why no daemon can be started here (empty if one can): no rsyslogd, not
  // root, or no private namespaces. Probed once, in a child process.
  static const std::string& Unavailable();

  explicit RsyslogDaemon(const Options& options);
  RsyslogDaemon() : RsyslogDaemon(Options()) {}
  ~RsyslogDaemon();
  RsyslogDaemon(const RsyslogDaemon&) = delete;
  RsyslogDaemon& operator=(const RsyslogDaemon&) = delete;

  // Whether the daemons run and have written a first message; error() says
  // why not, with what the daemon printed.
  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  // Where the messages go, for a report: "rsyslogd 8.2302.0 at /dev/log ...".
  const std::string& where() const { return where_; }

  // The messages written since the previous call (the daemon's own marker
  // messages left out), once everything sent to /dev/log before this call
  // has been written; waits at most timeoutMs for that. On timeout the
  // records written so far are returned and error() says so.
  std::vector<SyslogRecord> Collect(int timeoutMs = 60000);

  // The process id of the daemon reading /dev/log.
  pid_t pid() const { return daemons_.empty() ? -1 : daemons_.back(); }

 private:
  std::string Start(const std::string& name, const std::string& config);
  std::string WaitForListener(int port);
  std::string WaitForMarker(int timeoutMs);
  std::string SendMarker();

  std::string error_;
  std::string where_;
  std::string dir_;        // the tmpfs holding configurations, files, work dirs
  std::string messages_;
  std::vector<pid_t> daemons_;
  bool mounted_ = false;
  unsigned markers_ = 0;
  std::size_t readOffset_ = 0;  // of the messages file: what was parsed
  std::string partial_;         // a line not yet ended
  std::vector<SyslogRecord> pending_;
};

}  // namespace zolk

#endif
