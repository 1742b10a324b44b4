// zolk2conf as an administrator runs it: exit status, both streams, the
// file's bytes and mode, and the execution log.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <iostream>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "CommandRunner.h"
#include "common/Privileges.h"
#include "common/Sanitizers.h"

namespace {

using zolkcuitest::ConfDir;
using zolkcuitest::kDefaultConf;

const char kMissing[] = "<missing>";
const char kUnchanged[] = "<unchanged>";
const char kDirectory[] = "<directory>";

// The seven canonical lines with some values replaced.
std::string Conf(const std::string &logFile = "", const std::string &logSize = "262144",
                 const std::string &fileNum = "4", const std::string &mapSize = "65536") {
  return "LogFile = " + logFile + "\nLogSize = " + logSize + "\nLogFNum = " + fileNum +
         "\nMapSize = " + mapSize + "\nWatchDog = 10\nIntervalSec = 0\nMaxMsgNum = 0\n";
}

struct Case {
  const char *name;
  std::string initial;  // kMissing: no file
  std::vector<std::string> args;
  int rc;
  std::string err;
  std::string after;  // kUnchanged: byte for byte as before
};

TEST(Zolk2Conf, SetsKeysAndRefusesBadInput) {
  const std::string longPath = "/" + std::string(1023, 'p');
  const std::string digits5000(5000, '9'), word5000 = "w" + std::string(4999, 'x');
  const std::string value1028 = "/" + std::string(1027, 'v');  // the line fits one chunk
  const std::string longLine = std::string(1100, '#') + " LogSize = 1\n";
  const Case cases[] = {
      {"empty file gets all seven keys", "", {"-b", "512"}, 0, "", Conf("", "524288")},
      {"every option, canonical lines", "", {"-f", " /tmp/t ", "-b0512", "-n", "04", "-s", "8",
       "-w", "300", "-i", "3600", "-m", "500"}, 0, "",
       "LogFile = /tmp/t\nLogSize = 524288\nLogFNum = 04\nMapSize = 8192\nWatchDog = 300\n"
       "IntervalSec = 3600\nMaxMsgNum = 500\n"},
      {"non-numeric stored size falls back to default", "LogSize=abc\n", {"-n", "8"}, 0, "",
       "LogSize = 262144\nLogFile = \nLogFNum = 8\nMapSize = 65536\nWatchDog = 10\n"
       "IntervalSec = 0\nMaxMsgNum = 0\n"},
      {"later duplicate wins, first place kept", "# top\nLogSize=1024000\nx\nLogSize = 2048000\n",
       {"-n", "2"}, 0, "", "# top\nLogSize = 2048000\nx\nLogFile = \nLogFNum = 2\n"
       "MapSize = 65536\nWatchDog = 10\nIntervalSec = 0\nMaxMsgNum = 0\n"},
      {"blank in key, blank in value", "Log Size = 1024000\nLogFile = /var/log/my trace\n",
       {"-n", "1"}, 0, "", "LogSize = 1024000\nLogFile = /var/log/my\nLogFNum = 1\n"
       "MapSize = 65536\nWatchDog = 10\nIntervalSec = 0\nMaxMsgNum = 0\n"},
      {"16-character key and empty value", "abcdefghijklmnop=1\nLogFNum = 6\nLogFNum =\n",
       {"-m", "7"}, 0, "", "abcdefghijklmnop=1\nLogFNum = 6\nLogFile = \nLogSize = 262144\n"
       "MapSize = 65536\nWatchDog = 10\nIntervalSec = 0\nMaxMsgNum = 7\n"},
      {"CR LF, NUL bytes, long line, no final newline",
       std::string("a\0b\r\n", 5) + "LogFNum = 9\r\n" + longLine + "# last", {"-w", "1"}, 0, "",
       std::string("a\0b\r\n", 5) + "LogFNum = 9\n" + longLine + "# last\nLogFile = \n"
       "LogSize = 262144\nMapSize = 65536\nWatchDog = 1\nIntervalSec = 0\nMaxMsgNum = 0\n"},
      {"stored value over 1024 characters is cut", "LogFile = " + value1028 + "\n",
       {"-n", "3"}, 0, "", Conf(value1028.substr(0, 1024), "262144", "3")},
      {"long -f value is cut to 1024", "", {"-f", longPath + "tail"}, 0, "", Conf(longPath)},
      {"sizes equal pass", "", {"-b", "8", "-s", "8"}, 0, "", Conf("", "8192", "4", "8192")},
      {"log size below map size, file not read", kMissing, {"-b", "8", "-s", "16"}, 11,
       "Size that is smaller than the size of the Map file. (-b 8)\n", kUnchanged},
      {"-b below stored MapSize", Conf(), {"-b", "32"}, 11,
       "Size that is smaller than the size of the Map file. (-b 32)\n", kUnchanged},
      {"-s above stored LogSize", Conf(), {"-s", "512"}, 12,
       "Sizes that are larger than sizes of log file. (-s 512)\n", kUnchanged},
      {"stored MapSize beyond a long", "MapSize = 99999999999999999999\n", {"-b", "16"}, 17,
       "MapSize : FAILED\nCannot read the key value.\n", kUnchanged},
      {"missing file is not created", kMissing, {"-n", "2"}, 13,
       "File not found. 'etc/D002zolk2.cnf'\n", kUnchanged},
      {"directory in place of the file", kDirectory, {"-n", "2"}, 13,
       "File not found. 'etc/D002zolk2.cnf'\n", kUnchanged},
      {"range", Conf(), {"-b", "8193"}, 1,
       "Specify the number between from 8 to 8192. (-b 8193)\n", kUnchanged},
      {"blank in a number", Conf(), {"-w", " 30"}, 1,
       "Specify the number between from 1 to 300. (-w  30)\n", kUnchanged},
      {"relative -f", Conf(), {"-f", "log/x"}, 1,
       "Must be specified with full path. (-f log/x)\n", kUnchanged},
      {"wildcard in -f", Conf(), {"-f", " /tmp/zo* "}, 1,
       "Must be specified with full path. (-f /tmp/zo*)\n", kUnchanged},
      {"line break in -f injects no line", Conf(), {"-f", "/tmp/t\nLogSize = 1\nMapSize = 9"}, 1,
       "Must be specified with full path. (-f /tmp/t\nLogSize = 1\nMapSize = 9)\n", kUnchanged},
      {"tab left after trimming -f", Conf(), {"-f", " /tmp/t\t "}, 1,
       "Must be specified with full path. (-f /tmp/t\t)\n", kUnchanged},
      {"CR or DEL in -f", Conf(), {"-f", "/tmp/\r\x7f"}, 1,
       "Must be specified with full path. (-f /tmp/\r\x7f)\n", kUnchanged},
      {"missing -f directory", Conf(), {"-f", "/nonexistent-zolk/x"}, 10,
       "Existing directory is necessary. (-f /nonexistent-zolk/x)\n", kUnchanged},
      {"unknown letter", Conf(), {"-x"}, 1, "Wrong argument. '-x'\n", kUnchanged},
      {"first problem only: range", Conf(), {"-b", "8193", "-x"}, 1,
       "Specify the number between from 8 to 8192. (-b 8193)\n", kUnchanged},
      {"first problem only: argument", Conf(), {"-x", "-b", "8193"}, 1,
       "Wrong argument. '-x'\n", kUnchanged},
      {"no setting option", Conf(), {}, 1, "Wrong argument.\n", kUnchanged},
      {"empty -l wins over an earlier one", Conf(), {"-l", "x.log", "-l", "", "-b", "16"}, 1,
       "Must be specified with file name. (-l )\n", kUnchanged},
      {"5000 digits", Conf(), {"-b", digits5000}, 1,
       "Specify the number between from 8 to 8192. (-b " + digits5000.substr(0, 1024) + ")\n",
       kUnchanged},
      {"5000-character wrong argument", Conf(), {word5000}, 1,
       ("Wrong argument. '" + word5000).substr(0, 1024) + "\n", kUnchanged},
  };
  for (const Case &c : cases) {
    ConfDir dir;
    if (c.initial == kDirectory) {
      ASSERT_EQ(::mkdir(dir.conf().c_str(), 0755), 0);
    } else if (c.initial != kMissing) {
      dir.Write(c.initial);
      ::chmod(dir.conf().c_str(), 0600);
      if (zolktest::IsRoot()) ::chown(dir.conf().c_str(), 4321, 8765);  // must survive a rewrite
    }
    const zolktest::ProcessResult r = dir.Run(ZOLK_TEST_CONF, c.args);
    EXPECT_EQ(r.exitCode, c.rc) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    EXPECT_EQ(r.out, "") << c.name;
    if (c.initial != kDirectory) {
      EXPECT_EQ(dir.Read(), c.after == kUnchanged ? c.initial : c.after) << c.name;
    }
    struct stat st;
    if (c.rc == 0 && ::stat(dir.conf().c_str(), &st) == 0) {
      EXPECT_EQ(st.st_mode & 07777, 0644u) << c.name;
      if (zolktest::IsRoot()) {
        EXPECT_EQ(st.st_uid, 4321u) << c.name << ": owner kept";
        EXPECT_EQ(st.st_gid, 8765u) << c.name << ": group kept";
      }
    }
    EXPECT_TRUE(dir.Strays().empty()) << c.name;
  }
}

TEST(Zolk2Conf, HelpWinsOverEverything) {
  ConfDir dir;
  dir.Write(kDefaultConf);
  const zolktest::ProcessResult r = dir.Run(ZOLK_TEST_CONF, {"-b", "1", "-x", "-h", "-l", ""});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 30);
  EXPECT_NE(r.out.find("\n  The unit is a second.\n\n-m MAX-MESSAGE-NUMBER\n"), std::string::npos);
  EXPECT_EQ(r.out.substr(r.out.size() - 34), "\n-h\n  display this help and exit.\n");
  EXPECT_EQ(dir.Read(), kDefaultConf);
}

