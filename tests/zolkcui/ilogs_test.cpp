// The execution log and the message functions, observed in the log file.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "common/TempDir.h"
#include "ilogs.h"

namespace {

using zolktest::ReadFile;
using zolktest::TempDir;

TEST(ExecutionLog, OpensOnceAndAppendsTimeStampedRuns) {
  TempDir dir;
  const std::string log = dir / "run.log";
  zolktest::WriteFile(log, "earlier run\n");
  EXPECT_EQ(ic_LogPrintf(IC_DEST_LOG, "lost"), -1) << "no log open yet";
  EXPECT_EQ(ic_LogFilePuts("lost"), -1);
  EXPECT_EQ(ic_LogFileClose(), -1);
  EXPECT_EQ(ic_LogFileOpen(dir.path().c_str()), -1) << "a directory";

  ASSERT_EQ(ic_LogFileOpen(log.c_str()), 0);
  EXPECT_EQ(ic_LogFileOpen((dir / "other.log").c_str()), -1) << "second open";
  EXPECT_EQ(ic_LogPrintf(IC_DEST_LOG, "%s : %s", "LogSize", "SUCCESS"), 0);
  EXPECT_EQ(ic_LogPrintf(3, "never"), -1);
  EXPECT_EQ(ic_LogPrintf(-1, "never"), -1);
  EXPECT_EQ(ic_LogPrintf(IC_DEST_LOG, nullptr), -1);
  EXPECT_EQ(ic_LogPrintfEx(IC_DEST_LOG, nullptr, static_cast<const char *>(nullptr)), -1);
  EXPECT_EQ(ic_LogFileClose(), 0);

  const std::regex expected(
      "earlier run\n"
      "Logging start:   \\d{4}/\\d\\d/\\d\\d  \\d\\d:\\d\\d:\\d\\d\n"
      "LogSize : SUCCESS\n");
  const std::string content = ReadFile(log);
  EXPECT_TRUE(std::regex_match(content, expected)) << content;
}

TEST(ExecutionLog, MessagesAreBoundedAndNeverReinterpreted) {
  TempDir dir;
  const std::string log = dir / "run.log";
  ASSERT_EQ(ic_LogFileOpen(log.c_str()), 0);
  const std::string huge(3000, 'v');
  EXPECT_EQ(ic_LogPrintf(IC_DEST_LOG, "Wrong argument. '%s'", huge.c_str()), 0);
  EXPECT_EQ(ic_LogPrintfEx(IC_DEST_LOG, "%s=%s", "LogFile", huge.c_str(),
                           static_cast<const char *>(nullptr)), 0);
  EXPECT_EQ(ic_LogPrintf(IC_DEST_LOG, "%s", "100%s %d%n"), 0);
  EXPECT_EQ(ic_LogPrintfEx(IC_DEST_LOG, "  %s", "-f /a%s%n", static_cast<const char *>(nullptr)),
            0);
  ic_LogFileClose();

  std::string content = ReadFile(log);
  content.erase(0, content.find('\n') + 1);  // the start line
  const std::string cut = ("Wrong argument. '" + huge).substr(0, 1024);
  EXPECT_EQ(content, cut + "\nLogFile=" + huge + "\n100%s %d%n\n  -f /a%s%n\n");
}

}  // namespace
