// Log file cleanup by number and by age, on real directories, with locks
// held by a second process.

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <zolk2sys.h>

#include "common/Privileges.h"
#include "common/Process.h"
#include "common/TempDir.h"

namespace zolktest {
namespace {

class CleanupTest : public ::testing::Test {
 protected:
  // A file of the test directory, last modified `age` seconds before the
  // test started (one reference time, so equal ages are equal times).
  std::string File(const std::string& name, long age) {
    const std::string path = dir / name;
    WriteFile(path, name);
    SetAge(path, age);
    return path;
  }
  void SetAge(const std::string& path, long age) const {
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = start_ - age;
    times[0].tv_nsec = times[1].tv_nsec = 0;
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
  }
  // The names left in the test directory, sorted.
  std::set<std::string> Left() const { return Entries(dir.path()); }
  static std::set<std::string> Entries(const std::string& path) {
    std::set<std::string> names;
    DIR* d = ::opendir(path.c_str());
    while (const dirent* e = d ? ::readdir(d) : nullptr) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.insert(n);
    }
    if (d) ::closedir(d);
    return names;
  }
  // Names of the test directory in the order readdir() returns them.
  std::vector<std::string> ReadOrder() const {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.path().c_str());
    while (const dirent* e = ::readdir(d)) names.push_back(e->d_name);
    ::closedir(d);
    return names;
  }
  std::string Pattern(const std::string& last) const { return dir / last; }

  const time_t start_ = std::time(nullptr);
  TempDir dir;
};

TEST_F(CleanupTest, ByNumberKeepsTheNewest) {
  struct Case {
    int keep;
    std::set<std::string> left;
  };
  const std::set<std::string> all = {"app1.log", "app2.log", "app3.log", "app4.log", "app5.log",
                                     "other.txt"};
  const Case cases[] = {
      {3, {"app1.log", "app2.log", "app3.log", "other.txt"}},
      {0, {"other.txt"}},
      {-1, {"other.txt"}},
      {5, all},
      {10, all},
      {1, {"app1.log", "other.txt"}},
  };
  for (const Case& c : cases) {
    // appN.log is N hours old; the pattern leaves other.txt alone.
    for (int n = 1; n <= 5; ++n) File("app" + std::to_string(n) + ".log", n * 3600L);
    File("other.txt", 99999);
    EXPECT_EQ(ZOLK2_FileCleanupByNum(Pattern("app*.log").c_str(), c.keep), 0) << "keep " << c.keep;
    EXPECT_EQ(Left(), c.left) << "keep " << c.keep;
  }
}

TEST_F(CleanupTest, ByNumberEqualTimesFavourTheEntryReadLater) {
  // Four files, two of them equally old in the middle; keeping two puts the
  // boundary between the equal ones.
  File("new.log", 10);
  File("old.log", 1000);
  File("tie-a.log", 500);
  File("tie-b.log", 500);
  std::vector<std::string> order = ReadOrder();
  const auto a = std::find(order.begin(), order.end(), "tie-a.log");
  const auto b = std::find(order.begin(), order.end(), "tie-b.log");
  const std::string readLater = a > b ? "tie-a.log" : "tie-b.log";

  ASSERT_EQ(ZOLK2_FileCleanupByNum(Pattern("*.log").c_str(), 2), 0);
  EXPECT_EQ(Left(), (std::set<std::string>{"new.log", readLater}));
}

TEST_F(CleanupTest, ByNumberOrderOverManyFiles) {
  // 600 files with 200 distinct ages (three files for each): keeping 301
  // must keep exactly the 100 newest ages, plus one of the three files of
  // the 101st, the one read last.
  for (int i = 0; i < 600; ++i) File("f" + std::to_string(i) + ".log", 100 + (i % 200) * 10);
  std::vector<std::string> order = ReadOrder();
  std::string lastOf101st;
  for (const std::string& n : order) {
    if (n.size() < 5 || n[0] != 'f') continue;
    const int i = std::stoi(n.substr(1));
    if (i % 200 == 100) lastOf101st = n;
  }
  ASSERT_EQ(ZOLK2_FileCleanupByNum(Pattern("f*.log").c_str(), 301), 0);
  std::set<std::string> expected;
  for (int i = 0; i < 600; ++i)
    if (i % 200 < 100) expected.insert("f" + std::to_string(i) + ".log");
  expected.insert(lastOf101st);
  EXPECT_EQ(Left(), expected);
}

