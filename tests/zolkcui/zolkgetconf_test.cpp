// zolk2getconf as people and scripts run it: what reaches standard output,
// standard error and the execution log, and the exit status.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CommandRunner.h"

namespace {

using zolkcuitest::ConfDir;
using zolkcuitest::kDefaultConf;

const char kMissing[] = "<missing>";
const char kDirectory[] = "<directory>";

struct Case {
  const char *name;
  std::string conf;  // kMissing: no file
  std::vector<std::string> args;
  int rc;
  std::string out;
  std::string err;
};

TEST(Zolk2GetConf, PrintsRequestedKeys) {
  const std::string value1029 = "/" + std::string(1028, 'v');  // fills a 1040-byte line
  const Case cases[] = {
      {"size in KB", kDefaultConf, {"-b"}, 0, "256\n", ""},
      {"remainder dropped", "LogSize = 1000\n", {"-b"}, 0, "0\n", ""},
      {"value alone for one key", kDefaultConf, {"-n"}, 0, "4\n", ""},
      {"two keys in order", "LogFile = /x\n" + std::string(kDefaultConf), {"-b", "-f"}, 0,
       "LogSize=256\nLogFile=/x\n", ""},
      {"repeated letter moves to the end", "LogFile = /x\nLogSize = 8192\n", {"-f", "-b", "-f"},
       0, "LogSize=8\nLogFile=/x\n", ""},
      {"clustered letters", "LogFile = /x\nLogSize = 8192\n", {"-fb"}, 0,
       "LogFile=/x\nLogSize=8\n", ""},
      {"all seven", "LogFile=/l\nLogSize=2048\nLogFNum=3\nMapSize=1024\nWatchDog=5\n"
       "IntervalSec=6\nMaxMsgNum=7\n", {"-mi", "-wsnbf"}, 0,
       "MaxMsgNum=7\nIntervalSec=6\nWatchDog=5\nMapSize=1\nLogFNum=3\nLogSize=2\nLogFile=/l\n", ""},
      {"non-numeric size as stored", "LogSize=abc\n", {"-b"}, 0, "abc\n", ""},
      {"later line wins, CR LF", "LogFNum = 2\r\nLogFNum = 12\r\n", {"-n"}, 0, "12\n", ""},
      {"long stored value printed whole", "LogFile = " + value1029 + "\n", {"-f"}, 0,
       value1029 + "\n", ""},
      {"value without key line", kDefaultConf, {"-b", "-f", "-n"}, 15, "LogSize=256\n",
       "LogFile : FAILED\nData not found. 'LogFile'\n"},
      {"absent key", "LogSize = 8192\n", {"-w"}, 15, "",
       "WatchDog : FAILED\nData not found. 'WatchDog'\n"},
      {"size beyond a long", "LogSize = 99999999999999999999\n", {"-b"}, 17, "",
       "LogSize : FAILED\nCannot read the key value.\n"},
      {"wrong argument stops before reading", kMissing, {"-x", "-f"}, 1, "",
       "Wrong argument. '-x'\n"},
      {"a value is a stray word", kDefaultConf, {"-b512"}, 1, "", "Wrong argument. '-b512'\n"},
      {"no key requested", kDefaultConf, {}, 1, "", "Wrong argument.\n"},
      {"empty -l", kDefaultConf, {"-b", "-l", ""}, 1, "",
       "Must be specified with file name. (-l )\n"},
      {"missing file", kMissing, {"-b"}, 13, "", "File not found. 'etc/D002zolk2.cnf'\n"},
      {"directory in place of the file", kDirectory, {"-b"}, 13, "",
       "File not found. 'etc/D002zolk2.cnf'\n"},
  };
  for (const Case &c : cases) {
    ConfDir dir;
    if (c.conf == kDirectory) {
      ASSERT_EQ(::mkdir(dir.conf().c_str(), 0755), 0);
    } else if (c.conf != kMissing) {
      dir.Write(c.conf);
    }
    const zolktest::ProcessResult r = dir.Run(ZOLK_TEST_GETCONF, c.args);
    EXPECT_EQ(r.exitCode, c.rc) << c.name;
    EXPECT_EQ(r.out, c.out) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    if (c.conf != kDirectory) {
      EXPECT_EQ(dir.Read(), c.conf) << c.name << ": the getter never writes";
    }
  }
}

TEST(Zolk2GetConf, HelpWinsOverEverything) {
  ConfDir dir;
  const zolktest::ProcessResult r = dir.Run(ZOLK_TEST_GETCONF, {"-x", "-b", "-h", "-l", ""});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.rfind("-f\n  The name of the log file (output directory and prefix) is obtained.\n"
                        "\n-b\n", 0), 0u) << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 26);
  EXPECT_EQ(r.out.substr(r.out.size() - 34), "\n-h\n  display this help and exit.\n");
}

