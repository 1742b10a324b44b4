#include "RsyslogDaemon.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

#include "ZolkUniqueFd.h"

namespace zolk {
namespace {

using zolkinternal::UniqueFd;

constexpr char kRsyslogd[] = "/usr/sbin/rsyslogd";
constexpr char kDevLog[] = "/dev/log";
constexpr int kCollectorPort = 10514;
// The program name of the messages Collect() sends to know the daemon has
// written everything before them.
constexpr char kMarkerProgram[] = "zolk-rsyslog-marker";

std::string Failure(const std::string& what) { return what + ": " + std::strerror(errno); }

void Pause() {
  const struct timespec t = {0, 5 * 1000 * 1000};
  ::nanosleep(&t, nullptr);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path);
  out << text;
  return static_cast<bool>(out.flush());
}

// One line for each message, its fields apart: the daemon escapes control
// characters it receives (a tab arrives as "#011"), so a tab never occurs
// inside a field.
constexpr char kTemplate[] = R"(template(name="zolkFields" type="list") {
  property(name="syslogfacility") constant(value="\t")
  property(name="syslogseverity") constant(value="\t")
  property(name="syslogtag") constant(value="\t")
  property(name="programname") constant(value="\t")
  property(name="procid") constant(value="\t")
  property(name="msg") constant(value="\n")
}
)";

SyslogRecord Parse(const std::string& line) {
  SyslogRecord r;
  std::string field[6];
  std::size_t start = 0;
  for (int i = 0; i < 6; ++i) {
    const std::size_t tab = i < 5 ? line.find('\t', start) : std::string::npos;
    field[i] = line.substr(start, tab == std::string::npos ? std::string::npos : tab - start);
    if (tab == std::string::npos) {
      if (i < 5) {  // not a line of the template: keep it whole
        r.text = line;
        return r;
      }
      break;
    }
    start = tab + 1;
  }
  r.facility = std::atoi(field[0].c_str());
  r.severity = std::atoi(field[1].c_str());
  r.tag = field[2];
  r.program = field[3];
  r.pid = field[4];
  r.text = field[5].compare(0, 1, " ") == 0 ? field[5].substr(1) : field[5];
  return r;
}

// A private mount namespace (and network namespace) for this process.
std::string EnterNamespaces(bool network) {
  if (::unshare(CLONE_NEWNS | (network ? CLONE_NEWNET : 0)) != 0)
    return Failure(network ? "unshare(CLONE_NEWNS | CLONE_NEWNET)" : "unshare(CLONE_NEWNS)");
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return Failure("making / private");
  if (!network) return {};
  // A new network namespace has only the loopback interface, down.
  UniqueFd s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  struct ifreq ifr = {};
  std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
  if (s.get() < 0 || ::ioctl(s.get(), SIOCGIFFLAGS, &ifr) != 0) return Failure("reading lo's flags");
  ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
  if (::ioctl(s.get(), SIOCSIFFLAGS, &ifr) != 0) return Failure("bringing lo up");
  return {};
}

// /dev becomes a tmpfs of links to the host's device nodes (bound at
// hostDev), without /dev/log: the daemon binds its own socket there.
std::string PrivateDev(const std::string& hostDev) {
  if (::mkdir(hostDev.c_str(), 0755) != 0) return Failure("mkdir " + hostDev);
  if (::mount("/dev", hostDev.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
    return Failure("binding /dev at " + hostDev);
  if (::mount("zolkdev", "/dev", "tmpfs", 0, "size=1m,mode=0755") != 0)
    return Failure("mounting a tmpfs over /dev");
  DIR* d = ::opendir(hostDev.c_str());
  if (d == nullptr) return Failure("opendir " + hostDev);
  std::string why;
  while (const struct dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == ".." || name == "log") continue;
    if (::symlink((hostDev + "/" + name).c_str(), ("/dev/" + name).c_str()) != 0 && why.empty())
      why = Failure("linking /dev/" + name);
  }
  ::closedir(d);
  return why;
}

std::string DaemonVersion() {
  std::string version;
  if (FILE* p = ::popen("/usr/sbin/rsyslogd -v 2>/dev/null", "r")) {
    char line[256];
    if (std::fgets(line, sizeof line, p) != nullptr) {
      std::istringstream words(line);
      std::string name;
      words >> name >> version;  // "rsyslogd  8.2302.0 (aka 2023.02) ..."
    }
    ::pclose(p);
  }
  return version;
}

// Whether the daemon has ended (and been waited for, now or before).
bool Exited(pid_t pid) {
  int status;
  const pid_t r = ::waitpid(pid, &status, WNOHANG);
  return r == pid || (r < 0 && errno == ECHILD);
}

}  // namespace