TEST_F(CleanupTest, ByNumberOrderAtTheEndsOfTheTimeRange) {
  // A tmpfs keeps any 64-bit time; two files at its far ends must still be
  // ordered by which is newer, whichever the directory yields first.
  constexpr long kTmpfsMagic = 0x01021994;
  struct statfs fs;
  const bool onTmpfs = ::statfs(dir.path().c_str(), &fs) == 0 && fs.f_type == kTmpfsMagic;
  if (!onTmpfs && !PrivateMountUnavailable().empty()) GTEST_SKIP() << PrivateMountUnavailable();
  const time_t newest = std::numeric_limits<time_t>::max() - 1, oldest = -2;
  for (const char* kept : {"a.log", "b.log"}) {
    ProcessResult r = RunInChild([&] {
      if (!onTmpfs && (EnterPrivateMountNamespace() != 0 || MountTmpfs(dir.path(), 1 << 20) != 0))
        return 10;
      for (const char* name : {"a.log", "b.log"}) {
        const time_t t = std::strcmp(name, kept) == 0 ? newest : oldest;
        const struct timespec times[2] = {{t, 0}, {t, 0}};
        const int fd = ::open((dir / name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) return 11;
        ::close(fd);
        if (::utimensat(AT_FDCWD, (dir / name).c_str(), times, 0) != 0) return 11;
      }
      if (ZOLK2_FileCleanupByNum(Pattern("*.log").c_str(), 1) != 0) return 12;
      return Left() == std::set<std::string>{kept} ? 0 : 13;
    });
    EXPECT_EQ(r.exitCode, 0) << kept << " newest; 13: the newest file was deleted";
  }
}

TEST_F(CleanupTest, ByTimeDeletesWhatIsOldEnough) {
  struct Case {
    const char* name;
    long seconds;
    std::set<std::string> left;
  };
  const Case cases[] = {
      {"0 seconds: everything not dated in the future", 0, {"future.log", "keep.txt"}},
      {"one day", 86400, {"future.log", "hour.log", "keep.txt", "nearly-day.log"}},
      {"two days", 2 * 86400, {"future.log", "hour.log", "keep.txt", "nearly-day.log", "day.log"}},
      {"far in the past", 1L << 62, {"future.log", "hour.log", "keep.txt", "nearly-day.log",
                                      "day.log", "week.log"}},
      {"negative: also the future", -100000, {"keep.txt"}},
      {"most negative: no overflow", std::numeric_limits<long>::min(), {"keep.txt"}},
  };
  for (const Case& c : cases) {
    File("future.log", -3600);
    File("hour.log", 3600);
    File("nearly-day.log", 86400 - 120);
    File("day.log", 86400 + 5);
    File("week.log", 7 * 86400);
    File("keep.txt", 7 * 86400);
    EXPECT_EQ(ZOLK2_FileCleanupByTime(Pattern("*.log").c_str(), c.seconds), 0) << c.name;
    EXPECT_EQ(Left(), c.left) << c.name;
  }
}

TEST_F(CleanupTest, DirectoriesAreNeverDeletedOrEntered) {
  ASSERT_EQ(::mkdir((dir / "sub.log").c_str(), 0755), 0);
  WriteFile(dir / "sub.log/inner.log", "x");
  SetAge(dir / "sub.log", 99999);
  File("a.log", 99999);
  EXPECT_EQ(ZOLK2_FileCleanupByNum(Pattern("*.log").c_str(), 0), 0);
  EXPECT_EQ(ZOLK2_FileCleanupByTime(Pattern("*").c_str(), 0), 0);
  EXPECT_EQ(Left(), (std::set<std::string>{"sub.log"}));
  EXPECT_EQ(Entries(dir / "sub.log"), (std::set<std::string>{"inner.log"}));
}

TEST_F(CleanupTest, FilesLockedByAnotherProcessAreKept) {
  const std::string locked = File("locked.log", 9000);
  const std::string partly = File("partly.log", 9000);
  File("free.log", 9000);
  LockHolder whole(locked);
  LockHolder range(partly, 2, 3);  // a lock on some bytes counts as well
  ASSERT_TRUE(whole.locked() && range.locked());
  EXPECT_EQ(ZOLK2_FileCleanupByNum(Pattern("*.log").c_str(), 0), 0);
  EXPECT_EQ(Left(), (std::set<std::string>{"locked.log", "partly.log"}));
  EXPECT_EQ(ZOLK2_FileCleanupByTime(Pattern("*.log").c_str(), 0), 0);
  EXPECT_EQ(Left(), (std::set<std::string>{"locked.log", "partly.log"}));
  whole.Release();
  range.Release();
  EXPECT_EQ(ZOLK2_FileCleanupByTime(Pattern("*.log").c_str(), 0), 0);
  EXPECT_TRUE(Left().empty());
}

TEST_F(CleanupTest, FilesLockedByTheCallerItselfAreDeleted) {
  const std::string path = File("mine.log", 9000);
  const int fd = ::open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::lockf(fd, F_LOCK, 0), 0);
  EXPECT_EQ(ZOLK2_FileCleanupByNum(Pattern("*.log").c_str(), 0), 0);
  EXPECT_TRUE(Left().empty());
  ::close(fd);
}