TEST(Zolk2Conf, ExecutionLogRecordsTheRun) {
  ConfDir dir;
  dir.Write("# keep\n");
  zolktest::WriteFile(dir / "run.log", "previous\n");
  zolktest::ProcessResult r = dir.Run(ZOLK_TEST_CONF, {"-s", "8", "-l", " run.log ", "-n1"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  r = dir.Run(ZOLK_TEST_CONF, {"-l", "run.log"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "");
  const std::string start = "Logging start:   \\d{4}/\\d\\d/\\d\\d  \\d\\d:\\d\\d:\\d\\d\n";
  const std::regex expected("previous\n" + start + "Specified arguments\\.\n"
                            "  \\S+zolk2conf_testpath -s 8 -l  run\\.log  -n1\n"
                            "LogFNum : SUCCESS\nMapSize : SUCCESS\nCOMMAND RETURN CODE : 0\n" +
                            start + "Specified arguments\\.\n  \\S+ -l run\\.log\n"
                            "Wrong argument\\.\nCOMMAND RETURN CODE : 1\n");
  const std::string log = zolktest::ReadFile(dir / "run.log");
  EXPECT_TRUE(std::regex_match(log, expected)) << log;
  EXPECT_EQ(dir.Read(), "# keep\nLogFile = \nLogSize = 262144\nLogFNum = 1\nMapSize = 8192\n"
                        "WatchDog = 10\nIntervalSec = 0\nMaxMsgNum = 0\n");
}

TEST(Zolk2Conf, LogThatIsADirectoryLosesOnlyTheMessages) {
  ConfDir dir;
  dir.Write(kDefaultConf);
  ASSERT_EQ(::mkdir((dir / "logdir").c_str(), 0755), 0);
  zolktest::ProcessResult r = dir.Run(ZOLK_TEST_CONF, {"-l", "logdir", "-n", "5"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(dir.Read(), Conf("", "262144", "5"));
  r = dir.Run(ZOLK_TEST_CONF, {"-l", "logdir", "-n", "50"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "") << "messages meant for the log do not fall back to standard error";
}

TEST(Zolk2Conf, SymbolicLinkKeepsPointingAtTheRewrittenFile) {
  ConfDir dir;
  ASSERT_EQ(::mkdir((dir / "real").c_str(), 0755), 0);
  zolktest::WriteFile(dir / "real/D002zolk2.cnf", "# mine\n");
  ASSERT_EQ(::symlink("../real/D002zolk2.cnf", dir.conf().c_str()), 0);
  const zolktest::ProcessResult r = dir.Run(ZOLK_TEST_CONF, {"-i", "60"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  struct stat st;
  ASSERT_EQ(::lstat(dir.conf().c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(zolktest::ReadFile(dir / "real/D002zolk2.cnf"),
            "# mine\nLogFile = \nLogSize = 262144\nLogFNum = 4\nMapSize = 65536\n"
            "WatchDog = 10\nIntervalSec = 60\nMaxMsgNum = 0\n");
}

const uid_t kUser = 4321;
const gid_t kGroup = 8765;

// Files and directories that the caller does not fully own, or that have
// more than one name: the rewrite succeeds and every name shows it.
struct IdentityCase {
  const char *name;
  bool mounts;                                  // needs a private mount namespace
  zolkcuitest::Credentials as;                  // uid 0: the test's own
  std::function<int(const ConfDir &)> prepare;  // as the test, before the command
  const char *otherName;                        // another name of the file
};

int Own(const std::string &path, uid_t uid, gid_t gid, mode_t mode) {
  return ::chown(path.c_str(), uid, gid) != 0 || ::chmod(path.c_str(), mode) != 0;
}

TEST(Zolk2Conf, RewriteKeepsTheFilesIdentity) {
  const zolkcuitest::Credentials user{kUser, kUser, {kUser}};
  const IdentityCase cases[] = {
      {"caller's file in a directory of mode 0333", false, user,
       [](const ConfDir &d) {
         return Own(d / "etc", kUser, kUser, 0333) | Own(d.conf(), kUser, kUser, 0644);
       },
       zolkcuitest::kConfRelative},
      {"caller may write the file, not the directory", false, user,
       [](const ConfDir &d) { return Own(d.conf(), kUser, kUser, 0644); },
       zolkcuitest::kConfRelative},
      {"group member cannot give a new file the owner", false, {kUser, kUser, {kUser, kGroup}},
       [](const ConfDir &d) {
         return Own(d / "etc", 0, kGroup, 0775) | Own(d.conf(), 0, kGroup, 0664);
       },
       zolkcuitest::kConfRelative},
      {"bind-mounted file", true, {},
       [](const ConfDir &d) {
         zolktest::WriteFile(d / "source.cnf", kDefaultConf);
         return ::mount((d / "source.cnf").c_str(), d.conf().c_str(), nullptr, MS_BIND, nullptr);
       },
       "source.cnf"},
      {"file with another hard link", false, {},
       [](const ConfDir &d) { return ::link(d.conf().c_str(), (d / "other.cnf").c_str()); },
       "other.cnf"},
  };
  std::string skipped;
  for (const IdentityCase &c : cases) {
    const bool asOther = c.as.uid != 0;
    const std::string why = asOther && !zolktest::IsRoot() ? "needs root to run as another user"
                            : c.mounts ? zolktest::PrivateMountUnavailable() : "";
    if (!why.empty()) {
      skipped += std::string("; ") + c.name + ": " + why;
      continue;
    }
    ConfDir dir;
    zolkcuitest::Isolation how;
    how.privateMounts = c.mounts;
    how.runAs = c.as;
    how.setup = [&] {
      dir.Write(kDefaultConf);
      zolktest::WriteFile(dir / "run.log", "");
      if (c.as.uid != 0 && (::chmod(dir.path().c_str(), 0755) != 0 ||
                            Own(dir / "run.log", c.as.uid, c.as.gid, 0644) != 0))
        return 1;
      return c.prepare(dir);
    };
    how.collect = [&] {
      zolktest::WriteFile(dir / "after.cnf", dir.Read());
      zolktest::WriteFile(dir / "after.other", zolktest::ReadFile(dir / c.otherName));
    };
    const zolktest::ProcessResult r = zolkcuitest::RunIsolated(
        dir.path(), ZOLK_TEST_CONF, {"-n", "7", "-l", "run.log"}, how);
    if (r.exitCode == zolkcuitest::kCannotRunAs) {
      skipped += std::string("; ") + c.name + ": uid " + std::to_string(c.as.uid) +
                 " cannot enter " + dir.path() + " (set TMPDIR to a directory others may enter)";
      continue;
    }
    EXPECT_EQ(r.exitCode, 0) << c.name;
    EXPECT_EQ(r.err, "") << c.name;
    const std::string log = zolktest::ReadFile(dir / "run.log");
    EXPECT_NE(log.find("\nLogFNum : SUCCESS\nCOMMAND RETURN CODE : 0\n"), std::string::npos)
        << c.name << "\n" << log;
    EXPECT_EQ(zolktest::ReadFile(dir / "after.cnf"), Conf("", "262144", "7")) << c.name;
    EXPECT_EQ(zolktest::ReadFile(dir / "after.other"), Conf("", "262144", "7")) << c.name;
    EXPECT_TRUE(dir.Strays().empty()) << c.name;
  }
  if (!skipped.empty()) GTEST_SKIP() << "the other cases ran; not run" << skipped;
}

// A file system that cannot take the new content: the command says so and
// the administrator's file stays exactly as it was.
void ExpectFailedRewriteLeavesFile(const zolkcuitest::Isolation &how, ConfDir &dir,
                                   const std::string &original) {
  const zolktest::ProcessResult r = zolkcuitest::RunIsolated(
      dir.path(), ZOLK_TEST_CONF, {"-f", "/tmp/x", "-l", "run.log"}, how);
  EXPECT_EQ(r.exitCode, 14);
  EXPECT_EQ(r.err, "");
  const std::string log = zolktest::ReadFile(dir / "run.log");
  EXPECT_NE(log.find("\nFailed to write. 'etc/D002zolk2.cnf'\nCOMMAND RETURN CODE : 14\n"),
            std::string::npos) << log;
  EXPECT_EQ(log.find("SUCCESS"), std::string::npos) << log;
  EXPECT_EQ(zolktest::ReadFile(dir / "after.cnf"), original);
}

std::string BigConf() { return std::string(6000, '#') + "\n" + kDefaultConf; }

TEST(Zolk2Conf, FileSizeLimitDuringRewrite) {
  ConfDir dir;
  const std::string original = BigConf();
  dir.Write(original);
  zolkcuitest::Isolation how;
  how.fileSizeLimit = 4096;  // below the new content; the log stays far smaller
  how.collect = [&] { zolktest::WriteFile(dir / "after.cnf", dir.Read()); };
  ExpectFailedRewriteLeavesFile(how, dir, original);
  EXPECT_TRUE(dir.Strays().empty());
}

// With no room for a copy beside the file, the rename cannot be used; with
// a second name, the in-place rewrite runs out of room half-way and has to
// put the original back.
TEST(Zolk2Conf, FullFileSystemDuringRewrite) {
  if (!zolktest::PrivateMountUnavailable().empty())
    GTEST_SKIP() << zolktest::PrivateMountUnavailable();
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  const struct {
    const char *name;
    std::string original;  // fills the two pages of the file system with the filler
    size_t filler;
    const char *other;     // another name of the file
  } cases[] = {
      {"by rename", std::string(page + 1000, '#') + "\n" + kDefaultConf, 0, "D002zolk2.cnf"},
      {"in place", std::string(page - sizeof kDefaultConf, '#') + "\n" + kDefaultConf, page,
       "link"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ConfDir dir;
    const std::string other = dir / (std::string("etc/") + c.other);
    zolkcuitest::Isolation how;
    how.privateMounts = true;
    how.setup = [&] {
      if (zolktest::MountTmpfs(dir / "etc", 2 * page) != 0) return 1;
      dir.Write(c.original);
      if (c.filler != 0) zolktest::WriteFile(dir / "etc/filler", std::string(c.filler, 'f'));
      return other == dir.conf() ? 0 : ::link(dir.conf().c_str(), other.c_str());
    };
    how.collect = [&] {
      std::vector<std::string> names = dir.Strays();
      std::sort(names.begin(), names.end());
      std::string strays;
      for (const std::string &s : names) strays += s + "\n";
      zolktest::WriteFile(dir / "after.cnf", dir.Read());
      zolktest::WriteFile(dir / "after.other", zolktest::ReadFile(other));
      zolktest::WriteFile(dir / "strays", strays);
    };
    ExpectFailedRewriteLeavesFile(how, dir, c.original);
    EXPECT_EQ(zolktest::ReadFile(dir / "after.other"), c.original);
    EXPECT_EQ(zolktest::ReadFile(dir / "strays"), c.filler != 0 ? "filler\nlink\n" : "");
  }
}

// SIGKILL at random moments of many rewrites. Replaced by rename, the file
// holds its old content or its new one after every kill, and a killed run
// leaves at most the one temporary file, which the next run replaces.
// Rewritten in place (the file has a second name), a kill between writing
// the new content and cutting the file to its length leaves the new content
// followed by the end of the old one; nothing else may be seen.
TEST(Zolk2Conf, KilledAtRandomMoments) {
  const std::string temp = std::string(zolkcuitest::kConfRelative).substr(4) + ".zolk2conf-new";
  const struct {
    const char *name;
    int runs;
    const char *link;  // second name of the file: rewritten in place
  } cases[] = {{"by rename", 1000, nullptr}, {"in place", 300, "link"}};
  // Under AddressSanitizer its start-up takes most of a run, where a kill
  // finds nothing new: a quarter of the runs there.
  const int share = zolktest::kAddressSanitizer ? 4 : 1;
  std::mt19937 random(std::random_device{}());
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ConfDir dir;
    dir.Write(Conf());
    if (c.link != nullptr) {
      ASSERT_EQ(::link(dir.conf().c_str(), (dir / "etc/link").c_str()), 0);
    }
    // Run i sets a value of its own; the lengths of the -f values differ, so
    // the new content is now longer, now shorter than the old.
    auto content = [](int i) { return Conf("/tmp/" + std::string(i % 7 * 9, 'x'), "262144",
                                           std::to_string(i % 16 + 1)); };
    auto run = [&](int i, useconds_t killAfter) {
      zolkcuitest::Isolation how;
      how.killAfter = killAfter;
      return zolkcuitest::RunIsolated(dir.path(), ZOLK_TEST_CONF,
          {"-n", std::to_string(i % 16 + 1), "-f", "/tmp/" + std::string(i % 7 * 9, 'x')}, how);
    };
    // Kills fall anywhere in the time an unkilled run takes.
    std::vector<double> took;
    for (int i = 0; i < 5; ++i) {
      const auto start = std::chrono::steady_clock::now();
      ASSERT_EQ(run(i, 0).exitCode, 0);
      took.push_back(std::chrono::duration<double, std::micro>(
                         std::chrono::steady_clock::now() - start).count());
    }
    std::sort(took.begin(), took.end());
    std::uniform_int_distribution<useconds_t> moment(1, static_cast<useconds_t>(took[2]) + 1);
    std::string before = content(4);
    ASSERT_EQ(dir.Read(), before);

    int killed = 0, keptOld = 0, tookNew = 0, tails = 0, leftovers = 0;
    const int runs = c.runs / share;
    for (int i = 5; i < runs + 5; ++i) {
      const std::string after = content(i);
      const zolktest::ProcessResult r = run(i, moment(random));
      const std::string now = dir.Read();
      std::vector<std::string> strays = dir.Strays();
      std::sort(strays.begin(), strays.end());
      if (r.exitCode == 0) {
        ASSERT_EQ(now, after) << "run " << i << " completed";
      } else {
        ASSERT_EQ(r.exitCode, 200) << "run " << i << ": " << r.err;
        ++killed;
        if (now == before) {
          ++keptOld;
        } else if (now == after) {
          ++tookNew;
        } else {
          ASSERT_TRUE(c.link != nullptr && after.size() < before.size() &&
                      now == after + before.substr(after.size()))
              << "run " << i << " left:\n" << now;
          ++tails;
          zolktest::WriteFile(dir.conf(), after);  // in place: both names keep the file
        }
      }
      if (c.link != nullptr) {
        ASSERT_EQ(strays, std::vector<std::string>{c.link}) << "run " << i;
        ASSERT_EQ(zolktest::ReadFile(dir / "etc/link"), dir.Read()) << "run " << i;
      } else if (!strays.empty()) {
        ASSERT_EQ(strays, std::vector<std::string>{temp}) << "run " << i;
        ++leftovers;
      }
      before = dir.Read();
    }
    ASSERT_EQ(run(0, 0).exitCode, 0);
    EXPECT_EQ(dir.Read(), content(0));
    if (c.link == nullptr) {
      EXPECT_TRUE(dir.Strays().empty()) << "the last run removed the leftover";
    }
    std::cout << c.name << ": " << runs << " runs, " << killed << " killed (" << keptOld
              << " left the old content, " << tookNew << " the new one, " << tails
              << " the new one with the old one's end; " << leftovers
              << " left the temporary file), kill within " << moment.max() << " us\n";
  }
}

// Runs at the same time take turns whole, replacing the file by rename or
// rewriting it in place (a second hard link): after each round the file
// holds the complete content of one of them, and nothing is left beside it.
// The values differ in length, so an overlap of two in-place rewrites would
// leave a tail. Replaced by rename, the file is never seen in between.
TEST(Zolk2Conf, ConcurrentRunsTakeTurns) {
  auto value = [](int i) {
    static const char *const values[] = {"1", "23", "456", "7", "89", "100"};
    return std::string(values[i]);
  };
  auto content = [&](int i) {
    return "LogFile = \nLogSize = 262144\nLogFNum = 4\nMapSize = 65536\nWatchDog = 10\n"
           "IntervalSec = 0\nMaxMsgNum = " + value(i) + "\n";
  };
  auto known = [&](const std::string &now) {
    for (int i = 0; i < 6; ++i) {
      if (now == content(i)) return true;
    }
    return now == Conf();
  };
  for (const bool inPlace : {false, true}) {
    ConfDir dir;
    dir.Write(Conf());
    if (inPlace) {
      ASSERT_EQ(::link(dir.conf().c_str(), (dir / "link").c_str()), 0);
    }
    const char *how = inPlace ? "in place" : "by rename";
    for (int round = 0; round < 10; ++round) {
      std::atomic<int> running{6};
      std::vector<std::thread> runs;
      std::vector<int> codes(6, -1);
      for (int i = 0; i < 6; ++i) {
        runs.emplace_back([&, i] {
          codes[i] = dir.Run(ZOLK_TEST_CONF, {"-m", value(i)}).exitCode;
          --running;
        });
      }
      std::string odd;
      while (!inPlace && running.load() > 0 && odd.empty()) {
        const std::string now = dir.Read();
        if (!known(now)) odd = now;
      }
      for (std::thread &t : runs) t.join();
      EXPECT_EQ(odd, "") << how << ", round " << round << ": seen while the runs were at work";
      EXPECT_EQ(codes, std::vector<int>(6, 0)) << how << ", round " << round;
      EXPECT_TRUE(known(dir.Read())) << how << ", round " << round << ":\n" << dir.Read();
      EXPECT_TRUE(dir.Strays().empty()) << how << ", round " << round;
    }
  }
}

// Whatever is found at the temporary file's name is somebody else's or a
// killed run's: it never becomes the configuration file, so a descriptor
// someone keeps on it cannot write the configuration afterwards.
TEST(Zolk2Conf, FoundTemporaryFileIsNeverWrittenThrough) {
  const std::string temp = std::string(zolkcuitest::kConfRelative) + ".zolk2conf-new";
  for (const bool link : {false, true}) {
    const char *name = link ? "symbolic link" : "file kept open";
    ConfDir dir;
    dir.Write(Conf());
    const std::string path = dir / temp;
    const int held = link ? -1 : ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_EQ(link ? ::symlink("/dev/null", path.c_str()) : held < 0, 0) << name;
    const zolktest::ProcessResult r = dir.Run(ZOLK_TEST_CONF, {"-n", "9"});
    EXPECT_EQ(r.exitCode, 0) << name << ": " << r.err;
    EXPECT_EQ(dir.Read(), Conf("", "262144", "9")) << name;
    EXPECT_TRUE(dir.Strays().empty()) << name;
    if (held >= 0) {
      struct stat was, conf;
      ASSERT_EQ(::fstat(held, &was), 0);
      ASSERT_EQ(::stat(dir.conf().c_str(), &conf), 0);
      EXPECT_NE(was.st_ino, conf.st_ino) << "the kept descriptor holds the configuration";
      ::close(held);
    }
  }
}

}  // namespace