std::string Describe(const SyslogRecord& r) {
  static const char* const kFacility[] = {
      "kern", "user", "mail", "daemon", "auth", "syslog", "lpr", "news",
      "uucp", "cron", "authpriv", "ftp", "ntp", "security", "console", "solaris-cron",
      "local0", "local1", "local2", "local3", "local4", "local5", "local6", "local7"};
  static const char* const kSeverity[] = {"emerg", "alert", "crit", "err",
                                          "warning", "notice", "info", "debug"};
  if (r.facility < 0 || r.facility > 23 || r.severity < 0 || r.severity > 7) return r.text;
  std::string s = std::string(kFacility[r.facility]) + "." + kSeverity[r.severity] + " " + r.tag;
  return r.text.empty() ? s : s + " " + r.text;
}

const std::string& RsyslogDaemon::Unavailable() {
  static const std::string reason = []() -> std::string {
    if (::geteuid() != 0) return "running rsyslogd at a private /dev/log needs root";
    if (::access(kRsyslogd, X_OK) != 0)
      return std::string("no ") + kRsyslogd + " here (Debian package rsyslog)";
    const pid_t pid = ::fork();
    if (pid < 0) return Failure("fork");
    if (pid == 0) _exit(EnterNamespaces(true).empty() ? 0 : 1);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
    return "cannot create private mount and network namespaces here";
  }();
  return reason;
}

RsyslogDaemon::RsyslogDaemon(const Options& options) {
  if (!Unavailable().empty()) {
    error_ = Unavailable();
    return;
  }
  const std::string version = DaemonVersion();
  error_ = EnterNamespaces(options.forward);
  if (!error_.empty()) return;
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/zolk-rsyslog.XXXXXX";
  if (::mkdtemp(dir.data()) == nullptr) {
    error_ = Failure("mkdtemp " + dir);
    return;
  }
  dir_ = dir;
  // The burst of a benchmark, some 10^6 lines, fits.
  if (::mount("zolkrsyslog", dir_.c_str(), "tmpfs", 0, "size=1g,mode=0755") != 0) {
    error_ = Failure("mounting a tmpfs at " + dir_);
    return;
  }
  mounted_ = true;
  error_ = PrivateDev(dir_ + "/hostdev");
  if (!error_.empty()) return;
  messages_ = dir_ + "/messages";

  std::string rateLimit = "SysSock.RateLimit.Interval=\"" + std::to_string(options.rateLimitInterval) + "\"";
  if (options.rateLimitBurst > 0)
    rateLimit += " SysSock.RateLimit.Burst=\"" + std::to_string(options.rateLimitBurst) + "\"";
  const std::string port = std::to_string(kCollectorPort);
  const std::string writeFile =
      "*.* action(type=\"omfile\" file=\"" + messages_ + "\" template=\"zolkFields\")\n";
  if (options.forward) {
    error_ = Start("collector", "module(load=\"imtcp\")\n"
                                "input(type=\"imtcp\" address=\"127.0.0.1\" port=\"" + port + "\")\n" +
                                kTemplate + writeFile);
    if (error_.empty()) error_ = WaitForListener(kCollectorPort);
    if (!error_.empty()) return;
  }
  // A forwarding action that keeps what it cannot send yet, and retries for
  // ever: what an installation that must not lose messages sets.
  const std::string forward =
      "*.* action(type=\"omfwd\" target=\"127.0.0.1\" port=\"" + port + "\" protocol=\"tcp\""
      " queue.type=\"LinkedList\" action.resumeRetryCount=\"-1\")\n";
  error_ = Start("rsyslogd", "module(load=\"imuxsock\" " + rateLimit + ")\n" + kTemplate +
                                 (options.forward ? forward : writeFile));
  if (!error_.empty()) return;
  struct stat st;
  for (int i = 0; ::lstat(kDevLog, &st) != 0 || !S_ISSOCK(st.st_mode); ++i) {
    if (Exited(daemons_.back()) || i > 4000) {
      error_ = "rsyslogd did not bind /dev/log: " + ReadFile(dir_ + "/rsyslogd.out");
      return;
    }
    Pause();
  }
  // The daemon's own start message can be written after the first messages
  // it read, so it is waited for as well: otherwise it would be among the
  // records of the caller's first Collect().
  const std::string started = "x-pid=\"" + std::to_string(daemons_.back()) + "\"";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (bool seen = false; !seen;) {
    for (const SyslogRecord& r : Collect(60000))
      seen = seen || (r.program == "rsyslogd" && r.text.find(started) != std::string::npos);
    if (!error_.empty()) return;
    if (!seen && std::chrono::steady_clock::now() > deadline) {
      error_ = "rsyslogd did not write its start message in 60 s";
      return;
    }
  }
  where_ = "rsyslogd " + version + " at /dev/log in a private mount namespace";
  if (options.forward)
    where_ += ", forwarding over TCP to a second rsyslogd at 127.0.0.1:" + port +
              " in a private network namespace";
}

