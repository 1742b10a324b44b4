// Reader instances and the management file: finding it from the trace file
// name, opening and closing, validating and byte-order handling of the
// record, settings and error reporting.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zolktrap/TrapFixture.h"

namespace traptest {
namespace {

using zolksupport::ByteOrder;

ByteOrder OtherByteOrder() {
  return zolksupport::HostByteOrder() == ByteOrder::Little ? ByteOrder::Big : ByteOrder::Little;
}

// The management file an instance settled on, and its file number, are
// seen through the readable end: each candidate record names a different
// writer offset, and the offset comes back only when the record's file
// being written is the instance's file number (the trace file itself need
// not exist for that).
TEST(ManagementFileSearch, NamesResolveToTheirManagementFileAndNumber) {
  struct Candidate {
    const char* mm;  // under DIR/mmap/
    uint32_t fileNumber;
    uint32_t writeOffset;
  };
  struct Case {
    const char* name;  // trace file name under DIR
    std::vector<Candidate> files;
    int expectOpen;
    int expectOffset;  // -1: not checked
  };
  const Case cases[] = {
      {"trace.log", {}, ZOLK2_MPTT_E_NAME, -1},
      {"a.txt", {}, ZOLK2_MPTT_E_NAME, -1},
      {"x5.LOG", {}, ZOLK2_MPTT_E_NAME, -1},
      {"5log", {}, ZOLK2_MPTT_E_NAME, -1},
      {"trace0.log", {{"trace.mm", 10, 1}}, ZOLK2_MPTT_E_NOTFOUND, -1},
      {"trace65.log", {{"trace.mm", 1, 1}}, ZOLK2_MPTT_E_NOTFOUND, -1},
      {"trace65.log", {{"trace6.mm", 5, 333}}, 0, 333},
      {"trace10.log", {{"trace.mm", 10, 444}}, 0, 444},
      {"t3.log", {{"t.mm", 3, 555}}, 0, 555},
      {"t3.log", {}, ZOLK2_MPTT_E_NOTFOUND, -1},
      {"t03.log", {{"t.mm", 3, 666}}, 0, 666},
      {"t64.log", {{"t.mm", 64, 777}}, 0, 777},
      {"t12.log", {{"t1.mm", 2, 111}, {"t.mm", 12, 222}}, 0, 111},
      {"t12.log", {{"t.mm", 12, 222}}, 0, 222},
      {"5.log", {{".mm", 5, 888}}, 0, 888},
      {"sub/dir9.log", {}, ZOLK2_MPTT_E_NOTFOUND, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("trace file ") + c.name);
    zolktest::TempDir dir;
    ASSERT_EQ(::mkdir((dir / "mmap").c_str(), 0755), 0);
    for (const Candidate& f : c.files) {
      const std::vector<unsigned char> rec = zolksupport::EncodeManagementRecord(
          MakeRecord(4096, 64, f.fileNumber, f.writeOffset), zolksupport::HostByteOrder());
      PutBytes(dir / "mmap" + "/" + f.mm, std::string(rec.begin(), rec.end()));
    }
    TrapPtr trap(ZOLK2_MpttCreateInstance((dir / c.name).c_str()));
    ASSERT_NE(trap, nullptr);
    EXPECT_EQ(ZOLK2_MpttOpenManagementFile(trap.get()), c.expectOpen);
    EXPECT_EQ(ZOLK2_MpttGetLastError(trap.get()), c.expectOpen);
    if (c.expectOffset >= 0) {
      EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), c.expectOffset);
    }
  }
}

TEST(ManagementFileSearch, NameWithoutDirectoryResolvesFromTheWorkingDirectory) {
  TraceSet set("");
  set.WriteRecord(MakeRecord(4096, 8, 5, 999));
  ASSERT_EQ(::chdir(set.dir().c_str()), 0);
  TrapPtr trap(ZOLK2_MpttCreateInstance("5.log"));
  ASSERT_EQ(ZOLK2_MpttOpenManagementFile(trap.get()), 0);
  EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), 999);
}

