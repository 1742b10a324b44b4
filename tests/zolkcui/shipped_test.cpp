// The shipped binaries, which read only the real configuration path: run in
// a private mount namespace with a tmpfs over /opt, so the host's file is
// never touched. Also what an install and the manual pages deliver.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CommandRunner.h"
#include "common/Privileges.h"

namespace {

using zolkcuitest::ConfDir;
using zolkcuitest::kDefaultConf;
using zolkcuitest::kShippedConf;

const char kMissing[] = "<missing>";

struct Case {
  const char *name;
  const char *program;
  std::string conf;  // kMissing: no file
  std::vector<std::string> args;
  int rc;
  std::string out;
  std::string err;
  std::string after;
};

TEST(ShippedCommands, UseTheConfigurationFileUnderOpt) {
  if (!zolktest::PrivateMountUnavailable().empty())
    GTEST_SKIP() << zolktest::PrivateMountUnavailable();
  for (const char *program : {ZOLK_SHIPPED_CONF, ZOLK_SHIPPED_GETCONF}) {
    if (std::string(program).rfind("/opt/", 0) == 0)
      GTEST_SKIP() << "the build tree lies under /opt, which the test hides behind a tmpfs";
  }
  const std::string notFound = std::string("File not found. '") + kShippedConf + "'\n";
  const Case cases[] = {
      {"set sizes", ZOLK_SHIPPED_CONF, kDefaultConf, {"-b", "512", "-s", "128"}, 0, "", "",
       "LogFile = \nLogSize = 524288\nLogFNum = 4\nMapSize = 131072\nWatchDog = 10\n"
       "IntervalSec = 0\nMaxMsgNum = 0\n"},
      {"get sizes", ZOLK_SHIPPED_GETCONF, "LogSize = 524288\nMapSize = 131072\n", {"-b", "-s"},
       0, "LogSize=512\nMapSize=128\n", "", "LogSize = 524288\nMapSize = 131072\n"},
      {"setter never creates the file", ZOLK_SHIPPED_CONF, kMissing, {"-n", "2"}, 13, "",
       notFound, kMissing},
  };
  for (const Case &c : cases) {
    ConfDir dir;
    zolkcuitest::Isolation how;
    how.privateMounts = true;
    how.setup = [&] {
      if (zolktest::MountTmpfs("/opt") != 0) return 1;
      if (::mkdir("/opt/quorvex", 0755) != 0 || ::mkdir("/opt/quorvex/ZOLKLib2", 0755) != 0 ||
          ::mkdir("/opt/quorvex/ZOLKLib2/etc", 0755) != 0)
        return 1;
      if (c.conf != kMissing) zolktest::WriteFile(kShippedConf, c.conf);
      return 0;
    };
    how.collect = [&] {
      struct stat st;
      const bool exists = ::stat(kShippedConf, &st) == 0;
      zolktest::WriteFile(dir / "after", exists ? zolktest::ReadFile(kShippedConf) : kMissing);
      zolktest::WriteFile(dir / "mode", exists ? std::to_string(st.st_mode & 07777) : "");
    };
    const zolktest::ProcessResult r = zolkcuitest::RunIsolated(dir.path(), c.program, c.args, how);
    EXPECT_EQ(r.exitCode, c.rc) << c.name;
    EXPECT_EQ(r.out, c.out) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    EXPECT_EQ(zolktest::ReadFile(dir / "after"), c.after) << c.name;
    if (c.program == std::string(ZOLK_SHIPPED_CONF) && c.rc == 0) {
      EXPECT_EQ(zolktest::ReadFile(dir / "mode"), std::to_string(0644)) << c.name;
    }
  }
}

TEST(ShippedCommands, CarryTheirWhatStrings) {
  struct Case {
    const char *program;
    const char *what;
  } cases[] = {
      {ZOLK_SHIPPED_CONF, "@(#)Quorvex Bexa Trace Library 2. 03-19.   Last Update: Feb 24 2009"},
      {ZOLK_SHIPPED_GETCONF, "@(#)Quorvex Bexa Trace Library 2. 03-19.   Last Update: Feb 13 2009"},
  };
  for (const Case &c : cases) {
    const std::string binary = zolktest::ReadFile(c.program);
    EXPECT_NE(binary.find(std::string(c.what) + '\0'), std::string::npos) << c.program;
  }
}

TEST(ShippedCommands, InstallKeepsAnAdministratorsFile) {
  zolktest::TempDir prefix;
  const std::vector<std::string> install{"cmake", "--install", ZOLK_BINARY_DIR, "--prefix",
                                         prefix.path()};
  zolktest::ProcessResult r = zolktest::RunProcess(install);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  for (const char *file : {"bin/zolk2conf", "bin/zolk2getconf"}) {
    EXPECT_EQ(::access((prefix / file).c_str(), X_OK), 0) << file;
  }
  for (const char *file : {"share/man/man8/zolk2conf.8", "share/man/man8/zolk2getconf.8"}) {
    EXPECT_EQ(::access((prefix / file).c_str(), R_OK), 0) << file;
  }
  const std::string conf = prefix / "etc/D002zolk2.cnf";
  EXPECT_EQ(zolktest::ReadFile(conf), kDefaultConf);
  struct stat st;
  ASSERT_EQ(::stat(conf.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);

  // The shipped default is exactly what the setter makes of an empty file.
  ConfDir dir;
  dir.Write("");
  EXPECT_EQ(dir.Run(ZOLK_TEST_CONF, {"-n", "4"}).exitCode, 0);
  EXPECT_EQ(dir.Read(), zolktest::ReadFile(conf));

  zolktest::WriteFile(conf, "LogSize = 8192\n");
  r = zolktest::RunProcess(install);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(zolktest::ReadFile(conf), "LogSize = 8192\n");
}

TEST(ShippedCommands, ManualPagesRender) {
  if (::access("/usr/bin/man", X_OK) != 0) GTEST_SKIP() << "man is not installed";
  for (const char *page : {"zolk2conf.8", "zolk2getconf.8"}) {
    zolktest::ProcessOptions options;
    options.setEnv = {{"MANWIDTH", "80"}, {"LC_ALL", "C.UTF-8"}};
    const std::string path = std::string(ZOLK_SOURCE_DIR) + "/zolkcui/man/" + page;
    const zolktest::ProcessResult r =
        zolktest::RunProcess({"man", "--warnings", "-l", path}, options);
    EXPECT_EQ(r.exitCode, 0) << page;
    EXPECT_EQ(r.err, "") << page;
    for (const char *section : {"NAME", "SYNOPSIS", "OPTIONS", "EXIT STATUS", "FILES", "EXAMPLES"}) {
      EXPECT_NE(r.out.find(std::string("\n") + section + "\n"), std::string::npos)
          << page << " lacks " << section;
    }
    EXPECT_NE(r.out.find("/opt/quorvex/ZOLKLib2/etc/D002zolk2.cnf"), std::string::npos) << page;
  }
}

}  // namespace
