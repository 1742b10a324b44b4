// zolk2tail as a process beside a trace writer in the test process: what it
// prints of a set at rest, following the writer through laps of the
// rotation, a writer that overtakes it, its ways of stopping, its errors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "common/Process.h"
#include "common/TempDir.h"
#include "tracewriter/TraceWriter.h"

namespace {

std::string Line(uint64_t n) { return zolksupport::NumberedLine(n, 20 + (n * 37) % 80); }

// Lines first..last as printed.
std::string Lines(uint64_t first, uint64_t last, bool raw = false) {
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
  void Signal(int signal) { ::kill(pid_, signal); }
  void CloseOutput() {
    ::close(fds_[0]);
    fds_[0] = -1;
  }
  // Collects to the end and returns the exit status, 128 + signal if killed.
  int Finish() {
    ReadUntil([] { return false; });
    int status = 0;
    if (::waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  std::string out, err;

 private:
  bool Pump() {
    struct pollfd p[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
    if (fds_[0] < 0 && fds_[1] < 0) return false;
    ::poll(p, 2, 50);
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

zolktest::ProcessResult RunTail(std::vector<std::string> args) {
  args.insert(args.begin(), ZOLK_TAIL_PATH);
  return zolktest::RunProcess(args);
}

TEST(Tail, SetAtRest) {
  struct Case {
    const char* name;
    std::vector<std::string> options;
    int file;      // the TRACEFILE
    int fromFile;  // -a: the lines from the last entry into this file on; 0: the last `last`
    uint64_t last;
    bool raw;
  };
  const Case cases[] = {
      {"default: the last 10 lines of the file being written", {}, 2, 0, 10, false},
      {"-n 3", {"-n", "3"}, 1, 0, 3, false},
      {"-n 0", {"-n", "0"}, 1, 0, 0, false},
      {"-n beyond the file: its whole data", {"-n", "100000"}, 3, 0, 100000, false},
      {"-a in the file being written", {"-a"}, 0, -1, 0, false},
      {"-a: the files after, then round", {"-a"}, 1, 1, 0, false},
      {"-a -r", {"-a", "-r"}, 2, 2, 0, true},
  };
  for (bool odd : {false, true}) {
    Set set(4096, 3, odd);
    set.Write(700);  // a little over two laps
    const uint32_t current = set.current();
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (odd ? ", other layout" : ""));
      const int file = c.file > 0 ? c.file : static_cast<int>(current);
      std::vector<std::string> args = c.options;
      args.push_back("-x");
      args.push_back(set.Path(file));
      const uint64_t first =
          c.fromFile != 0
              ? set.FirstOf(file)
              : std::max(set.FirstOf(current), set.written + 1 - std::min(c.last, set.written));
      const zolktest::ProcessResult r = RunTail(args);
      EXPECT_EQ(r.exitCode, 0);
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.out, Lines(first, set.written, c.raw));
    }
  }
}

TEST(Tail, Errors) {
  Set set;
  set.Write(200);  // in file 2
  Set gone;
  gone.Write(200);
  ASSERT_EQ(::unlink(gone.Path(1).c_str()), 0);
  zolktest::WriteFile(set.dir() + "/mmap/bad.mm", std::string(64, 'x'));
  const std::string usage = "usage: zolk2tail [-a] [-n LINES] [-x] [-i MSEC] [-r] TRACEFILE\n";
  struct Case {
    std::vector<std::string> args;
    int exit;
    std::string err;  // the first line, or a part of it
  } const cases[] = {
      {{}, 1, "zolk2tail: no TRACEFILE given\n"},
      {{"-q", set.Path(1)}, 1, "zolk2tail: unknown option -q\n"},
      {{"-n"}, 1, "zolk2tail: option -n needs a value\n"},
      {{"-n", "ten", set.Path(1)}, 1, "zolk2tail: -n: not a number of lines: ten\n"},
      {{"-i", "0", set.Path(1)}, 1, "-i: not a poll interval of 1 to 3600000 milliseconds: 0"},
      {{"-a", "-n", "5", set.Path(1)}, 1, "zolk2tail: -a and -n exclude each other\n"},
      {{set.Path(1), set.Path(2)}, 1, "zolk2tail: one TRACEFILE only: " + set.Path(2) + "\n"},
      {{"-x", set.dir() + "/t.log"},
       2,
       set.dir() + "/t.log: not the name of a file of a trace set"},
      {{"-x", set.dir() + "/u1.log"},
       2,
       "zolk2tail: " + set.dir() + "/mmap/u.mm: No such file or directory\n"},
      {{"-x", set.Path(4)},
       2,
       "zolk2tail: " + set.Path(4) + ": file number 4 is outside the set of 3 files\n"},
      {{"-x", set.dir() + "/bad1.log"},
       2,
       "zolk2tail: " + set.dir() + "/mmap/bad.mm: invalid management record\n"},
      {{"-a", "-x", gone.Path(1)},
       2,
       "zolk2tail: " + gone.Path(1) + ": No such file or directory\n"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += " " + a;
    SCOPED_TRACE(line);
    const zolktest::ProcessResult r = RunTail(c.args);
    EXPECT_EQ(r.exitCode, c.exit);
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    if (c.exit == 1) {
      EXPECT_NE(r.err.find(usage), std::string::npos) << r.err;
    }
    EXPECT_EQ(r.out, "");
  }
  const zolktest::ProcessResult help = RunTail({"-h"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind(usage, 0), 0u);
}

// The writer goes several times round the set while zolk2tail follows. It
// writes batches shorter than a file and waits for each to be printed, so
// that it never overtakes the follower however slow the machine.
TEST(Tail, FollowsThroughLaps) {
  struct Case {
    const char* name;
    std::vector<std::string> options;
    bool started;  // false: the writer starts after zolk2tail
    int stop;
  } const cases[] = {
      {"-a on a running set, ended by SIGTERM", {"-a"}, true, SIGTERM},
      {"a set whose writer has not started, ended by SIGINT", {"-n", "1000"}, false, SIGINT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Set set(4096, 3, false, c.started);
    if (c.started) set.Write(20);
    std::vector<std::string> args = c.options;
    for (const char* a : {"-i", "5"}) args.push_back(a);
    args.push_back(set.Path(1));
    Tail tail(args);
    if (!c.started) set.Start();
    while (set.written < 1200) {  // about six laps
      set.Write(25);
      ASSERT_TRUE(tail.ReadUntilOut(Lines(1, set.written))) << tail.err;
    }
    tail.Signal(c.stop);
    EXPECT_EQ(tail.Finish(), 0);
    EXPECT_EQ(tail.out, Lines(1, set.written));
    EXPECT_EQ(tail.err, "");
  }
}

// What was printed of an overtaken follower: every line whole and in
// order, every gap reported, the counts never above what is missing.
struct Losses {
  uint64_t missing = 0, reported = 0, gaps = 0, messages = 0, exact = 0;
};

Losses CheckLosses(const std::string& out, const std::string& err, uint64_t lastLine) {
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

// zolk2tail is blocked on its output, its first block of file 1 printed
// (the pipe holds far less than a block), while the writer overtakes it.
TEST(Tail, OvertakenWhileBlockedOnItsOutput) {
  struct Case {
    const char* what;
    uint32_t fileSize, fileCount;
    std::function<void(Set&)> before, whileBlocked;
    int lostIn;       // the file whose loss is reported
    bool exactCount;  // whether zolk2tail can know how many bytes it lost
  } const cases[] = {
      {"the writer comes round into file 1 beyond that block: the rest of file 1, whose end "
       "zolk2tail knows, is lost, and it goes on with file 2",
       2 << 20, 2, [](Set& s) { s.WriteUntil(2, 1000); },
       [](Set& s) { s.WriteUntil(1, (1 << 20) + 4096); }, 1, true},
      {"the writer goes on through files 3, 4 and 1 and enters file 2 again, where it stands at "
       "offset 0: the lines of file 2 not yet printed are lost like any others",
       1 << 20, 4,
       [](Set& s) {
         s.WriteUntil(1, 300000);
         s.Rotate();
         s.WriteUntil(2, 1000);
         s.Rotate();
         s.Write(5);
       },
       [](Set& s) {
         s.WriteUntil(4, 100);
         s.WriteUntil(1, 100);
         s.Rotate();
       },
       2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Set set(c.fileSize, c.fileCount);
    c.before(set);
    Tail tail({"-a", "-i", "10", set.Path(1)});
    ASSERT_TRUE(tail.ReadUntil([&] { return !tail.out.empty(); }));
    c.whileBlocked(set);
    const uint64_t last = set.written;
    ASSERT_TRUE(tail.ReadUntil([&] { return tail.out.find(Line(last) + "\n") != std::string::npos; }))
        << tail.err;
    tail.Signal(SIGTERM);
    EXPECT_EQ(tail.Finish(), 0);
    const Losses l = CheckLosses(tail.out, tail.err, last);
    EXPECT_EQ(l.gaps, 1u);
    EXPECT_EQ(l.messages, 1u);
    if (c.exactCount) {
      EXPECT_EQ(l.exact, 1u) << tail.err;
      EXPECT_EQ(l.reported, l.missing);
    }
    EXPECT_NE(tail.err.find("in " + set.Path(c.lostIn) + "\n"), std::string::npos) << tail.err;
  }
}

// zolk2tail is stopped while the writer goes more than once round the set:
// in the middle of a file, and (most likely) waiting at the start of the
// next, with nothing printed of it yet.
TEST(Tail, OvertakenWhileStopped) {
  for (bool atStart : {false, true}) {
    SCOPED_TRACE(atStart ? "at the start of a file" : "in the middle of a file");
    Set set(4096, 3);
    set.Write(20);
    if (atStart) set.Rotate();
    Tail tail({"-a", "-i", "10", set.Path(1)});
    ASSERT_TRUE(tail.ReadUntilOut(Lines(1, 20)));
    if (atStart) ::usleep(100000);  // time to move on to file 2 and wait there
    tail.Signal(SIGSTOP);
    set.Write(600);
    tail.Signal(SIGCONT);
    set.Write(5);
    ASSERT_TRUE(tail.ReadUntil([&] {
      return tail.out.find(Line(set.written) + "\n") != std::string::npos;
    })) << tail.err;
    tail.Signal(SIGTERM);
    EXPECT_EQ(tail.Finish(), 0);
    const Losses l = CheckLosses(tail.out, tail.err, set.written);
    EXPECT_GE(l.messages, 1u);
  }
}

// Stopped in the middle of a large write, zolk2tail still ends its output
// with a whole line; a closed pipe ends it as quietly.
TEST(Tail, StopsQuietlyAfterAWholeLine) {
  Set set(1 << 20, 2);
  set.WriteUntil(2, 1 << 19);
  const std::string all = Lines(1, set.written, true);
  for (int stop : {SIGTERM, SIGINT, 0}) {
    SCOPED_TRACE(stop == 0 ? "closed pipe" : strsignal(stop));
    Tail tail({"-a", "-r", set.Path(1)});
    ASSERT_TRUE(tail.ReadUntil([&] { return tail.out.size() >= 10000; }));
    if (stop == 0) {
      tail.CloseOutput();
    } else {
      tail.Signal(stop);
    }
    EXPECT_EQ(tail.Finish(), 0);
    EXPECT_EQ(tail.err, "");
    EXPECT_EQ(all.compare(0, tail.out.size(), tail.out), 0);
    if (stop != 0) {
      EXPECT_EQ(tail.out.substr(tail.out.size() - 2), "\r\n");
    }
  }
}

TEST(Tail, ManualPageRenders) {
  if (::access("/usr/bin/man", X_OK) != 0) GTEST_SKIP() << "man is not installed";
  zolktest::ProcessOptions options;
  options.setEnv = {{"MANWIDTH", "80"}, {"LC_ALL", "C.UTF-8"}};
  const zolktest::ProcessResult r = zolktest::RunProcess(
      {"man", "--warnings", "-l", std::string(ZOLK_SOURCE_DIR) + "/zolktail/man/zolk2tail.1"},
      options);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("the writer overtook the reader in FILE"), std::string::npos);
}

}  // namespace
