// What the library exports: exactly its functions and its what-string,
// bound to the symbol version, and a header usable from C.
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "common/Process.h"
#include "zolk2trap.h"

extern "C" int zolktrap_c_round_trip(const char* traceFile);

namespace {

TEST(Interface, ExportsExactlyItsFunctionsAndWhatString) {
  const zolktest::ProcessResult r =
      zolktest::RunProcess({"nm", "-D", "--defined-only", ZOLK_TRAP_LIBRARY_PATH});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::set<std::string> exported;
  std::istringstream lines(r.out);
  std::string address, type, name;
  while (lines >> address >> type >> name) {
    if (type == "A") continue;  // the version definition itself
    exported.insert(name);
  }
  std::set<std::string> expected;
  for (const char* fn :
       {"CreateInstance", "DeleteInstance", "GetLockBlockTime", "SetLockBlockTime",
        "GetLockSleepTime", "SetLockSleepTime", "GetLockRetryTimes", "SetLockRetryTimes",
        "OpenManagementFile", "CloseManagementFile", "GetLastError", "ClearError",
        "GetCurrentOffset", "Open", "Close", "Read", "GetChar", "GetLine", "Seek", "Tell"})
    expected.insert(std::string("ZOLK2_Mptt") + fn + "@@ZOLKLib2");
  expected.insert("ZOLK2_version_string@@ZOLKLib2");
  EXPECT_EQ(exported, expected);
}

TEST(Interface, WhatString) {
  EXPECT_STREQ(ZOLK2_version_string,
               "@(#)Quorvex Bexa Trace Library 2. 03-16.     Last Update: May 18 2007");
}

TEST(Interface, HeaderWorksFromC) { EXPECT_EQ(zolktrap_c_round_trip("x1.log"), 0); }

}  // namespace
