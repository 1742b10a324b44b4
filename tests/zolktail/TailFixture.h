// The fixtures of the zolk2tail tests: a trace set written by the test
// process, zolk2tail running beside it, and the check of what an overtaken
// follower printed.
#ifndef ZOLK_TESTS_ZOLKTAIL_TAILFIXTURE_H
#define ZOLK_TESTS_ZOLKTAIL_TAILFIXTURE_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "common/Process.h"
#include "common/TempDir.h"
#include "tracewriter/TraceWriter.h"

namespace zolktailtest {


inline std::string Line(uint64_t n) { return zolksupport::NumberedLine(n, 20 + (n * 37) % 80); }

// Lines first..last as printed.
inline std::string Lines(uint64_t first, uint64_t last, bool raw = false) {
  std::string s;
  for (uint64_t n = first; n <= last; ++n) s += Line(n) + (raw ? "\r\n" : "\n");
  return s;
}

// A trace set written by this process, remembering which entry into a
// file (the writer's first, second, ... file) each line went to.
class Set {
 public:
  explicit Set(uint32_t fileSize = 4096, uint32_t fileCount = 3, bool odd = false,
               bool start = true) {
    options_.directory = dir_.path();
    options_.prefix = "t";
    options_.fileSize = fileSize;
    options_.fileCount = fileCount;
    // The other layout: not pre-extended, mark pair, the other byte order.
    options_.preExtend = !odd;
    options_.endMarkPair = odd;
    if (odd)
      options_.byteOrder = zolksupport::HostByteOrder() == zolksupport::ByteOrder::Little
                               ? zolksupport::ByteOrder::Big
                               : zolksupport::ByteOrder::Little;
    if (start) {
      Start();
    } else {  // what a writer that is setting up leaves: an empty management file
      ::mkdir((dir_ / "mmap").c_str(), 0755);
      zolktest::WriteFile(dir_ / "mmap/t.mm", "");
    }
  }
  void Start() { ASSERT_EQ(zolksupport::TraceWriter::Create(options_, &writer_), 0); }
  void Write(uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) {
      ASSERT_EQ(writer_->WriteLine(Line(++written)), 0);
      if (entries_.empty() || entries_.back().first != writer_->fileNumber() ||
          writer_->writeOffset() < offset_)
        entries_.emplace_back(writer_->fileNumber(), written);
      offset_ = writer_->writeOffset();
    }
  }
  void Rotate() { ASSERT_EQ(writer_->Rotate(), 0); }
  // Writes until the writer is in file `number` past `offset`.
  void WriteUntil(uint32_t number, uint32_t offset) {
    while (writer_->fileNumber() != number || writer_->writeOffset() <= offset) Write(1);
  }
  uint32_t current() const { return writer_->fileNumber(); }
  std::string Path(int number) const { return dir_ / ("t" + std::to_string(number) + ".log"); }
  const std::string& dir() const { return dir_.path(); }
  // The first line of the last entry into file `number`; line 1 when the
  // writer has not entered it yet.
  uint64_t FirstOf(uint32_t number) const {
    for (auto e = entries_.rbegin(); e != entries_.rend(); ++e)
      if (e->first == number) return e->second;
    return 1;
  }
  uint32_t offset() const { return writer_->writeOffset(); }
  // Puts a record of the writer's own layout that says what is given.
  void PutRecord(uint32_t file, uint32_t offset) {
    management_info_t r{};
    std::memcpy(r.magic, ZOLK2_MPTT_MAGIC, sizeof r.magic);
    r.byteOrderMark = ZOLK2_MPTT_BYTE_ORDER_MARK;
    r.fileSize = options_.fileSize;
    r.fileCount = options_.fileCount;
    r.writeFileNumber = file;
    r.writeOffset = offset;
    r.lockType = ZOLK2_MPTT_LOCK_LOCKF;
    const std::vector<unsigned char> b = zolksupport::EncodeManagementRecord(r, options_.byteOrder);
    zolktest::WriteFile(dir_ / "mmap/t.mm", std::string(b.begin(), b.end()));
  }
  // Removes the set, as rm -r of its files would.
  void Remove() {
    for (uint32_t n = 1; n <= options_.fileCount; ++n) ::unlink(Path(n).c_str());
    ::unlink((dir_ / "mmap/t.mm").c_str());
    ::rmdir((dir_ / "mmap").c_str());
  }
  std::string Management() const { return dir_ / "mmap/t.mm"; }
  uint64_t written = 0;

 private:
  zolktest::TempDir dir_;
  zolksupport::TraceWriterOptions options_;
  std::unique_ptr<zolksupport::TraceWriter> writer_;
  std::vector<std::pair<uint32_t, uint64_t>> entries_;  // file number, first line
  uint32_t offset_ = 0;
};

