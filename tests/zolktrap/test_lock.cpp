// The management file lock between processes: attempts and pauses while a
// second process holds the lock, records that ask for no lock, and the
// writer waiting for a reader's lock.
//
// This program defines lockf() itself (it is linked with its symbols
// exported), so that it counts the library's lock attempts before passing
// them on to the C library.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "common/Process.h"
#include "zolktrap/TrapFixture.h"

namespace {
std::atomic<int> gs_tryLockCalls{0};
// Run once a lock attempt has succeeded, as another process could act then.
void (*gs_whenLocked)(int fd) = nullptr;
}

extern "C" __attribute__((visibility("default"))) int lockf(int fd, int cmd, off_t length) {
  using LockfFn = int (*)(int, int, off_t);
  static const LockfFn real = reinterpret_cast<LockfFn>(::dlsym(RTLD_NEXT, "lockf"));
  if (cmd == F_TLOCK) ++gs_tryLockCalls;
  const int rc = real(fd, cmd, length);
  if (cmd == F_TLOCK && rc == 0 && gs_whenLocked != nullptr) gs_whenLocked(fd);
  return rc;
}

namespace traptest {
namespace {

TEST(ManagementLock, HeldByAnotherProcessFailsAfterExactlyTheAttempts) {
  struct Case {
    int retryTimes;
    int sleepMs;
  };
  // The last case crosses a second, where the pause is a sleep() followed
  // by a usleep() for the rest.
  const Case cases[] = {{1, 200}, {2, 0}, {5, 20}, {2, 1050}};
  for (const Case& c : cases) {
    SCOPED_TRACE("retry " + std::to_string(c.retryTimes) + ", sleep " + std::to_string(c.sleepMs));
    TraceSet set;
    set.WriteRecord(MakeRecord(4096, 2, 1, 77));
    TrapPtr trap = OpenReader(set.TracePath(1), false);
    ASSERT_NE(trap, nullptr);
    ZOLK2_MpttSetLockRetryTimes(trap.get(), c.retryTimes);
    ZOLK2_MpttSetLockSleepTime(trap.get(), c.sleepMs);

    zolktest::LockHolder holder(set.ManagementPath());
    ASSERT_TRUE(holder.locked());
    gs_tryLockCalls = 0;
    const double start = NowSeconds();
    EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), -1);
    const double elapsed = NowSeconds() - start;
    EXPECT_EQ(ZOLK2_MpttGetLastError(trap.get()), ZOLK2_MPTT_E_LOCK);
    EXPECT_EQ(gs_tryLockCalls.load(), c.retryTimes);
    // Pauses come only between attempts.
    EXPECT_GE(elapsed, (c.retryTimes - 1) * c.sleepMs / 1000.0);
    if (c.retryTimes == 1) {
      EXPECT_LT(elapsed, c.sleepMs / 1000.0);
    }

    holder.Release();
    gs_tryLockCalls = 0;
    EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), 77);
    EXPECT_EQ(gs_tryLockCalls.load(), 1);
  }
}

TEST(ManagementLock, TakenOnceTheOtherProcessLetsGo) {
  TraceSet set;
  set.WriteRecord(MakeRecord(4096, 2, 1, 55));
  TrapPtr trap = OpenReader(set.TracePath(1), false);
  ASSERT_NE(trap, nullptr);
  ZOLK2_MpttSetLockRetryTimes(trap.get(), 2000);
  ZOLK2_MpttSetLockSleepTime(trap.get(), 1);

  // The holder lets go by exiting, about 150 ms after it has the lock.
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const std::string path = set.ManagementPath();
  Child holder([&] {
    const int fd = ::open(path.c_str(), O_RDWR);
    const bool ok = fd >= 0 && ::lockf(fd, F_LOCK, 0) == 0;
    const char c = ok ? 'y' : 'n';
    if (::write(ready[1], &c, 1) != 1 || !ok) return 1;
    ::usleep(150000);
    return 0;
  });
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  gs_tryLockCalls = 0;
  const double start = NowSeconds();
  EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), 55);
  EXPECT_GE(NowSeconds() - start, 0.1);
  EXPECT_GT(gs_tryLockCalls.load(), 1);
  EXPECT_EQ(holder.Wait(), 0);
  ::close(ready[0]);
  ::close(ready[1]);
}

// A writer that cuts the management file short between the reader's two
// reads of the record (here while the reader holds the lock) makes the
// snapshot fail with 29, not fault; the record written again is read again.
TEST(ManagementLock, FileCutShortBetweenTheTwoReads) {
  TraceSet set;
  set.WriteRecord(MakeRecord(4096, 2, 1, 88));
  TrapPtr trap = OpenReader(set.TracePath(1), false);
  ASSERT_NE(trap, nullptr);
  gs_whenLocked = [](int fd) { ASSERT_EQ(::ftruncate(fd, 0), 0); };
  EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), -1);
  gs_whenLocked = nullptr;
  EXPECT_EQ(ZOLK2_MpttGetLastError(trap.get()), ZOLK2_MPTT_E_RECORD);
  set.MoveWriter(1, 99);
  EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), 99);
}

TEST(ManagementLock, RecordsAskingForNoLockAreReadWhileTheLockIsHeld) {
  for (uint32_t lockType : {0u, 1u, 2u, 9u}) {
    SCOPED_TRACE("lock type " + std::to_string(lockType));
    TraceSet set;
    set.WriteRecord(MakeRecord(4096, 2, 1, 66, ZOLK2_MPTT_FLAG_NO_LOCK, lockType));
    TrapPtr trap = OpenReader(set.TracePath(1), false);
    ASSERT_NE(trap, nullptr);
    ZOLK2_MpttSetLockRetryTimes(trap.get(), 1);
    zolktest::LockHolder holder(set.ManagementPath());
    ASSERT_TRUE(holder.locked());
    gs_tryLockCalls = 0;
    EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), 66);
    EXPECT_EQ(gs_tryLockCalls.load(), 0);
  }
}

// The writer publishes its position under the same lock: while another
// process holds it, the record does not change.
TEST(ManagementLock, WriterWaitsForTheLock) {
  TraceSet set;
  zolksupport::TraceWriterOptions options;
  options.directory = set.dir();
  options.prefix = "w";
  std::unique_ptr<zolksupport::TraceWriter> writer;
  ASSERT_EQ(zolksupport::TraceWriter::Create(options, &writer), 0);
  TrapPtr trap = OpenReader(writer->TraceFilePath(1), false);
  ASSERT_NE(trap, nullptr);
  ZOLK2_MpttSetLockRetryTimes(trap.get(), 1000);
  ASSERT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), 0);

  // The writer process is forked before the holder, so that it does not
  // keep the holder's release pipe open; it writes once told to.
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  Child child([&] {
    char c;
    if (::read(go[0], &c, 1) != 1) return 2;
    return writer->WriteLine("one line") == 0 ? 0 : 1;
  });
  auto holder = std::make_unique<zolktest::LockHolder>(writer->managementPath());
  ASSERT_TRUE(holder->locked());
  ASSERT_EQ(::write(go[1], "x", 1), 1);
  ::close(go[0]);
  ::close(go[1]);
  ::usleep(100000);
  management_info_t raw;
  const int fd = ::open(writer->managementPath().c_str(), O_RDONLY);
  ASSERT_EQ(::pread(fd, &raw, sizeof raw, 0), static_cast<ssize_t>(sizeof raw));
  ::close(fd);
  EXPECT_EQ(raw.writeOffset, 0u);
  holder.reset();
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), 10);
}

}  // namespace
}  // namespace traptest