TEST(Zolk2GetConf, ExecutionLogRecordsTheRun) {
  ConfDir dir;
  dir.Write(kDefaultConf);
  zolktest::ProcessResult r = dir.Run(ZOLK_TEST_GETCONF, {"-l", "run.log", "-sn"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "MapSize=64\nLogFNum=4\n");
  EXPECT_EQ(r.err, "");
  r = dir.Run(ZOLK_TEST_GETCONF, {"-l", "run.log", "-f"});
  EXPECT_EQ(r.exitCode, 15);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  r = dir.Run(ZOLK_TEST_GETCONF, {"-l", "run.log"});
  EXPECT_EQ(r.exitCode, 1);
  const std::string start = "Logging start:   \\d{4}/\\d\\d/\\d\\d  \\d\\d:\\d\\d:\\d\\d\n"
                            "Specified arguments\\.\n  \\S+zolk2getconf_testpath -l run\\.log";
  const std::regex expected(start + " -sn\nMapSize : SUCCESS\nLogFNum : SUCCESS\n"
                            "COMMAND RETURN CODE : 0\n" +
                            start + " -f\nLogFile : FAILED\nData not found\\. 'LogFile'\n"
                            "COMMAND RETURN CODE : 15\n" +
                            start + "\nWrong argument\\.\nCOMMAND RETURN CODE : 1\n");
  const std::string log = zolktest::ReadFile(dir / "run.log");
  EXPECT_TRUE(std::regex_match(log, expected)) << log;
}

// Output that never reached its reader is no success: both commands say so
// on standard error and end with 16, and a run that failed otherwise keeps
// its own status.
TEST(Zolk2GetConf, LostStandardOutputIsReported) {
  const char kFull[] = "Failed to write. 'standard output' (No space left on device)\n";
  const char kClosed[] = "Failed to write. 'standard output' (Bad file descriptor)\n";
  const struct {
    const char *name;
    const char *program;
    std::vector<std::string> args;
    bool closed;  // standard output closed rather than /dev/full
    int rc;
    const char *err;
  } cases[] = {
      {"getconf value", ZOLK_TEST_GETCONF, {"-b"}, false, 16, kFull},
      {"getconf values, logged", ZOLK_TEST_GETCONF, {"-bsn", "-l", "run.log"}, false, 16, kFull},
      {"getconf closed", ZOLK_TEST_GETCONF, {"-n"}, true, 16, kClosed},
      {"getconf help", ZOLK_TEST_GETCONF, {"-h"}, false, 16, kFull},
      {"getconf missing key keeps 15", ZOLK_TEST_GETCONF, {"-bf"}, false, 15,
       "LogFile : FAILED\nData not found. 'LogFile'\nFailed to write. 'standard output' "
       "(No space left on device)\n"},
      {"getconf nothing printed", ZOLK_TEST_GETCONF, {"-x"}, false, 1, "Wrong argument. '-x'\n"},
      {"conf help", ZOLK_TEST_CONF, {"-h"}, false, 16, kFull},
      {"conf sets, prints nothing", ZOLK_TEST_CONF, {"-n", "5"}, true, 0, ""},
  };
  for (const auto &c : cases) {
    ConfDir dir;
    dir.Write(kDefaultConf);
    zolktest::ProcessOptions options;
    options.workDir = dir.path();
    options.prepareChild = [&c] {
      if (c.closed) return ::close(1);
      const int full = ::open("/dev/full", O_WRONLY);
      return full < 0 || ::dup2(full, 1) < 0 ? 1 : 0;
    };
    std::vector<std::string> argv{c.program};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const zolktest::ProcessResult r = zolktest::RunProcess(argv, options);
    EXPECT_EQ(r.exitCode, c.rc) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    if (c.args.size() > 1 && c.args[1] == "-l") {
      const std::string log = zolktest::ReadFile(dir / "run.log");
      EXPECT_NE(log.find(std::string(c.err) + "COMMAND RETURN CODE : 16\n"), std::string::npos)
          << c.name << "\n" << log;
    }
  }
}

}  // namespace
