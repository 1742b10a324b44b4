// zolk2tail as a process beside a trace writer in the test process: what it
// prints of a set at rest, following the writer through laps of the
// rotation, a writer that overtakes it, its ways of stopping, its errors.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "TailFixture.h"

namespace {

using namespace zolktailtest;

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

// The numbers of the lines printed as ranges, "1-30 52-60"; a line not as
// written shows as "?".
std::string Ranges(const std::string& out) {
  std::string ranges;
  uint64_t first = 0, last = 0;
  auto flush = [&] {
    if (first != 0) ranges += std::to_string(first) + "-" + std::to_string(last) + " ";
  };
  for (size_t at = 0, eol; (eol = out.find('\n', at)) != std::string::npos; at = eol + 1) {
    const uint64_t n = std::strtoull(out.substr(at, 8).c_str(), nullptr, 10);
    if (out.compare(at, eol - at, Line(n)) != 0) {
      flush();
      first = 0;
      ranges += "? ";
    } else if (first != 0 && n == last + 1) {
      last = n;
    } else {
      flush();
      first = last = n;
    }
  }
  flush();
  return ranges;
}

// What a file holds, or what else the name leads to.
std::string Snapshot(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return "(none)";
  if (S_ISDIR(st.st_mode)) return "(directory)";
  return zolktest::ReadFile(path);
}

TEST(Tail, Errors) {
  Set set;
  set.Write(200);  // in file 2
  Set gone;
  gone.Write(200);
  ASSERT_EQ(::unlink(gone.Path(1).c_str()), 0);
  zolktest::WriteFile(set.dir() + "/mmap/bad.mm", std::string(64, 'x'));
  const std::string malformed = set.dir() + "/malformed.cur", other = set.dir() + "/other.cur",
                    directory = set.dir() + "/directory.cur";
  zolktest::WriteFile(malformed, "zolk2tail cursor 1\nset /t.mm\ndevice x\n");
  ASSERT_EQ(RunTail({"-x", "-c", other, set.Path(1)}).exitCode, 0);
  ASSERT_EQ(::mkdir(directory.c_str(), 0755), 0);
  const std::string usage =
      "usage: zolk2tail [-a] [-n LINES] [-x] [-i MSEC] [-r] [-c FILE] TRACEFILE\n";
  const std::string tryHelp = "Try 'zolk2tail --help' for more information.\n";
  struct Case {
    std::vector<std::string> args;
    int exit;
    std::string err;  // exit 1: the problem line; exit 2: the first line, or a part of it
    std::string out = "";  // standard output; the help: its first line
    std::string cursor = "";  // a cursor file to be left as it was
  } const cases[] = {
      {{}, 1, "zolk2tail: no TRACEFILE given\n"},
      {{"-q", set.Path(1)}, 1, "zolk2tail: unknown option -q\n"},
      {{"--foo=1", set.Path(1)}, 1, "zolk2tail: unknown option --foo\n"},
      {{"--version=1"}, 1, "zolk2tail: option --version takes no value\n"},
      {{"-n"}, 1, "zolk2tail: option -n needs a value\n"},
      {{set.Path(1), "--cursor-file"}, 1, "zolk2tail: option --cursor-file needs a value\n"},
      {{"-c", "", set.Path(1)}, 1, "zolk2tail: -c: empty cursor file name\n"},
      {{"-n", "ten", set.Path(1)}, 1, "zolk2tail: -n: not a number of lines: ten\n"},
      {{"-i", "0", set.Path(1)},
       1,
       "zolk2tail: -i: not a poll interval of 1 to 3600000 milliseconds: 0\n"},
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
      {{"-x", "-c", malformed, set.Path(1)},
       2,
       "zolk2tail: " + malformed + ": malformed cursor file (line 3: device is not a number)\n",
       "",
       malformed},
      {{"-x", "--cursor-file", other, gone.Path(2)},
       2,
       "zolk2tail: " + other + ": the cursor belongs to another set: " +
           std::filesystem::canonical(set.Management()).string() + "\n",
       "",
       other},
      {{"-x", "-c", directory, set.Path(1)},
       2,
       "zolk2tail: " + directory + ": Is a directory\n",
       "",
       directory},
      {{"-h"}, 0, "", usage},
      {{"--help", set.Path(1)}, 0, "", usage},
      {{"--version"}, 0, "", "zolk2tail (ZOLKLib2) " ZOLK_VERSION "\n"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += " " + a;
    SCOPED_TRACE(line);
    const std::string cursor = Snapshot(c.cursor);
    const zolktest::ProcessResult r = RunTail(c.args);
    EXPECT_EQ(Snapshot(c.cursor), cursor);
    EXPECT_EQ(r.exitCode, c.exit);
    if (c.exit == 1) {
      EXPECT_EQ(r.err, c.err + tryHelp);
    } else {
      EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
    EXPECT_EQ(c.out == usage ? r.out.substr(0, usage.size()) : r.out, c.out);
  }
}

// A run with -c continues after the last line the run before it printed,
// whatever the writer did between the two runs: `between` writes, and says
// the first line the second run prints and what it reports (DIR: the set's
// directory).
TEST(Tail, ResumesAtTheCursor) {
  struct Case {
    const char* name;
    std::function<std::pair<uint64_t, std::string>(Set&)> between;
  } const cases[] = {
      {"new lines in the same file",
       [](Set& s) {
         s.Write(40);
         return std::make_pair(uint64_t{31}, std::string());
       }},
      {"nothing written", [](Set&) { return std::make_pair(uint64_t{31}, std::string()); }},
      {"a lap that leaves the writer in file 1 short of the cursor: nothing lost",
       [](Set& s) {
         s.WriteUntil(2, 0);
         s.WriteUntil(1, 0);
         return std::make_pair(uint64_t{31}, std::string());
       }},
      {"a lap past the cursor: the loss, then the oldest file",
       [](Set& s) {
         s.WriteUntil(2, 0);
         s.WriteUntil(1, 3000);
         return std::make_pair(s.FirstOf(2),
                               std::string("zolk2tail: an unknown number of bytes lost: the "
                                           "writer overtook the reader in DIR/t1.log\n"));
       }},
      {"the set started again: from its file 1",
       [](Set& s) {
         s.Start();
         const uint64_t first = s.written + 1;
         s.Write(10);
         return std::make_pair(first, std::string("zolk2tail: DIR/mmap/t.mm: the writer started "
                                                  "the set again\nzolk2tail: an unknown number "
                                                  "of bytes lost: the writer started the set "
                                                  "again in DIR/t1.log\n"));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Set set(4096, 4);
    set.Write(30);
    const std::string cursor = set.dir() + "/cur";
    const zolktest::ProcessResult first = RunTail({"-x", "-a", "-c", cursor, set.Path(1)});
    EXPECT_EQ(first.exitCode, 0);
    EXPECT_EQ(first.out, Lines(1, 30));
    auto [from, err] = c.between(set);
    for (size_t at; (at = err.find("DIR")) != std::string::npos;) err.replace(at, 3, set.dir());
    const zolktest::ProcessResult second = RunTail({"-x", "-c", cursor, set.Path(1)});
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(second.err, err);
    EXPECT_EQ(Ranges(second.out), Ranges(Lines(from, set.written)));
    EXPECT_EQ(second.out.size(), Lines(from, set.written).size());
  }
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

// zolk2tail following with -c is killed with SIGKILL at random moments
// and started again with the same cursor file, while the writer goes round
// the set many times. The writer is paced by what has been printed so that
// it never laps the cursor: nothing may be lost, and a run goes back no
// further than its predecessor's output, whose last write it repeats when
// the kill came before the cursor was saved. A kill inside a write(2) to
// the pipe may cut a line; the next run must print it whole.
// ZOLK_TEST_SEED repeats a sequence of delays.
TEST(Tail, CursorSurvivesKills) {
  const char* const given = std::getenv("ZOLK_TEST_SEED");
  const uint32_t seed = given != nullptr ? static_cast<uint32_t>(std::strtoul(given, nullptr, 10))
                                         : std::random_device()();
  std::printf("seed %u\n", seed);
  std::mt19937 random(seed);
  constexpr int kRuns = 200;
  constexpr uint64_t kBacklog = 48 << 10;  // bytes written and not yet printed
  Set set(64 << 10, 4);
  const std::string cursor = set.dir() + "/cur";
  const std::vector<std::string> args = {"-a", "-i", "5", "-c", cursor, set.Path(1)};
  uint64_t printed = 0;     // the highest line printed
  uint64_t firstOfLast = 1;  // the first line of the last run that printed any
  uint64_t backlog = 0, repeated = 0, maxRepeated = 0, torn = 0, rotations = 0, silent = 0;
  std::string err;
  auto take = [&](const std::string& out, int run) {
    SCOPED_TRACE("run " + std::to_string(run));
    uint64_t previous = 0;
    for (size_t at = 0, eol; at < out.size(); at = eol + 1) {
      eol = out.find('\n', at);
      const uint64_t n = std::strtoull(out.substr(at, 8).c_str(), nullptr, 10);
      if (eol == std::string::npos) {  // cut by the kill: the rest of the line follows
        ASSERT_EQ(Line(n).compare(0, out.size() - at, out, at), 0) << "a line not as written";
        ASSERT_EQ(n, previous + 1);
        ++torn;
        return;
      }
      ASSERT_EQ(out.substr(at, eol - at), Line(n)) << "a line not whole";
      if (previous == 0) {
        ASSERT_GE(n, firstOfLast) << "back beyond the last run's output";
        ASSERT_LE(n, printed + 1) << "lines skipped at the start";
        repeated += printed + 1 - n;
        maxRepeated = std::max(maxRepeated, printed + 1 - n);
        firstOfLast = n;
      } else {
        ASSERT_EQ(n, previous + 1) << "lines skipped or out of order";
      }
      previous = n;
      if (n > printed) backlog -= Line(n).size() + 2;
      printed = std::max(printed, n);
    }
  };
  auto write = [&](uint64_t lines) {
    for (; lines > 0 && backlog < kBacklog; --lines) {
      const uint32_t file = set.current();
      set.Write(1);
      rotations += set.current() != file;
      backlog += Line(set.written).size() + 2;
    }
  };
  write(50);
  std::uniform_int_distribution<int> delay(0, 15);  // twice, in milliseconds
  std::uniform_int_distribution<uint64_t> batch(0, 300);
  std::uniform_int_distribution<int> quarter(0, 3);
  for (int run = 1; run <= kRuns; ++run) {
    Tail tail(args);
    write(1 + batch(random));
    // Most kills count from the first output, so that a slow start does not
    // leave every run killed before it prints; the others hit the start.
    if (quarter(random) != 0) {
      const time_t give = ::time(nullptr) + 10;
      tail.ReadUntil([&] { return !tail.out.empty() || ::time(nullptr) > give; });
    }
    tail.ReadFor(delay(random));
    write(batch(random));
    tail.ReadFor(delay(random));
    tail.Signal(SIGKILL);
    ASSERT_EQ(tail.Finish(), 128 + SIGKILL) << tail.err;
    err += tail.err;
    silent += tail.out.empty();
    take(tail.out, run);
    if (HasFatalFailure()) return;
  }
  Tail last(args);
  set.Write(20);  // lines for the last run, however far the others got
  ASSERT_TRUE(last.ReadUntil([&] {
    return last.out.find(Line(set.written) + "\n") != std::string::npos;
  })) << last.err;
  last.Signal(SIGTERM);
  EXPECT_EQ(last.Finish(), 0);
  err += last.err;
  take(last.out, kRuns + 1);
  EXPECT_EQ(printed, set.written);
  EXPECT_EQ(err, "") << "losses or failures reported";
  const std::string figures =
      "seed " + std::to_string(seed) + ": " + std::to_string(kRuns) + " runs killed (" +
      std::to_string(silent) + " before any output), " +
      std::to_string(set.written) + " lines, " + std::to_string(rotations) + " rotations, " +
      std::to_string(repeated) + " lines repeated (at most " + std::to_string(maxRepeated) +
      " after one kill), " + std::to_string(torn) + " cut by a kill, 0 lost";
  std::printf("%s\n", figures.c_str());
  RecordProperty("figures", figures);
}

// zolk2tail is blocked on its output, its first block of file 1 printed
// (the pipe holds far less than a block), while the writer overtakes it.
TEST(Tail, OvertakenWhileBlockedOnItsOutput) {
  struct Case {
    const char* what;
    uint32_t fileSize, fileCount;
    std::function<void(Set&)> before, whileBlocked;
    int lostIn;  // the file whose loss is reported; 0: nothing is lost
  } const cases[] = {
      {"the writer comes round into file 1 beyond that block: the rest of file 1, whose end "
       "zolk2tail has not read, is lost, and it goes on with file 2",
       2 << 20, 2, [](Set& s) { s.WriteUntil(2, 1000); },
       [](Set& s) { s.WriteUntil(1, (1 << 20) + 4096); }, 1},
      {"the writer goes on through files 3, 4 and 1 and enters file 2 again, where it stands at "
       "offset 0: the lines of file 2 not yet printed are still there, and all are printed",
       1 << 20, 4,
       [](Set& s) {
         s.WriteUntil(1, 200000);  // within the first block
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
       0},
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
    EXPECT_EQ(l.gaps, c.lostIn != 0 ? 1u : 0u);
    EXPECT_EQ(l.messages, l.gaps);
    if (c.lostIn != 0) {
      EXPECT_NE(tail.err.find("in " + set.Path(c.lostIn) + "\n"), std::string::npos) << tail.err;
    }
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
    tail.Stop(set.Management());
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

// Writers that lap, restart, replace or remove what zolk2tail follows, and
// sets it cannot finish: what it prints and what it reports, exactly.
// zolk2tail -a -i 10 follows t1.log from the start; `act` runs with it
// started and returns once the scenario is complete, before the last lines
// are awaited (or, with -x, the exit).
TEST(Tail, WriterScenarios) {
  struct Expect {
    uint64_t lostAfter = 0, resumeAt = 0;  // the lines around the loss; 0: no line is lost
    std::string err;                       // DIR for the set's directory
    int exit = 0;                          // with -x; nothing is printed unless 0
  };
  auto caughtUp = [](Set& s, Tail& t) { ASSERT_TRUE(t.ReadUntilOut(Lines(1, s.written))); };
  auto overtook = [](const std::string& file) {
    return "zolk2tail: an unknown number of bytes lost: the writer overtook the reader in DIR/" +
           file + "\n";
  };
  const std::string again = "zolk2tail: DIR/mmap/t.mm: the writer started the set again\n";
  // Caught up in file 1, stopped while the old run goes on into file 2 and
  // a new run writes what newRun writes; the last line printed before.
  auto restartWhileStopped = [&](Set& s, Tail& t, const std::function<void()>& newRun) {
    caughtUp(s, t);
    const uint64_t seen = s.written;
    t.Stop(s.Management());
    s.WriteUntil(2, 500);
    s.Start();
    newRun();
    t.Signal(SIGCONT);
    return seen;
  };
  struct Case {
    const char* name;
    bool stopAtEnd;
    std::function<void(Set&)> before;
    std::function<Expect(Set&, Tail&)> act;
  } const cases[] = {
      {"stopped while the writer goes twice round and stands behind it in file 1", false,
       [](Set& s) { s.Write(62); },
       [&](Set& s, Tail& t) {
         caughtUp(s, t);
         const uint64_t seen = s.written;
         t.Stop(s.Management());
         for (uint32_t f : {2, 1, 2, 1}) s.WriteUntil(f, 0);
         t.Signal(SIGCONT);
         return Expect{seen, s.FirstOf(2), overtook("t1.log")};
       }},
      {"stopped at the start of file 2 while the writer goes exactly once round: nothing lost",
       false, [](Set& s) { s.Write(30), s.Rotate(); },
       [&](Set& s, Tail& t) {
         caughtUp(s, t);
         ::usleep(100000);  // time to move on to file 2 and wait there
         t.Stop(s.Management());
         s.WriteUntil(1, 0);
         s.Rotate();
         t.Signal(SIGCONT);
         return Expect{};
       }},
      {"file 1 replaced under its name while stopped, the writer writing into the new one", false,
       [](Set& s) { s.Write(30); },
       [&](Set& s, Tail& t) {
         caughtUp(s, t);
         const uint64_t seen = s.written;
         t.Stop(s.Management());
         s.WriteUntil(4, 0);
         s.WriteUntil(4, 3000);
         ::unlink(s.Path(1).c_str());
         zolktest::WriteFile(s.Path(1), "");
         s.WriteUntil(1, 0);
         t.Signal(SIGCONT);
         return Expect{seen, s.FirstOf(2), "zolk2tail: DIR/t1.log: the file was replaced\n"
                                     "zolk2tail: an unknown number of bytes lost: the file was "
                                     "replaced in DIR/t1.log\n"};
       }},
      {"the writer starts the set again while zolk2tail waits in file 3", false,
       [](Set& s) { s.WriteUntil(3, 500); },
       [&](Set& s, Tail& t) {
         caughtUp(s, t);
         s.Start();
         return Expect{0, 0, again};
       }},
      {"the writer starts the set again while zolk2tail waits in file 1", false,
       [](Set& s) { s.Write(30); },
       [&](Set& s, Tail& t) {
         caughtUp(s, t);
         s.Start();
         return Expect{0, 0, again};
       }},
      {"stopped in file 1 while the writer goes on to file 2 and starts again past it: seen as a "
       "lap, then the old run's end, then the new run",
       false, [](Set& s) { s.Write(30); },
       [&](Set& s, Tail& t) {
         const uint32_t at = s.offset();
         const uint64_t seen = restartWhileStopped(s, t, [&] { s.WriteUntil(1, at); });
         return Expect{seen, s.FirstOf(2), overtook("t1.log") + again};
       }},
      {"the same with the new run in file 3: the oldest file after it, file 4, was never written",
       false, [](Set& s) { s.Write(30); },
       [&](Set& s, Tail& t) {
         const uint64_t seen = restartWhileStopped(s, t, [&] { s.WriteUntil(3, 100); });
         return Expect{seen, s.FirstOf(1), overtook("t1.log")};
       }},
      {"the set removed and created again", false, [](Set& s) { s.Write(30); },
       [&](Set& s, Tail& t) {
         caughtUp(s, t);
         s.Remove();
         EXPECT_TRUE(t.ReadUntil([&] { return !t.err.empty(); }));
         s.Start();
         return Expect{0, 0,
                       "zolk2tail: DIR/mmap/t.mm: the set was removed; waiting for it to be "
                       "created again\nzolk2tail: DIR/mmap/t.mm: the set was created again\n"};
       }},
      {"-x over a set ending in a line the writer never finished", true,
       [](Set& s) {
         s.Write(5);
         ::truncate(s.Path(1).c_str(), s.offset());
         const int fd = ::open(s.Path(1).c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
         EXPECT_EQ(::write(fd, "unfinis", 7), 7);
         ::close(fd);
         s.PutRecord(1, s.offset() + 7);
       },
       nullptr},
      {"-x over a record whose writer offset is beyond the signed range", true,
       [](Set& s) {
         s.Write(5);
         s.PutRecord(1, 0x80000000u);
       },
       [](Set&, Tail&) {
         return Expect{0, 0, "zolk2tail: DIR/mmap/t.mm: invalid management record\n", 2};
       }},
      {"an invalid record is reported once and waited out", false,
       [](Set& s) {
         s.Write(5);
         s.PutRecord(1, 0x80000000u);
       },
       [](Set& s, Tail& t) {
         EXPECT_TRUE(t.ReadUntil([&] { return !t.err.empty(); }));
         ::usleep(100000);  // several looks at the invalid record
         s.Write(1);        // the writer puts a valid one
         return Expect{0, 0, "zolk2tail: DIR/mmap/t.mm: invalid management record\n"};
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Set set(4096, 4);
    c.before(set);
    std::vector<std::string> args = {"-a", "-i", "10", set.Path(1)};
    if (c.stopAtEnd) args.insert(args.begin(), "-x");
    Tail tail(args);
    const Expect e = c.act ? c.act(set, tail) : Expect{};
    // Caught up, and then on with the writer.
    for (int more : {0, 3}) {
      if (c.stopAtEnd) break;
      set.Write(more);
      const std::string last = Line(set.written) + "\n";
      EXPECT_TRUE(tail.ReadUntil([&] { return tail.out.find(last) != std::string::npos; }))
          << tail.err;
    }
    if (!c.stopAtEnd) tail.Signal(SIGTERM);
    EXPECT_EQ(tail.Finish(), e.exit);
    const std::string out = e.lostAfter == 0
                                ? Lines(1, set.written)
                                : Lines(1, e.lostAfter) + Lines(e.resumeAt, set.written);
    EXPECT_EQ(Ranges(tail.out), Ranges(e.exit == 0 ? out : ""));
    std::string err = e.err;
    for (size_t at; (at = err.find("DIR")) != std::string::npos;) err.replace(at, 3, set.dir());
    EXPECT_EQ(tail.err, err);
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
