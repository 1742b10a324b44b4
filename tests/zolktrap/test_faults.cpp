// The reader under faults of its surroundings: allocations that fail, and a
// writer that truncates, removes and replaces the files under it.
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "common/FailingAlloc.h"
#include "zolktrap/TrapFixture.h"

namespace traptest {
namespace {

// A whole reading session with every allocation in turn failing: only the
// creation allocates; it fails with 9 for the process and leaves nothing
// behind (LeakSanitizer checks at exit), and every other run reads it all.
TEST(AllocationFailure, OnlyCreationAllocatesAndFailsWithNine) {
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

}  // namespace
}  // namespace traptest
