// What libzolk2sj exports: exactly the natives of the Java trace classes and
// its what-string (40 natives in all); and the core's interface header usable from C.
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "common/Process.h"
#include "zolk2t.h"
#include "zolk2t/zolk2t_control.h"

extern "C" int zolktj_c_position_of_last_error(void);
extern "C" const char ZOLK_jnilib_version_string[];

namespace {

TEST(Interface, ExportsExactlyTheNativesAndTheWhatString) {
  const zolktest::ProcessResult r =
      zolktest::RunProcess({"nm", "-D", "--defined-only", ZOLK_TEST_TRACELIB});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::set<std::string> exported;
  std::istringstream lines(r.out);
  std::string address, type, name;
  while (lines >> address >> type >> name) exported.insert(name);

  std::set<std::string> expected = {"ZOLK_jnilib_version_string"};
  for (const char* m :
       {"initialize", "finalize", "putWithIdEx", "putWithMsgType", "putWithIdEx_1mb",
        "putWithMsgType_1mb", "getLastError", "setFileThreshold", "setLogLevel",
        "setShmThreshold", "getLogLevel", "logFileClearByNum", "logFileClearByTime",
        "traceBackup", "ChFileAttr"})
    expected.insert(std::string("Java_pelvar_zolklib2_ZolkJniTrace_fs_1zolk_1") + m);
  for (const char* m : {"startTrace", "endTrace", "putMsg", "setLogLevel", "setFileThreshold",
                        "setShmThreshold", "logFileClearByNum", "logFileClearByTime",
                        "traceBackup", "chFileAttr"})
    expected.insert(std::string("Java_pelvar_zolklib2_ZolkJniTrace2_jni_1") + m);
  for (const char* m : {"startTrace", "endTrace", "putMsg", "flushBuffer", "traceBackup",
                        "chFileAttr", "logFileClearByNum", "logFileClearByTime", "setLogLevel",
                        "setFileThreshold", "setShmThreshold", "setLockRetryTimes",
                        "setLockSleepTime", "setLockBlockTime", "getLastErrorPos"})
    expected.insert(std::string("Java_pelvar_zolklibM_ZolkJniTrace_jni_1") + m);
  EXPECT_EQ(expected.size(), 41u);
  EXPECT_EQ(exported, expected);
  EXPECT_STREQ(ZOLK_jnilib_version_string,
               "@(#)Quorvex Bexa Trace Library 2. 03-16-/A.  Last Update: Jan  9 2008");
}

TEST(Interface, CoreHeaderWorksFromC) {
  zolk2t::Reset();
  EXPECT_EQ(zolktj_c_position_of_last_error(), -1);
  zolk2t::Script("ZOLK2_GetLastError", ZOLK2_TRACE_ERROR_WORD(13, 291));
  EXPECT_EQ(zolktj_c_position_of_last_error(), 291);
}

}  // namespace