TEST_F(CleanupTest, OtherKindsOfFiles) {
  // A FIFO is deleted without blocking the call; a file that cannot be
  // opened for writing (a symbolic link to a directory is skipped as a
  // directory; one to a file is followed) is left in place; a file with two
  // matching names (one after the other, by their time) loses both.
  ASSERT_EQ(::mkfifo((dir / "pipe.log").c_str(), 0644), 0);
  File("hard.log", 5000);
  ASSERT_EQ(::link((dir / "hard.log").c_str(), (dir / "hard2.log").c_str()), 0);
  File("target.txt", 9000);
  ASSERT_EQ(::symlink((dir / "target.txt").c_str(), (dir / "link.log").c_str()), 0);
  ASSERT_EQ(::mkdir((dir / "d").c_str(), 0755), 0);
  ASSERT_EQ(::symlink((dir / "d").c_str(), (dir / "dirlink.log").c_str()), 0);
  EXPECT_EQ(ZOLK2_FileCleanupByNum(Pattern("*.log").c_str(), 0), 0);
  // The link itself is unlinked (its target stays); the directory link stays.
  EXPECT_EQ(Left(), (std::set<std::string>{"d", "dirlink.log", "target.txt"}));
}

TEST_F(CleanupTest, ScanFailures) {
  struct Case {
    const char* name;
    std::string pattern;
    int expected;
  };
  File("a.log", 9000);
  File("b.log", 9000);
  const Case cases[] = {
      {"missing directory", dir / "missing/*.log", ENOENT},
      {"directory part is a file", dir / "a.log/*.log", ENOTDIR},
      {"pattern of 1024 bytes", dir / std::string(1024 - dir.path().size() - 1, 'x'),
       ENAMETOOLONG},
      {"pattern of 5000 bytes", dir / std::string(5000, 'x'), ENAMETOOLONG},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ZOLK2_FileCleanupByNum(c.pattern.c_str(), 0), c.expected) << c.name;
    EXPECT_EQ(ZOLK2_FileCleanupByTime(c.pattern.c_str(), 0), c.expected) << c.name;
    EXPECT_EQ(Left(), (std::set<std::string>{"a.log", "b.log"})) << c.name;
  }
  EXPECT_EQ(ZOLK2_FileCleanupByNum(nullptr, 0), EINVAL);
  EXPECT_EQ(ZOLK2_FileCleanupByTime(nullptr, 0), EINVAL);
}

TEST_F(CleanupTest, DanglingLinkEndsTheCall) {
  File("a.log", 9000);
  File("b.log", 9000);
  ASSERT_EQ(::symlink((dir / "nowhere").c_str(), (dir / "dangling.txt").c_str()), 0);
  // Any entry's stat counts, matching or not. By number nothing is deleted.
  EXPECT_EQ(ZOLK2_FileCleanupByNum(Pattern("*.log").c_str(), 0), ENOENT);
  EXPECT_EQ(Left(), (std::set<std::string>{"a.log", "b.log", "dangling.txt"}));
  // By age, what was deleted before the entry was reached stays deleted.
  EXPECT_EQ(ZOLK2_FileCleanupByTime(Pattern("*.log").c_str(), 0), ENOENT);
  EXPECT_TRUE(Left().count("dangling.txt"));
}