// zolk2tail running, its output and errors collected as they come.
class Tail {
 public:
  explicit Tail(std::vector<std::string> args) {
    args.insert(args.begin(), ZOLK_TAIL_PATH);
    int out[2], err[2];
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(err, O_CLOEXEC), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    fds_[0] = out[0];
    fds_[1] = err[0];
  }
  ~Tail() {
    for (int fd : fds_)
      if (fd >= 0) ::close(fd);
    if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  // Collects until done() holds or 60 seconds have passed.
  bool ReadUntil(const std::function<bool()>& done) {
    const time_t deadline = ::time(nullptr) + 60;
    while (!done()) {
      if (::time(nullptr) > deadline || !Pump()) return done();
    }
    return true;
  }
  bool ReadUntilOut(const std::string& expect) {
    return ReadUntil([&] { return out.size() >= expect.size(); });
  }
  // Collects for `ms` milliseconds.
  void ReadFor(int ms) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
    for (Clock::time_point now; (now = Clock::now()) < end;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now);
      if (!Pump(static_cast<int>(left.count()) + 1)) return;
    }
  }
  void Signal(int signal) { ::kill(pid_, signal); }
  // SIGSTOP at a moment it does not hold the lock on the management file
  // that the writer needs to go on: a stopped reader holding it would stop
  // the writer of the test too.
  void Stop(const std::string& managementFile) {
    const int fd = ::open(managementFile.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    for (;;) {
      ::kill(pid_, SIGSTOP);
      int status = 0;
      ASSERT_EQ(::waitpid(pid_, &status, WUNTRACED), pid_);
      if (::lockf(fd, F_TEST, 0) == 0) break;
      ::kill(pid_, SIGCONT);
      ::usleep(1000);
    }
    ::close(fd);
  }
  void CloseOutput() {
    ::close(fds_[0]);
    fds_[0] = -1;
  }
  // Collects to the end and returns the exit status, 128 + signal if killed.
  int Finish() {
    ReadUntil([] { return false; });
    siginfo_t info{};
    ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
    if (info.si_pid == 0) ::kill(pid_, SIGKILL);  // still running after a minute: it hangs
    int status = 0;
    if (::waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  std::string out, err;

 private:
  bool Pump(int timeoutMs = 50) {
    struct pollfd p[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
    if (fds_[0] < 0 && fds_[1] < 0) return false;
    ::poll(p, 2, timeoutMs);
    for (int i = 0; i < 2; ++i) {
      if (fds_[i] < 0 || (p[i].revents & (POLLIN | POLLHUP)) == 0) continue;
      char buf[65536];
      const ssize_t n = ::read(fds_[i], buf, sizeof buf);
      if (n > 0) {
        (i == 0 ? out : err).append(buf, static_cast<size_t>(n));
      } else {
        ::close(fds_[i]);
        fds_[i] = -1;
      }
    }
    return true;
  }
  pid_t pid_ = -1;
  int fds_[2] = {-1, -1};
};

inline zolktest::ProcessResult RunTail(std::vector<std::string> args) {
  args.insert(args.begin(), ZOLK_TAIL_PATH);
  return zolktest::RunProcess(args);
}

// What was printed of an overtaken follower: every line whole and in
// order, every gap reported, the counts never above what is missing.
struct Losses {
  uint64_t missing = 0, reported = 0, gaps = 0, messages = 0, exact = 0;
};

inline Losses CheckLosses(const std::string& out, const std::string& err, uint64_t lastLine) {
  Losses l;
  uint64_t previous = 0;
  for (size_t at = 0, eol; (eol = out.find('\n', at)) != std::string::npos; at = eol + 1) {
    const uint64_t n = std::stoull(out.substr(at, 8));
    EXPECT_EQ(out.substr(at, eol - at), Line(n));
    EXPECT_GT(n, previous) << "printed twice or out of order";
    for (uint64_t m = previous + 1; m < n; ++m) l.missing += Line(m).size() + 2;
    l.gaps += n > previous + 1;
    previous = n;
  }
  EXPECT_EQ(previous, lastLine);
  const std::regex message(
      "zolk2tail: (at least )?([0-9]+ |an unknown number of )bytes lost: the writer overtook the "
      "reader in [^\n]*\n");
  for (auto it = std::sregex_iterator(err.begin(), err.end(), message);
       it != std::sregex_iterator(); ++it) {
    ++l.messages;
    if ((*it)[2].str()[0] != 'a') l.reported += std::stoull((*it)[2].str());
    l.exact += !(*it)[1].matched && (*it)[2].str()[0] != 'a';
  }
  EXPECT_EQ(std::regex_replace(err, message, ""), "") << "other messages";
  EXPECT_GE(l.messages, l.gaps);
  EXPECT_LE(l.reported, l.missing);
  if (l.exact == l.messages) {
    EXPECT_EQ(l.reported, l.missing) << "exact counts";
  }
  return l;
}

}  // namespace zolktailtest

#endif
