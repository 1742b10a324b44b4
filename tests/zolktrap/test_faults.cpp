// The reader under faults of its surroundings: allocations that fail, and a
// writer that truncates, removes and replaces the files under it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iostream>
#include <map>
#include <random>
#include <set>
#include <string>

#include "common/FailingAlloc.h"
#include "zolktrap/TrapFixture.h"

namespace traptest {
namespace {

// A whole reading session with every allocation in turn failing: only the
// creation allocates; it fails with 9 for the process and leaves nothing
// behind (LeakSanitizer checks at exit), and every other run reads it all.
TEST(AllocationFailure, OnlyCreationAllocatesAndFailsWithNine) {
  if (!zolktest::AllocationFailureAvailable())
    GTEST_SKIP() << "no allocation failure under ThreadSanitizer";
  TraceSet set;
  set.WriteRecord(MakeRecord(4096, 2, 1, 10));
  set.WriteTrace(1, "123456789\n");
  const std::string path = set.TracePath(1);
  ZOLK2_MptTrap_t* trap = nullptr;
  int opened = -1, end = -1;
  char data[32];
  uint32_t got = 0;
  const long calls = zolktest::ForEachFailingAllocation(
      [&] {
        trap = ZOLK2_MpttCreateInstance(path.c_str());
        if (trap == nullptr) return;
        opened = ZOLK2_MpttOpenManagementFile(trap) | ZOLK2_MpttOpen(trap);
        end = ZOLK2_MpttGetCurrentOffset(trap);
        got = ZOLK2_MpttRead(trap, data, sizeof data);
        opened |= ZOLK2_MpttClose(trap) | ZOLK2_MpttDeleteInstance(trap);
      },
      [&](long nth, const zolktest::AllocationRun& run) {
        if (run.failed) {
          EXPECT_EQ(trap, nullptr) << "allocation " << nth;
          EXPECT_EQ(ZOLK2_MpttGetLastError(nullptr), ZOLK2_MPTT_E_NOMEM) << "allocation " << nth;
          ZOLK2_MpttClearError(nullptr);
        } else {
          EXPECT_EQ(opened, 0);
          EXPECT_EQ(end, 10);
          EXPECT_EQ(std::string(data, got), "123456789\n");
        }
      });
  EXPECT_EQ(calls, 3) << "the instance, the file name and the management path";
}

constexpr uint32_t kChaosFiles = 3;
constexpr int kChaosLines = 30000;

// What the chaos writer does to the set besides writing, counted.
enum Chaos {
  kRemoveTrace,
  kReplaceTrace,
  kCutRecord,
  kReplaceRecord,
  kRemoveRecord,
  kRestoreRecord,
  kTruncateTrace,
  kChaosKinds
};
const char* const kChaosNames[] = {"trace files removed",        "trace files replaced",
                                   "management files cut short", "management files replaced",
                                   "management files removed",   "management files put back",
                                   "trace files truncated"};

// Writes lines through the rotation and, every few lines once it has been
// in every file, removes or replaces a trace file, cuts the management file
// short, replaces it by an altered copy, removes it or puts the real one
// back (kept under a second name). Trace files are truncated only while
// the reader waits between two rounds (a byte on `quiet`, answered on `go`):
// the reader promises nothing for a file truncated under its reads.
int RunChaosWriter(const std::string& dir, int quiet, int go) {
  zolksupport::TraceWriterOptions options;
  options.directory = dir;
  options.prefix = "c";
  options.fileSize = 8192;
  options.fileCount = kChaosFiles;
  std::unique_ptr<zolksupport::TraceWriter> writer;
  if (zolksupport::TraceWriter::Create(options, &writer) != 0) return 100;
  const std::string record = writer->managementPath(), kept = dir + "/mmap/c.kept";
  if (::link(record.c_str(), kept.c_str()) != 0) return 101;
  std::mt19937 random(std::random_device{}());
  auto any = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
  auto put = [&](const std::string& path, const std::string& bytes) {
    PutBytes(path + ".new", bytes);
    return ::rename((path + ".new").c_str(), path.c_str());
  };
  int counts[kChaosKinds] = {};
  uint32_t entries = 0, lastFile = 1;
  for (int i = 1; i <= kChaosLines; ++i) {
    if (writer->WriteLine(zolksupport::NumberedLine(i, 20 + i % 90)) != 0) return 102;
    entries += writer->fileNumber() != lastFile;
    lastFile = writer->fileNumber();
    char c;
    if (entries >= kChaosFiles && ::read(quiet, &c, 1) == 1) {
      const std::string path = writer->TraceFilePath(1 + any(kChaosFiles));
      struct stat st;
      if (::stat(path.c_str(), &st) == 0 && ::truncate(path.c_str(), any(st.st_size + 1)) == 0)
        ++counts[kTruncateTrace];
      if (::write(go, "g", 1) != 1) return 103;
    }
    if (entries < kChaosFiles || i % 25 != 0) continue;
    const int kind = static_cast<int>(any(kTruncateTrace));
    const std::string trace = writer->TraceFilePath(1 + any(kChaosFiles));
    std::string bytes(any(9000), '\0');
    for (char& b : bytes) b = "ab\r\n\x1a\xfe\xff"[any(7)];
    std::string copy = zolktest::ReadFile(kept);
    if (copy.size() == ZOLK2_MPTT_RECORD_SIZE) copy[8 + any(20)] ^= static_cast<char>(1 << any(8));
    const int rc = kind == kRemoveTrace     ? ::unlink(trace.c_str())
                   : kind == kReplaceTrace  ? put(trace, bytes)
                   : kind == kCutRecord     ? ::truncate(kept.c_str(), any(ZOLK2_MPTT_RECORD_SIZE))
                   : kind == kReplaceRecord ? put(record, copy)
                   : kind == kRemoveRecord  ? ::unlink(record.c_str())
                                            : ::rename(kept.c_str(), record.c_str()) |
                                                 ::link(record.c_str(), kept.c_str());
    counts[kind] += rc == 0;
  }
  for (int k = 0; k < kChaosKinds; ++k) std::cout << counts[k] << " " << kChaosNames[k] << ", ";
  std::cout << kChaosLines << " lines written\n";
  return 0;
}

// The reader against the chaos writer: instances on every file of the set,
// made afresh now and then, compute the end and read with every stream
// function. Every result must be one of the reader's codes, nothing may
// fault, and a position may lie beyond the mapping only after a shorter
// mapping has replaced a longer one.
TEST(ChangingFiles, ReaderGivesCleanCodesAndNeverFaults) {
  TraceSet set("c");
  int quiet[2], go[2];
  ASSERT_EQ(::pipe2(quiet, O_CLOEXEC | O_NONBLOCK), 0);
  ASSERT_EQ(::pipe2(go, O_CLOEXEC), 0);
  Child writer([&] { return RunChaosWriter(set.dir(), quiet[0], go[1]); });
  ::close(go[1]);
  const std::set<int> failures = {ZOLK2_MPTT_E_OPEN, ZOLK2_MPTT_E_MAP,  ZOLK2_MPTT_E_NOTFOUND,
                                  ZOLK2_MPTT_E_STAT, ZOLK2_MPTT_E_LOCK, ZOLK2_MPTT_E_RECORD};
  std::map<int, int> seen;  // failure code: times
  auto expectFailure = [&](int code, const char* what) {
    EXPECT_EQ(failures.count(code), 1u) << what << ": " << code;
    ++seen[code];
  };
  TrapPtr traps[kChaosFiles + 1];
  char buffer[3000];
  long rounds = 0, delivered = 0;
  for (bool writing = true; writing; ++rounds) {
    for (uint32_t n = 1; n <= kChaosFiles; ++n) {
      TrapPtr& trap = traps[n];
      if (trap == nullptr || rounds % 11 == n) {
        trap.reset(ZOLK2_MpttCreateInstance(set.TracePath(n).c_str()));
        ASSERT_NE(trap, nullptr);
        if (const int rc = ZOLK2_MpttOpenManagementFile(trap.get()); rc != 0) {
          expectFailure(rc, "opening the management file");
          trap.reset();
          continue;
        }
        if (const int rc = ZOLK2_MpttOpen(trap.get()); rc != 0) {
          expectFailure(rc, "opening the stream");
          trap.reset();
          continue;
        }
      }
      const int end = ZOLK2_MpttGetCurrentOffset(trap.get());
      if (end < 0) {
        expectFailure(ZOLK2_MpttGetLastError(trap.get()), "computing the end");
        continue;
      }
      if (ZOLK2_MpttTell(trap.get()) > end) ZOLK2_MpttSeek(trap.get(), 0, ZOLK2_MPTT_SEEK_SET);
      uint32_t got = 1;
      for (int step = 0; got > 0 && step < 200; ++step) {
        const uint32_t size = 1 + static_cast<uint32_t>(step * 97 % sizeof buffer);
        switch ((rounds + step) % 3) {
          case 0:
            got = ZOLK2_MpttGetLine(trap.get(), buffer, size);
            break;
          case 1:
            got = ZOLK2_MpttRead(trap.get(), buffer, size);
            break;
          default:
            got = ZOLK2_MpttGetChar(trap.get()) >= 0;
            break;
        }
        ASSERT_LE(got, size);
        delivered += got;
      }
      // A file mapped again shorter than before can leave the position
      // beyond the mapping; a seek from there is refused, nothing else.
      const int at = ZOLK2_MpttTell(trap.get());
      ASSERT_EQ(ZOLK2_MpttSeek(trap.get(), 0, ZOLK2_MPTT_SEEK_END), 0);
      const int mapped = ZOLK2_MpttTell(trap.get());
      ASSERT_EQ(ZOLK2_MpttSeek(trap.get(), at, ZOLK2_MPTT_SEEK_SET),
                at <= mapped ? 0 : ZOLK2_MPTT_E_SEEK);
    }
    struct pollfd done = {go[0], POLLIN, 0};
    if (rounds % 8 == 0 && ::write(quiet[1], "q", 1) == 1) {
      char c;
      writing = ::read(go[0], &c, 1) == 1;  // the writer has truncated a file, or ended
    } else {
      writing = ::poll(&done, 1, 0) == 0 || !(done.revents & POLLHUP);
    }
  }
  EXPECT_EQ(writer.Wait(), 0);
  std::cout << rounds << " rounds, " << delivered << " bytes delivered; failures:";
  for (const auto& [code, times] : seen) std::cout << " " << times << " x " << code;
  std::cout << "\n";
  ::close(quiet[0]);
  ::close(quiet[1]);
  ::close(go[0]);
}

}  // namespace
}  // namespace traptest