TEST(ManagementFileSearch, ExistingButUnopenableFileIsNotReportedAsMissing) {
  // A directory in the management file's place cannot be opened read-write
  // even by root: the failure is 2, and the two-digit reading is not tried.
  TraceSet set("t1");
  ASSERT_EQ(::mkdir(set.ManagementPath().c_str(), 0755), 0);
  TrapPtr trap(ZOLK2_MpttCreateInstance((set.dir() + "/t12.log").c_str()));
  EXPECT_EQ(ZOLK2_MpttOpenManagementFile(trap.get()), ZOLK2_MPTT_E_OPEN);

  // The same through the stored path after the file has been replaced.
  TraceSet other("t");
  other.WriteRecord(MakeRecord(4096, 2, 1, 0));
  TrapPtr reopened = OpenReader(other.TracePath(1), false);
  ASSERT_EQ(ZOLK2_MpttCloseManagementFile(reopened.get()), 0);
  ASSERT_EQ(::unlink(other.ManagementPath().c_str()), 0);
  EXPECT_EQ(ZOLK2_MpttOpenManagementFile(reopened.get()), ZOLK2_MPTT_E_NOTFOUND);
  ASSERT_EQ(::mkdir(other.ManagementPath().c_str(), 0755), 0);
  EXPECT_EQ(ZOLK2_MpttOpenManagementFile(reopened.get()), ZOLK2_MPTT_E_OPEN);
}

TEST(ManagementFileSearch, FailedSearchIsRetriedOnTheNextOpen) {
  TraceSet set("t");
  TrapPtr trap(ZOLK2_MpttCreateInstance(set.TracePath(4).c_str()));
  EXPECT_EQ(ZOLK2_MpttOpenManagementFile(trap.get()), ZOLK2_MPTT_E_NOTFOUND);
  set.WriteRecord(MakeRecord(4096, 4, 4, 42));
  EXPECT_EQ(ZOLK2_MpttOpenManagementFile(trap.get()), 0);
  EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), 42);
}

TEST(ManagementFile, ReopenUsesTheStoredPathEvenWhenAOneDigitFileAppears) {
  TraceSet set("t");
  set.WriteRecord(MakeRecord(4096, 12, 12, 222));
  TrapPtr trap = OpenReader(set.dir() + "/t12.log", false);
  ASSERT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), 222);
  ASSERT_EQ(ZOLK2_MpttCloseManagementFile(trap.get()), 0);

  const std::vector<unsigned char> rec = zolksupport::EncodeManagementRecord(
      MakeRecord(4096, 2, 2, 111), zolksupport::HostByteOrder());
  PutBytes(set.dir() + "/mmap/t1.mm", std::string(rec.begin(), rec.end()));
  ASSERT_EQ(ZOLK2_MpttOpenManagementFile(trap.get()), 0);
  EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), 222);
}

TEST(ManagementFile, OpenAndCloseAreRefusedInTheWrongState) {
  TraceSet set;
  set.WriteRecord(MakeRecord(4096, 2, 1, 4));
  set.WriteTrace(1, "ab\r\n");
  TrapPtr trap(ZOLK2_MpttCreateInstance(set.TracePath(1).c_str()));
  EXPECT_EQ(ZOLK2_MpttCloseManagementFile(trap.get()), ZOLK2_MPTT_E_STATE);
  EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), -1);
  EXPECT_EQ(ZOLK2_MpttGetLastError(trap.get()), ZOLK2_MPTT_E_STATE);
  EXPECT_EQ(ZOLK2_MpttOpen(trap.get()), ZOLK2_MPTT_E_STATE);

  ASSERT_EQ(ZOLK2_MpttOpenManagementFile(trap.get()), 0);
  EXPECT_EQ(ZOLK2_MpttOpenManagementFile(trap.get()), ZOLK2_MPTT_E_STATE);
  ASSERT_EQ(ZOLK2_MpttOpen(trap.get()), 0);
  EXPECT_EQ(ZOLK2_MpttOpen(trap.get()), ZOLK2_MPTT_E_STATE);

  // Refused while the stream is open, and nothing is closed by the attempt.
  EXPECT_EQ(ZOLK2_MpttCloseManagementFile(trap.get()), ZOLK2_MPTT_E_STATE);
  EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), 4);
  EXPECT_EQ(ReadToEnd(trap.get()), "ab\r\n");

  ASSERT_EQ(ZOLK2_MpttClose(trap.get()), 0);
  EXPECT_EQ(ZOLK2_MpttClose(trap.get()), ZOLK2_MPTT_E_STATE);
  ASSERT_EQ(ZOLK2_MpttCloseManagementFile(trap.get()), 0);
  EXPECT_EQ(ZOLK2_MpttCloseManagementFile(trap.get()), ZOLK2_MPTT_E_STATE);
  EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), -1);

  // Reopened, nothing is readable before the end is computed again.
  ASSERT_EQ(ZOLK2_MpttOpenManagementFile(trap.get()), 0);
  ASSERT_EQ(ZOLK2_MpttOpen(trap.get()), 0);
  EXPECT_EQ(ReadToEnd(trap.get()), "");
  EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), 4);
  EXPECT_EQ(ReadToEnd(trap.get()), "ab\r\n");
}

