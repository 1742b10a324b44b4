// Tests against the real system log daemon: rsyslogd at the /dev/log of a
// forked child (see support/rsyslog/RsyslogDaemon.h).
#ifndef ZOLK_TESTS_COMMON_RSYSLOGTEST_H
#define ZOLK_TESTS_COMMON_RSYSLOGTEST_H

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RsyslogDaemon.h"

namespace zolktest {

// Skips the test, with the reason, where rsyslogd cannot run; under CI (CI
// set) that is a failure instead: the scripts install the daemon there, and
// the machine has the namespaces.
#define ZOLK_SKIP_WITHOUT_RSYSLOGD()                                     \
  do {                                                                   \
    const std::string& whyNot = ::zolk::RsyslogDaemon::Unavailable();    \
    if (!whyNot.empty()) {                                               \
      if (std::getenv("CI") != nullptr) FAIL() << whyNot << " (in CI)"; \
      GTEST_SKIP() << whyNot;                                            \
    }                                                                    \
  } while (0)

// Runs body in a forked child (a single thread, as the namespaces need)
// with the daemon at its /dev/log. GoogleTest's checks work inside body: the
// child prints what failed, and its exit status fails the test.
void InRsyslogdChild(const zolk::RsyslogDaemon::Options& options,
                     const std::function<void(zolk::RsyslogDaemon&)>& body);

// The records of one program (the tag's name), in the order written.
std::vector<zolk::SyslogRecord> Of(const std::vector<zolk::SyslogRecord>& records,
                                   const std::string& program);

}  // namespace zolktest

#endif