RsyslogDaemon::~RsyslogDaemon() {
  // The reading daemon first, so that it can hand the collector what it holds.
  for (auto it = daemons_.rbegin(); it != daemons_.rend(); ++it) {
    ::kill(*it, SIGTERM);
    int i = 0;
    while (!Exited(*it)) {
      if (++i == 4000) ::kill(*it, SIGKILL);
      Pause();
    }
  }
  if (!mounted_) {
    if (!dir_.empty()) ::rmdir(dir_.c_str());
    return;
  }
  ::umount2("/dev", MNT_DETACH);
  ::umount2((dir_ + "/hostdev").c_str(), MNT_DETACH);
  ::umount2(dir_.c_str(), MNT_DETACH);
  ::rmdir(dir_.c_str());
}

std::string RsyslogDaemon::Start(const std::string& name, const std::string& config) {
  const std::string work = dir_ + "/" + name + ".d";
  const std::string conf = dir_ + "/" + name + ".conf";
  const std::string out = dir_ + "/" + name + ".out";
  if (::mkdir(work.c_str(), 0755) != 0) return Failure("mkdir " + work);
  if (!WriteFile(conf, "global(workDirectory=\"" + work + "\")\n" + config))
    return Failure("writing " + conf);
  const std::string pidFile = dir_ + "/" + name + ".pid";
  const pid_t pid = ::fork();
  if (pid < 0) return Failure("fork");
  if (pid == 0) {
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      ::dup2(fd, STDOUT_FILENO);
      ::dup2(fd, STDERR_FILENO);
    }
    ::execl(kRsyslogd, kRsyslogd, "-n", "-f", conf.c_str(), "-i", pidFile.c_str(),
            static_cast<char*>(nullptr));
    std::perror(kRsyslogd);
    _exit(127);
  }
  daemons_.push_back(pid);
  return {};
}

std::string RsyslogDaemon::WaitForListener(int port) {
  struct sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (int i = 0; i < 4000; ++i) {
    UniqueFd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::connect(s.get(), reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) == 0) return {};
    if (Exited(daemons_.back())) break;
    Pause();
  }
  return "the collector does not listen on 127.0.0.1:" + std::to_string(port) + ": " +
         ReadFile(dir_ + "/collector.out");
}

std::string RsyslogDaemon::SendMarker() {
  UniqueFd s(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  struct sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, kDevLog, sizeof kDevLog);
  char stamp[32];
  const time_t now = ::time(nullptr);
  struct tm tm;
  ::strftime(stamp, sizeof stamp, "%b %e %T", ::localtime_r(&now, &tm));
  // syslog.emerg: imuxsock's rate limit spares that severity, so the marker
  // is written even when the process's own messages are being dropped.
  const std::string datagram = "<40>" + std::string(stamp) + " " + kMarkerProgram + ": " +
                               std::to_string(++markers_);
  if (::sendto(s.get(), datagram.data(), datagram.size(), 0, reinterpret_cast<struct sockaddr*>(&addr),
               sizeof addr) < 0)
    return Failure("sending to /dev/log");
  return {};
}

std::string RsyslogDaemon::WaitForMarker(int timeoutMs) {
  const std::string marker = std::to_string(markers_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    std::ifstream in(messages_, std::ios::binary);
    if (in) {
      in.seekg(static_cast<std::streamoff>(readOffset_));
      std::string chunk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      readOffset_ += chunk.size();
      partial_ += chunk;
      bool seen = false;
      std::size_t start = 0;
      for (std::size_t eol; (eol = partial_.find('\n', start)) != std::string::npos; start = eol + 1) {
        SyslogRecord r = Parse(partial_.substr(start, eol - start));
        if (r.program != kMarkerProgram)
          pending_.push_back(std::move(r));
        else if (r.text == marker)
          seen = true;
      }
      partial_.erase(0, start);
      if (seen) return {};
    }
    for (pid_t pid : daemons_)
      if (Exited(pid)) return "rsyslogd (pid " + std::to_string(pid) + ") has ended";
    if (std::chrono::steady_clock::now() > deadline)
      return "rsyslogd did not write marker " + marker + " in " + std::to_string(timeoutMs) + " ms";
    Pause();
  }
}

std::vector<SyslogRecord> RsyslogDaemon::Collect(int timeoutMs) {
  if (mounted_ && error_.empty()) {
    error_ = SendMarker();
    if (error_.empty()) error_ = WaitForMarker(timeoutMs);
  }
  std::vector<SyslogRecord> out;
  out.swap(pending_);
  return out;
}

}  // namespace zolk