TEST(ManagementFile, DescriptorIsCloseOnExecAndTheTraceDescriptorIsNot) {
  TraceSet set;
  set.WriteRecord(MakeRecord(4096, 2, 1, 0));
  set.WriteTrace(1, "x");
  TrapPtr trap = OpenReader(set.TracePath(1), false);
  // Find the descriptors by what they refer to.
  const int managementFlags = ::fcntl(DescriptorOf(set.ManagementPath()), F_GETFD);
  const int traceFlags = ::fcntl(DescriptorOf(set.TracePath(1)), F_GETFD);
  EXPECT_EQ(managementFlags, FD_CLOEXEC);
  EXPECT_EQ(traceFlags, 0);
}

TEST(ManagementRecord, ValidationAndByteOrder) {
  struct Case {
    const char* name;
    management_info_t record;
    ByteOrder order;
    int expect;  // readable end, or -1 with error 29
  };
  auto with = [](management_info_t r, auto change) {
    change(r);
    return r;
  };
  const management_info_t good = MakeRecord(4096, 3, 1, 100);
  const Case cases[] = {
      {"mark, this host's order", good, zolksupport::HostByteOrder(), 100},
      {"mark, other order", good, OtherByteOrder(), 100},
      {"no mark, valid as stored", with(good, [](auto& r) { r.byteOrderMark = 0; }),
       zolksupport::HostByteOrder(), 100},
      {"no mark, valid only swapped", with(good, [](auto& r) { r.byteOrderMark = 0; }),
       OtherByteOrder(), 100},
      {"unknown mark 1", with(good, [](auto& r) { r.byteOrderMark = 1; }),
       zolksupport::HostByteOrder(), -1},
      {"magic", with(good, [](auto& r) { r.magic[3] = 'X'; }), zolksupport::HostByteOrder(), -1},
      {"file size 4095", with(good, [](auto& r) { r.fileSize = 4095; }),
       zolksupport::HostByteOrder(), -1},
      {"file size 16777217", with(good, [](auto& r) { r.fileSize = 16777217; }),
       zolksupport::HostByteOrder(), -1},
      {"file size 16777216", with(good, [](auto& r) { r.fileSize = 16777216; }),
       zolksupport::HostByteOrder(), 100},
      {"file count 0", with(good, [](auto& r) { r.fileCount = 0; }),
       zolksupport::HostByteOrder(), -1},
      {"file count 65", with(good, [](auto& r) { r.fileCount = 65; }),
       zolksupport::HostByteOrder(), -1},
      {"file being written 0", with(good, [](auto& r) { r.writeFileNumber = 0; }),
       zolksupport::HostByteOrder(), -1},
      {"file being written beyond count", with(good, [](auto& r) { r.writeFileNumber = 4; }),
       zolksupport::HostByteOrder(), -1},
      {"file being written negative", with(good, [](auto& r) { r.writeFileNumber = 0x80000001u; }),
       zolksupport::HostByteOrder(), -1},
      {"lock type 0 counts as 1", with(good, [](auto& r) { r.lockType = 0; }),
       zolksupport::HostByteOrder(), 100},
      {"lock type 2", with(good, [](auto& r) { r.lockType = 2; }), zolksupport::HostByteOrder(), -1},
      {"lock type 7", with(good, [](auto& r) { r.lockType = 7; }), zolksupport::HostByteOrder(), -1},
      {"lock type 2 without locking",
       with(good, [](auto& r) { r.lockType = 2; r.flags = ZOLK2_MPTT_FLAG_NO_LOCK; }),
       zolksupport::HostByteOrder(), 100},
      {"other flag bits ignored", with(good, [](auto& r) { r.flags = 0xFFFFFFEFu; }),
       zolksupport::HostByteOrder(), 100},
      {"reserved bytes ignored", with(good, [](auto& r) { std::memset(r.reserved2, 0xAB, 28); r.reserved = 9; }),
       zolksupport::HostByteOrder(), 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TraceSet set;
    set.WriteRecord(c.record, c.order);
    set.WriteTrace(1, std::string(100, 'x'));
    TrapPtr trap = OpenReader(set.TracePath(1), false);
    ASSERT_NE(trap, nullptr);
    EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), c.expect);
    EXPECT_EQ(ZOLK2_MpttGetLastError(trap.get()), c.expect < 0 ? ZOLK2_MPTT_E_RECORD : 0);
  }
}