TEST_F(CleanupTest, TooLongPathsAreSkippedBeforeTheirStat) {
  // A directory deep enough that some entries' paths reach 1024 bytes: a
  // dangling link among them would end the call if it were stat()ed.
  std::string deep = dir.path();
  while (deep.size() < 1024 - 200) {
    deep += "/" + std::string(100, 'd');
    ASSERT_EQ(::mkdir(deep.c_str(), 0755), 0);
  }
  const std::string room(1024 - deep.size() - 2, 'n');  // deep + "/" + room = 1023 bytes
  WriteFile(deep + "/" + room.substr(0, room.size() - 4) + ".log", "fits");
  ASSERT_EQ(::symlink("nowhere", (deep + "/" + room + "X.log").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", (deep + "/" + std::string(200, 'z') + ".loglog").c_str()), 0);
  EXPECT_EQ(ZOLK2_FileCleanupByNum((deep + "/*.log").c_str(), 0), 0);
  EXPECT_EQ(Entries(deep).size(), 2u);  // the fitting file went, the long links stayed
}

TEST_F(CleanupTest, UnlinkFailureIsReported) {
  // Files of an immutable directory can be opened for writing but not
  // unlinked; the call reports the errno and still deletes what it can.
  ASSERT_EQ(::mkdir((dir / "frozen").c_str(), 0755), 0);
  WriteFile(dir / "frozen/a.log", "a");
  const int fd = ::open((dir / "frozen").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  int flags = 0;
  if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
    ::close(fd);
    GTEST_SKIP() << "the file system has no immutable flag: " << std::strerror(errno);
  }
  int frozen = flags | FS_IMMUTABLE_FL;
  if (::ioctl(fd, FS_IOC_SETFLAGS, &frozen) != 0) {
    ::close(fd);
    GTEST_SKIP() << "cannot make a directory immutable here: " << std::strerror(errno);
  }
  const int byNum = ZOLK2_FileCleanupByNum((dir / "frozen/*.log").c_str(), 0);
  const int byTime = ZOLK2_FileCleanupByTime((dir / "frozen/*.log").c_str(), 0);
  ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
  ::close(fd);
  EXPECT_EQ(byNum, EPERM);
  EXPECT_EQ(byTime, EPERM);
  EXPECT_EQ(Entries(dir / "frozen"), (std::set<std::string>{"a.log"}));
}

TEST_F(CleanupTest, PatternWithoutSlashScansTheWorkingDirectory) {
  File("app1.log", 9000);
  File("myapp.log", 9000);
  File("other.log", 9000);
  // The working directory is process-wide: change it in a child.
  ProcessResult r = RunInChild([this] {
    if (::chdir(dir.path().c_str()) != 0) return 1;
    // "app*.log" is matched against "./app1.log": no match, nothing goes.
    if (ZOLK2_FileCleanupByNum("app*.log", 0) != 0) return 2;
    if (Left().size() != 3) return 3;
    // "*app*.log": '*' also matches "./".
    if (ZOLK2_FileCleanupByTime("*app*.log", 0) != 0) return 4;
    return Left() == std::set<std::string>{"other.log"} ? 0 : 5;
  });
  EXPECT_EQ(r.exitCode, 0);
}

TEST_F(CleanupTest, ThreadsCleaningDifferentDirectories) {
  constexpr int kThreads = 4;
  std::vector<std::unique_ptr<TempDir>> dirs;
  for (int t = 0; t < kThreads; ++t) {
    dirs.push_back(std::make_unique<TempDir>());
    for (int i = 0; i < 60; ++i) {
      const std::string path = *dirs[t] / ("f" + std::to_string(i) + ".log");
      WriteFile(path, "x");
      SetAge(path, 100 + i * 10L);
    }
  }
  std::vector<int> results(kThreads, -1);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string pattern = *dirs[t] / "f*.log";
      results[t] = t % 2 ? ZOLK2_FileCleanupByNum(pattern.c_str(), 10)
                         : ZOLK2_FileCleanupByTime(pattern.c_str(), 100 + 30 * 10 - 5);
    });
  }
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(results[t], 0) << "thread " << t;
    std::set<std::string> expected;
    for (int i = 0; i < (t % 2 ? 10 : 30); ++i) expected.insert("f" + std::to_string(i) + ".log");
    EXPECT_EQ(Entries(dirs[t]->path()), expected) << "thread " << t;
  }
}

}  // namespace
}  // namespace zolktest
