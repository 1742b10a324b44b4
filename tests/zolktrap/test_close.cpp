// Close sequences when close() reports a failure. The descriptor is gone
// all the same, so the reader must not close its number again: by then it
// may belong to another file of the process.
//
// This program defines close() itself (its symbols are exported to the
// library) to report a failure for one chosen descriptor after really
// closing it, as close() may do on an I/O error.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "zolktrap/TrapFixture.h"

namespace {
std::atomic<int> gs_failingFd{-1};
}

extern "C" __attribute__((visibility("default"))) int close(int fd) {
  using CloseFn = int (*)(int);
  static const CloseFn real = reinterpret_cast<CloseFn>(::dlsym(RTLD_NEXT, "close"));
  const int rc = real(fd);
  int chosen = fd;
  if (fd >= 0 && gs_failingFd.compare_exchange_strong(chosen, -1)) {
    errno = EIO;
    return -1;
  }
  return rc;
}

namespace traptest {
namespace {

// Opens another file under the descriptor number fd.
int TakeNumber(int fd) {
  const int devNull = ::open("/dev/null", O_RDONLY);
  if (devNull < 0 || devNull == fd) return devNull;
  const int taken = ::dup2(devNull, fd);
  ::close(devNull);
  return taken;
}

TEST(CloseFailure, ManagementDescriptorIsNotClosedTwice) {
  TraceSet set;
  set.WriteRecord(MakeRecord(4096, 2, 1, 3));
  set.WriteTrace(1, "abc");
  TrapPtr trap = OpenReader(set.TracePath(1), false);
  ASSERT_NE(trap, nullptr);
  const int fd = DescriptorOf(set.ManagementPath());
  ASSERT_GE(fd, 0);

  gs_failingFd = fd;
  EXPECT_EQ(ZOLK2_MpttCloseManagementFile(trap.get()), ZOLK2_MPTT_E_CLOSE);
  EXPECT_EQ(ZOLK2_MpttGetLastError(trap.get()), ZOLK2_MPTT_E_CLOSE);

  // Another file now has the number; a repeated close must leave it alone.
  const int other = TakeNumber(fd);
  ASSERT_EQ(other, fd);
  EXPECT_EQ(ZOLK2_MpttCloseManagementFile(trap.get()), ZOLK2_MPTT_E_STATE);
  EXPECT_GE(::fcntl(other, F_GETFD), 0) << "the reused descriptor was closed";

  // The instance goes on: reopened, it reads again; deleting it releases
  // the trace file that the failed close left open.
  ASSERT_EQ(ZOLK2_MpttOpenManagementFile(trap.get()), 0);
  ASSERT_EQ(ZOLK2_MpttOpen(trap.get()), 0);
  EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), 3);
  EXPECT_EQ(ReadToEnd(trap.get()), "abc");
  EXPECT_EQ(ZOLK2_MpttDeleteInstance(trap.release()), 0);
  EXPECT_EQ(DescriptorOf(set.TracePath(1)), -1);
  EXPECT_GE(::fcntl(other, F_GETFD), 0);
  ::close(other);
}

TEST(CloseFailure, TraceDescriptorIsNotClosedTwice) {
  TraceSet set;
  set.WriteRecord(MakeRecord(4096, 2, 1, 3));
  set.WriteTrace(1, "abc");
  TrapPtr trap = OpenReader(set.TracePath(1), false);
  ASSERT_NE(trap, nullptr);
  const int fd = DescriptorOf(set.TracePath(1));
  ASSERT_GE(fd, 0);

  gs_failingFd = fd;
  EXPECT_EQ(ZOLK2_MpttCloseManagementFile(trap.get()), ZOLK2_MPTT_E_CLOSE);
  const int other = TakeNumber(fd);
  ASSERT_EQ(other, fd);
  EXPECT_EQ(ZOLK2_MpttDeleteInstance(trap.release()), 0);
  EXPECT_GE(::fcntl(other, F_GETFD), 0) << "the reused descriptor was closed";
  ::close(other);
}

}  // namespace
}  // namespace traptest
