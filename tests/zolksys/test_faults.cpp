// The system log library under faults of its surroundings: allocations that
// fail while instances are created, and cleanup among other processes that
// create, delete and lock files in the same directory.

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/FailingAlloc.h"
#include "common/Process.h"
#include "common/TempDir.h"
#include "zolksys/SysLogTest.h"

namespace zolktest {
namespace {

// Creation with every allocation in turn failing, with more and more live
// instances, so that the table of live records has to grow at some of the
// steps: every failure is the packed out-of-memory code with a null
// instance, nothing is leaked (LeakSanitizer checks at exit), and the
// instances made before stay usable.
TEST_F(SysLogTest, CreationUnderFailingAllocation) {
  if (!zolktest::AllocationFailureAvailable())
    GTEST_SKIP() << "no allocation failure under ThreadSanitizer";
  constexpr int kPackedNoMemory = (ZOLK2_SYSLOG_API_MALLOC << 24) | ENOMEM;
  std::vector<ZOLK2_SYSLOG*> held;
  int growths = 0;
  for (int level = 0; level <= 40; ++level) {
    ZOLK2_SYSLOG* inst = nullptr;
    int rc = -1;
    const long calls = ForEachFailingAllocation(
        [&] { rc = ZOLK2_CreateSysLogInstance(&inst); },
        [&](long nth, const AllocationRun& run) {
          if (run.failed) {
            EXPECT_EQ(rc, kPackedNoMemory) << level << " held, allocation " << nth;
            EXPECT_EQ(inst, nullptr) << level << " held, allocation " << nth;
          } else {
            ASSERT_EQ(rc, 0) << level << " held";
            held.push_back(inst);
          }
        });
    growths += calls > 1;
  }
  EXPECT_GE(growths, 3) << "the table grew at 0, 12 and 24 instances or so";
  for (ZOLK2_SYSLOG* inst : held) {
    EXPECT_EQ(ZOLK2_PutToSysLogInstance(inst, LOG_ERR, "still", "valid"), 0);
    EXPECT_EQ(ZOLK2_DeleteSysLogInstance(inst), 0);
  }
  EXPECT_EQ(Messages().size(), held.size());
}

// True while path names the file open as fd.
bool Names(const std::string& path, int fd) {
  struct stat named, open;
  return ::stat(path.c_str(), &named) == 0 && ::fstat(fd, &open) == 0 &&
         named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

int Create(const std::string& path) {
  return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
}

// Locks files of its own that match the pattern and holds each for a
// moment: once it has the lock on a file that is still in place, the file
// must stay in place until it lets go. Returns the files lost under a lock.
int LockFiles(const TempDir& dir, int id, int count) {
  int lost = 0;
  for (int n = 0; n < count; ++n) {
    const std::string path =
        dir / ("app-l" + std::to_string(id) + "-" + std::to_string(n) + ".log");
    const int fd = Create(path);
    if (fd < 0) return 100;
    if (::lockf(fd, F_TLOCK, 0) == 0 && Names(path, fd)) {
      ::usleep(static_cast<useconds_t>(n % 4) * 200);
      lost += !Names(path, fd);
    }
    ::close(fd);
    ::unlink(path.c_str());
  }
  return lost > 99 ? 99 : lost;
}

// Creates and deletes files that match the pattern, a matching directory
// and a matching FIFO, and files that do not match, which must survive
// until it deletes them itself. Returns the files it lost.
int ChurnFiles(const TempDir& dir, int count) {
  int lost = 0;
  for (int n = 0; n < count; ++n) {
    const std::string tag = std::to_string(n);
    const std::string other = dir / ("app-" + tag + ".txt"), match = dir / ("app-c" + tag + ".log");
    const int a = Create(other), b = Create(match);
    if (a < 0 || b < 0) return 100;
    ::close(a);
    ::close(b);
    if (n % 3 == 0) ::unlink(match.c_str());
    const std::string special = dir / ("app-s" + tag + ".log");
    if (n % 2 == 0 ? ::mkdir(special.c_str(), 0755) : ::mkfifo(special.c_str(), 0644)) return 101;
    ::usleep(100);
    struct stat st;
    lost += ::stat(other.c_str(), &st) != 0;
    lost += ::stat(special.c_str(), &st) != 0 && n % 2 == 0;
    ::unlink(other.c_str());
    ::remove(special.c_str());
    ::unlink(match.c_str());
  }
  return lost > 99 ? 99 : lost;
}

// Rotates as a writer does that renames a new file, locked first, over the
// name of the old one, which it lets go just before: for a moment the old
// file lies unlocked under the name, for the cleanup to take, while the new
// one arrives. A file that loses its last name while the writer holds it
// was deleted under its lock. counts[0] gets the rotations, counts[1] the
// files lost (shared with the parent).
int RotateByRename(const TempDir& dir, int seconds, long* counts) {
  const std::string name = dir / "app.log", next = dir / "next.tmp";
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int held = -1;
  struct stat st;
  while (std::chrono::steady_clock::now() < end) {
    const int fd = Create(next);
    if (fd < 0 || ::lockf(fd, F_TLOCK, 0) != 0) return 100;
    if (held >= 0) {
      counts[1] += ::fstat(held, &st) == 0 && st.st_nlink == 0;
      ::close(held);
    }
    if (::rename(next.c_str(), name.c_str()) != 0) return 101;
    held = fd;
    ++counts[0];
  }
  counts[1] += ::fstat(held, &st) == 0 && st.st_nlink == 0;
  return 0;
}

// Runs both cleanups of pattern at once, from two threads (by number
// keeping `keep`), until each of others has ended; returns their exit
// statuses. Every call must return 0 or ENOENT (a file removed between the
// directory read and its stat).
std::vector<int> CleanWhileTheyRun(const std::string& pattern, int keep,
                                   std::vector<std::unique_ptr<Child>>& others) {
  std::atomic<bool> stop{false};
  std::map<int, int> byNum, byTime;
  std::thread numbers([&] {
    while (!stop.load()) ++byNum[ZOLK2_FileCleanupByNum(pattern.c_str(), keep)];
  });
  std::thread ages([&] {
    while (!stop.load()) ++byTime[ZOLK2_FileCleanupByTime(pattern.c_str(), 0)];
  });
  std::vector<int> statuses;
  for (auto& other : others) statuses.push_back(other->Wait(120));
  stop.store(true);
  numbers.join();
  ages.join();

  std::string figures;
  for (const auto* results : {&byNum, &byTime}) {
    figures += results == &byNum ? "by number:" : "; by time:";
    for (const auto& [rc, calls] : *results) {
      EXPECT_TRUE(rc == 0 || rc == ENOENT) << "result " << rc;
      figures += " " + std::to_string(calls) + " x " + std::to_string(rc);
    }
  }
  std::cout << "cleanup calls " << figures << "\n";
  return statuses;
}

TEST(CleanupFaults, AmongProcessesThatCreateDeleteAndLock) {
  TempDir dir;
  // Files in place for the whole test: locked by other processes, or not
  // matching the pattern; none may go.
  const std::vector<std::string> stay = {"app-held1.log", "app-held2.log", "app-held3.log",
                                         "app.txt",       "xapp1.log",     "applog"};
  for (const std::string& name : stay) WriteFile(dir / name, name);
  std::vector<std::unique_ptr<LockHolder>> holders;
  for (int i = 0; i < 3; ++i) {
    holders.push_back(std::make_unique<LockHolder>(dir / stay[i]));
    ASSERT_TRUE(holders.back()->locked());
  }

  constexpr int kLockers = 2, kFiles = 1500;
  std::vector<std::unique_ptr<Child>> others;
  for (int id = 0; id < kLockers; ++id) {
    others.push_back(std::make_unique<Child>([&, id] { return LockFiles(dir, id, kFiles); }));
  }
  others.push_back(std::make_unique<Child>([&] { return ChurnFiles(dir, kFiles); }));

  EXPECT_EQ(CleanWhileTheyRun(dir / "app*.log", 2, others), std::vector<int>(others.size(), 0))
      << "files lost by each locker and by the churner (100 and up: it could not work)";
  for (const std::string& name : stay) EXPECT_EQ(ReadFile(dir / name), name);
}

TEST(CleanupFaults, WriterRotatingByRename) {
  TempDir dir;
  long* counts = static_cast<long*>(
      ::mmap(nullptr, 2 * sizeof(long), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(counts, MAP_FAILED);
  std::vector<std::unique_ptr<Child>> writer;
  writer.push_back(std::make_unique<Child>([&] { return RotateByRename(dir, 10, counts); }));
  EXPECT_EQ(CleanWhileTheyRun(dir / "app*.log", 0, writer), std::vector<int>{0})
      << "100 and up: the writer could not work";
  EXPECT_EQ(counts[1], 0) << "locked files of the writer deleted, in " << counts[0]
                          << " rotations";
  // A file moved aside whose name was created again meanwhile stays there.
  int aside = 0;
  DIR* d = ::opendir(dir.path().c_str());
  while (const dirent* e = d != nullptr ? ::readdir(d) : nullptr)
    aside += std::strncmp(e->d_name, ".zolk2sys-cleanup-", 18) == 0;
  if (d != nullptr) ::closedir(d);
  std::cout << counts[0] << " rotations, " << counts[1] << " locked files deleted, " << aside
            << " left aside\n";
  ::munmap(counts, 2 * sizeof(long));
}

}  // namespace
}  // namespace zolktest