// A management file shorter than the record (one just created by a writer,
// or one it truncated on a restart after the reader had read it) is refused
// where the record is read; it must never fault.
TEST(ManagementRecord, FileShorterThanTheRecordIsRefused) {
  for (size_t length : {0, 1, 40, 63}) {
    SCOPED_TRACE("management file of " + std::to_string(length) + " bytes");
    TraceSet set;
    const std::vector<unsigned char> rec = zolksupport::EncodeManagementRecord(
        MakeRecord(4096, 2, 1, 10), zolksupport::HostByteOrder());
    zolktest::WriteFile(set.ManagementPath(), std::string(rec.begin(), rec.begin() + length));
    set.WriteTrace(1, "");  // an empty trace file makes the mapping consult the record

    TrapPtr trap = OpenReader(set.TracePath(1), false);
    ASSERT_NE(trap, nullptr);
    EXPECT_EQ(ZOLK2_MpttOpen(trap.get()), ZOLK2_MPTT_E_MAP);
    EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), -1);
    EXPECT_EQ(ZOLK2_MpttGetLastError(trap.get()), ZOLK2_MPTT_E_RECORD);

    // Once the writer has written the record, the same instance goes on.
    set.WriteRecord(MakeRecord(4096, 2, 1, 10));
    EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), 10);

    // The writer starts afresh: shortened under the open instance, then
    // whole again with a new position.
    ASSERT_EQ(::truncate(set.ManagementPath().c_str(), static_cast<off_t>(length)), 0);
    ZOLK2_MpttClearError(trap.get());
    EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), -1);
    EXPECT_EQ(ZOLK2_MpttGetLastError(trap.get()), ZOLK2_MPTT_E_RECORD);
    set.WriteRecord(MakeRecord(4096, 2, 1, 20));
    EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), 20);
  }
}

