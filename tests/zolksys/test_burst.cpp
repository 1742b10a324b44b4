// A burst from 8 threads through the reentrant library and the same burst
// through raw syslog(), to one rsyslogd in one run: the daemon must write
// every message of each side exactly once. The daemon's rate limiting
// (imuxsock) is off here, as the fixture leaves it: with it on, a burst this
// size from one process loses most of its messages by design.

#include <syslog.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <zolk2sys.h>

#include "common/RsyslogTest.h"

namespace zolktest {
namespace {

constexpr int kThreads = 8;
constexpr int kPerThread = 4000;
constexpr int kMessages = kThreads * kPerThread;
constexpr char kText1[] = "burst";

// Runs send(thread, sequence number, its text) for every message, thread t
// sending numbers t, t + kThreads, ...; returns the wall-clock time.
double SendFrom8Threads(const std::function<void(int, int, const char*)>& send) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t, &send] {
      char number[16];
      for (int n = t; n < kMessages; n += kThreads) {
        std::snprintf(number, sizeof number, "%07d", n);
        send(t, n, number);
      }
    });
  for (std::thread& th : threads) th.join();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// What is wrong with the records of one side, or empty: each number must
// arrive once as "burst NNNNNNN", with the side's facility and severity.
std::string Check(const std::vector<zolk::SyslogRecord>& records) {
  std::vector<int> seen(kMessages, 0);
  std::string wrong;
  for (const zolk::SyslogRecord& r : records) {
    char* end = nullptr;
    const long n = r.text.rfind("burst ", 0) == 0 ? std::strtol(r.text.c_str() + 6, &end, 10) : -1;
    if (n < 0 || n >= kMessages || *end != '\0' || r.facility != LOG_LOCAL4 >> 3 ||
        r.severity != LOG_INFO) {
      if (wrong.size() < 400) wrong += " not sent: '" + zolk::Describe(r) + "';";
      continue;
    }
    ++seen[n];
  }
  int missing = 0, twice = 0;
  for (int n = 0; n < kMessages; ++n) {
    if (seen[n] == 0 && ++missing <= 5) wrong += " missing " + std::to_string(n) + ";";
    if (seen[n] > 1 && ++twice <= 5) wrong += " more than once " + std::to_string(n) + ";";
  }
  if (missing + twice > 0)
    wrong += " " + std::to_string(missing) + " missing, " + std::to_string(twice) + " duplicated";
  return wrong;
}

TEST(SysLogBurst, EveryMessageOfLibraryAndRawSyslogArrivesOnce) {
  ZOLK_SKIP_WITHOUT_RSYSLOGD();
  // Options(): imuxsock's rate limit off. Messages lost with it on would be
  // the daemon's policy, not a fault of either side.
  InRsyslogdChild(zolk::RsyslogDaemon::Options(), [](zolk::RsyslogDaemon& daemon) {
    // One instance per thread: the library switches the connection's
    // settings whenever another instance writes, as in a server.
    ZOLK2_SYSLOG* inst[kThreads] = {};
    for (ZOLK2_SYSLOG*& i : inst) {
      ASSERT_EQ(ZOLK2_CreateSysLogInstance(&i), 0);
      ASSERT_EQ(ZOLK2_OpenSysLogInstance(i, "zolkburst-lib", LOG_PID, LOG_LOCAL4), 0);
    }
    const struct Side {
      const char* program;
      std::function<void(int, int, const char*)> send;
    } sides[] = {
        {"zolkburst-lib",
         [&](int t, int n, const char* number) {
           EXPECT_EQ(ZOLK2_PutToSysLogInstance(inst[t], LOG_INFO, kText1, number), 0) << n;
         }},
        {"zolkburst-raw",
         [](int, int, const char* number) { ::syslog(LOG_INFO, "%s %s", kText1, number); }},
    };
    for (const Side& side : sides) {
      // The library sets the process's one connection only when an
      // instance writes; raw syslog() needs it set for itself.
      if (side.program == std::string("zolkburst-raw")) ::openlog(side.program, LOG_PID, LOG_LOCAL4);
      const double seconds = SendFrom8Threads(side.send);
      const std::vector<zolk::SyslogRecord> records = Of(daemon.Collect(), side.program);
      std::printf("%s: %d messages from %d threads sent in %.3f s, %zu arrived\n", side.program,
                  kMessages, kThreads, seconds, records.size());
      EXPECT_EQ(Check(records), "")
          << side.program << ": " << records.size() << " of " << kMessages
          << " arrived (rsyslogd's imuxsock rate limit off)";
    }
    for (ZOLK2_SYSLOG* i : inst) ZOLK2_DeleteSysLogInstance(i);
  });
}

// What the daemon does to a burst of one process when the rate limit is on
// (imuxsock keys it by the sender's process id from the socket's
// credentials): the first messages up to the burst pass, the rest of the
// interval is dropped, and the daemon says so in a message of its own.
TEST(SysLogBurst, RateLimitPassesTheFirstBurstOfAProcessAndSaysItDrops) {
  ZOLK_SKIP_WITHOUT_RSYSLOGD();
  constexpr int kSent = 1000;
  const struct Case {
    const char* name;
    zolk::RsyslogDaemon::Options options;  // interval, burst, forward
    int arrive;
  } cases[] = {
      {"off", {0, 0, false}, kSent},
      {"100 in 60 s", {60, 100, false}, 100},
      {"the daemon's default burst in 60 s", {60, 0, false}, 200},
  };
  for (const Case& c : cases) {
    InRsyslogdChild(c.options, [&c](zolk::RsyslogDaemon& daemon) {
      ZOLK2_SYSLOG* inst = nullptr;
      ASSERT_EQ(ZOLK2_CreateSysLogInstance(&inst), 0);
      ASSERT_EQ(ZOLK2_OpenSysLogInstance(inst, "zolkburst-lib", LOG_PID, LOG_LOCAL4), 0);
      for (int n = 0; n < kSent; ++n)
        ZOLK2_PutToSysLogInstance(inst, LOG_INFO, kText1, std::to_string(n).c_str());
      const std::vector<zolk::SyslogRecord> records = daemon.Collect();
      const std::vector<zolk::SyslogRecord> arrived = Of(records, "zolkburst-lib");
      EXPECT_EQ(arrived.size(), static_cast<std::size_t>(c.arrive)) << c.name;
      if (!arrived.empty()) {
        EXPECT_EQ(arrived.back().text, "burst " + std::to_string(c.arrive - 1)) << c.name;
      }
      bool saysDrop = false;
      for (const zolk::SyslogRecord& r : Of(records, "rsyslogd"))
        saysDrop |= r.text.find("begin to drop messages due to rate-limiting") != std::string::npos;
      EXPECT_EQ(saysDrop, c.arrive < kSent) << c.name;
      ZOLK2_DeleteSysLogInstance(inst);
    });
  }
}

}  // namespace
}  // namespace zolktest
