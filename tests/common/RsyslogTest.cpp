#include "common/RsyslogTest.h"

#include "common/Process.h"

namespace zolktest {

void InRsyslogdChild(const zolk::RsyslogDaemon::Options& options,
                     const std::function<void(zolk::RsyslogDaemon&)>& body) {
  const ProcessResult r = RunInChild(
      [&] {
        zolk::RsyslogDaemon daemon(options);
        if (!daemon.ok()) {
          ADD_FAILURE() << "rsyslogd: " << daemon.error();
          return 1;
        }
        body(daemon);
        if (!daemon.ok()) ADD_FAILURE() << "rsyslogd: " << daemon.error();
        return ::testing::Test::HasFailure() ? 1 : 0;
      },
      110);
  EXPECT_EQ(r.exitCode, 0) << "the child's failures are above (signal " << r.signal
                           << (r.timedOut ? ", timed out)" : ")");
}

std::vector<zolk::SyslogRecord> Of(const std::vector<zolk::SyslogRecord>& records,
                                   const std::string& program) {
  std::vector<zolk::SyslogRecord> out;
  for (const zolk::SyslogRecord& r : records)
    if (r.program == program) out.push_back(r);
  return out;
}

}  // namespace zolktest