TEST(Settings, GettersSettersAndRanges) {
  TrapPtr trap(ZOLK2_MpttCreateInstance("x1.log"));
  EXPECT_EQ(ZOLK2_MpttGetLockBlockTime(trap.get()), 10);
  EXPECT_EQ(ZOLK2_MpttGetLockSleepTime(trap.get()), 1);
  EXPECT_EQ(ZOLK2_MpttGetLockRetryTimes(trap.get()), 20);

  struct Case {
    const char* name;
    int (*set)(ZOLK2_MptTrap_t*, int);
    int (*get)(ZOLK2_MptTrap_t*);
    int value;
    int expectResult;  // previous value, or -1
    int expectStored;
  };
  const Case cases[] = {
      {"block time 0", ZOLK2_MpttSetLockBlockTime, ZOLK2_MpttGetLockBlockTime, 0, 10, 0},
      {"block time -1", ZOLK2_MpttSetLockBlockTime, ZOLK2_MpttGetLockBlockTime, -1, -1, 0},
      {"sleep time 0", ZOLK2_MpttSetLockSleepTime, ZOLK2_MpttGetLockSleepTime, 0, 1, 0},
      {"sleep time 250", ZOLK2_MpttSetLockSleepTime, ZOLK2_MpttGetLockSleepTime, 250, 0, 250},
      {"sleep time -5", ZOLK2_MpttSetLockSleepTime, ZOLK2_MpttGetLockSleepTime, -5, -1, 250},
      {"retry times 0", ZOLK2_MpttSetLockRetryTimes, ZOLK2_MpttGetLockRetryTimes, 0, -1, 20},
      {"retry times 1", ZOLK2_MpttSetLockRetryTimes, ZOLK2_MpttGetLockRetryTimes, 1, 20, 1},
      {"retry times -1", ZOLK2_MpttSetLockRetryTimes, ZOLK2_MpttGetLockRetryTimes, -1, -1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZOLK2_MpttClearError(trap.get());
    EXPECT_EQ(c.set(trap.get(), c.value), c.expectResult);
    EXPECT_EQ(c.get(trap.get()), c.expectStored);
    EXPECT_EQ(ZOLK2_MpttGetLastError(trap.get()), c.expectResult < 0 ? ZOLK2_MPTT_E_INVALID : 0);
  }
}

TEST(Errors, LastErrorStaysUntilClearedAndCallsWithoutInstanceUseTheProcessCode) {
  TraceSet set;
  set.WriteRecord(MakeRecord(4096, 2, 1, 0));
  TrapPtr trap(ZOLK2_MpttCreateInstance(set.TracePath(1).c_str()));
  EXPECT_EQ(ZOLK2_MpttClose(trap.get()), ZOLK2_MPTT_E_STATE);
  ASSERT_EQ(ZOLK2_MpttOpenManagementFile(trap.get()), 0);
  EXPECT_EQ(ZOLK2_MpttGetLastError(trap.get()), ZOLK2_MPTT_E_STATE);  // success keeps it
  ZOLK2_MpttClearError(trap.get());
  EXPECT_EQ(ZOLK2_MpttGetLastError(trap.get()), 0);
  EXPECT_EQ(ZOLK2_MpttGetLastError(nullptr), 0);

  // Null instances: the failure value, and the process-wide code 1.
  struct Case {
    const char* name;
    std::function<long()> call;
    long expect;
  };
  char buf[8];
  const Case cases[] = {
      {"OpenManagementFile", [] { return ZOLK2_MpttOpenManagementFile(nullptr); }, 1},
      {"CloseManagementFile", [] { return ZOLK2_MpttCloseManagementFile(nullptr); }, 1},
      {"GetLockBlockTime", [] { return ZOLK2_MpttGetLockBlockTime(nullptr); }, -1},
      {"SetLockBlockTime", [] { return ZOLK2_MpttSetLockBlockTime(nullptr, 5); }, -1},
      {"GetLockSleepTime", [] { return ZOLK2_MpttGetLockSleepTime(nullptr); }, -1},
      {"SetLockSleepTime", [] { return ZOLK2_MpttSetLockSleepTime(nullptr, 5); }, -1},
      {"GetLockRetryTimes", [] { return ZOLK2_MpttGetLockRetryTimes(nullptr); }, -1},
      {"SetLockRetryTimes", [] { return ZOLK2_MpttSetLockRetryTimes(nullptr, 5); }, -1},
      {"GetCurrentOffset", [] { return ZOLK2_MpttGetCurrentOffset(nullptr); }, -1},
      {"Open", [] { return ZOLK2_MpttOpen(nullptr); }, 1},
      {"Close", [] { return ZOLK2_MpttClose(nullptr); }, 1},
      {"Read", [&] { return static_cast<long>(ZOLK2_MpttRead(nullptr, buf, sizeof buf)); }, 0},
      {"GetChar", [] { return ZOLK2_MpttGetChar(nullptr); }, -1},
      {"GetLine", [&] { return static_cast<long>(ZOLK2_MpttGetLine(nullptr, buf, sizeof buf)); }, 0},
      {"Seek", [] { return ZOLK2_MpttSeek(nullptr, 0, 0); }, 1},
      {"Tell", [] { return ZOLK2_MpttTell(nullptr); }, -1},
      {"CreateInstance", [] { return ZOLK2_MpttCreateInstance(nullptr) == nullptr ? 0L : 1L; }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZOLK2_MpttClearError(nullptr);
    EXPECT_EQ(c.call(), c.expect);
    EXPECT_EQ(ZOLK2_MpttGetLastError(nullptr), ZOLK2_MPTT_E_INVALID);
    EXPECT_EQ(ZOLK2_MpttGetLastError(trap.get()), 0);
  }
  // Deleting nothing succeeds and leaves the process code alone.
  ZOLK2_MpttClearError(nullptr);
  ASSERT_EQ(ZOLK2_MpttCreateInstance(nullptr), nullptr);
  EXPECT_EQ(ZOLK2_MpttDeleteInstance(nullptr), 0);
  EXPECT_EQ(ZOLK2_MpttGetLastError(nullptr), ZOLK2_MPTT_E_INVALID);
  ZOLK2_MpttClearError(nullptr);
  EXPECT_EQ(ZOLK2_MpttGetLastError(nullptr), 0);
}

TEST(Instances, DeleteClosesWhateverIsOpen) {
  TraceSet set;
  set.WriteRecord(MakeRecord(4096, 2, 1, 3));
  set.WriteTrace(1, "abc");
  auto openDescriptors = [] {
    int n = 0;
    for (int fd = 0; fd < 1024; ++fd) n += ::fcntl(fd, F_GETFD) >= 0;
    return n;
  };
  const int before = openDescriptors();
  for (int depth = 0; depth < 4; ++depth) {
    SCOPED_TRACE("depth " + std::to_string(depth));
    ZOLK2_MptTrap_t* trap = ZOLK2_MpttCreateInstance(set.TracePath(1).c_str());
    ASSERT_NE(trap, nullptr);
    if (depth >= 1) {
      ASSERT_EQ(ZOLK2_MpttOpenManagementFile(trap), 0);
    }
    if (depth >= 2) {
      ASSERT_EQ(ZOLK2_MpttOpen(trap), 0);
    }
    if (depth >= 3) {
      ASSERT_EQ(ZOLK2_MpttGetCurrentOffset(trap), 3);
    }
    EXPECT_EQ(ZOLK2_MpttDeleteInstance(trap), 0);
    EXPECT_EQ(openDescriptors(), before);
  }
}

}  // namespace
}  // namespace traptest
