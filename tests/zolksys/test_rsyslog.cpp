// End to end against the system's own log daemon: what the library writes
// is what rsyslogd records, field by field (facility, severity, tag, program
// name, process id, text), and what an operator's filters see.

#include <pthread.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <zolk2sys.h>

#include "common/RsyslogTest.h"

namespace zolktest {
namespace {

using zolk::SyslogRecord;

constexpr bool kReentrant = ZOLK_TEST_REENTRANT;

// A record as a line, every field shown, so that two multisets of them can
// be compared and the difference printed.
std::string Line(const SyslogRecord& r) {
  return std::to_string(r.facility) + "." + std::to_string(r.severity) + " tag='" + r.tag +
         "' program='" + r.program + "' pid=" + r.pid + " text='" + r.text + "'";
}

SyslogRecord Record(int facility, int severity, const std::string& ident, bool withPid,
                    const std::string& text, pid_t pid = ::getpid()) {
  SyslogRecord r;
  r.facility = facility >> 3;
  r.severity = severity;
  r.program = ident;
  r.pid = withPid ? std::to_string(pid) : "-";
  r.tag = ident + (withPid ? "[" + r.pid + "]" : "") + ":";
  r.text = text;
  return r;
}

// Every expected record arrived exactly once, and nothing else did.
void ExpectSameRecords(const std::vector<SyslogRecord>& got, const std::vector<SyslogRecord>& want) {
  std::vector<std::string> g, w, missing, extra;
  for (const SyslogRecord& r : got) g.push_back(Line(r));
  for (const SyslogRecord& r : want) w.push_back(Line(r));
  std::sort(g.begin(), g.end());
  std::sort(w.begin(), w.end());
  std::set_difference(w.begin(), w.end(), g.begin(), g.end(), std::back_inserter(missing));
  std::set_difference(g.begin(), g.end(), w.begin(), w.end(), std::back_inserter(extra));
  EXPECT_EQ(g.size(), w.size()) << "records arrived vs expected";
  for (std::size_t i = 0; i < missing.size() && i < 20; ++i) ADD_FAILURE() << "missing: " << missing[i];
  for (std::size_t i = 0; i < extra.size() && i < 20; ++i) ADD_FAILURE() << "unexpected: " << extra[i];
}

// One instance of a writing table: its settings, and whether its messages
// go through the thread-id function or the plain one (which decorates them
// only with ZOLK2_SYSLOG_OPT_WITH_TID).
struct InstanceCase {
  const char* ident;
  int option;  // openlog options and ZOLK2_SYSLOG_OPT_WITH_TID
  int facility;
  int mask;
  int tidMode;
  const char* prefix;
  const char* suffix;
  const char* tidFormat;  // what the mode writes
  bool putWithTid;
};

const InstanceCase kInstances[] = {
    {"zolk-alpha", LOG_PID | ZOLK2_SYSLOG_OPT_WITH_TID, LOG_LOCAL0, 0x7F, ZOLK2_SYSLOG_TID_HEX8, nullptr,
     nullptr, "[%08lX] ", false},
    {"zolk-beta", 0, LOG_LOCAL3, LOG_UPTO(LOG_WARNING), ZOLK2_SYSLOG_TID_DECIMAL, "(", ") ", "(%lu) ",
     true},
    {"zolk-gamma", LOG_PID, LOG_DAEMON, LOG_MASK(LOG_CRIT) | LOG_MASK(LOG_INFO), ZOLK2_SYSLOG_TID_HEX16,
     "<t", ">", "<t%016lX>", true},
    {"zolk-delta", ZOLK2_SYSLOG_OPT_WITH_TID, LOG_USER, 0x7F, ZOLK2_SYSLOG_TID_HEX, "", "", "%lX",
     false},
    {"zolk-epsilon", LOG_PID, LOG_LOCAL7, LOG_UPTO(LOG_ERR), ZOLK2_SYSLOG_TID_HEX8, nullptr, nullptr, "",
     false},
};
const int kSeverities[] = {LOG_CRIT, LOG_ERR, LOG_WARNING, LOG_INFO};

class Instances final {
 public:
  Instances() {
    for (const InstanceCase& c : kInstances) {
      ZOLK2_SYSLOG* inst = nullptr;
      EXPECT_EQ(ZOLK2_CreateSysLogInstance(&inst), 0) << c.ident;
      EXPECT_EQ(ZOLK2_OpenSysLogInstance(inst, c.ident, c.option, c.facility), 0) << c.ident;
      ZOLK2_SetLogMaskInstance(inst, c.mask);
      EXPECT_EQ(ZOLK2_SetSysLogTidFormatInstance(inst, c.tidMode, c.prefix, c.suffix), 0) << c.ident;
      inst_.push_back(inst);
    }
  }
  ~Instances() {
    for (ZOLK2_SYSLOG* inst : inst_) EXPECT_EQ(ZOLK2_DeleteSysLogInstance(inst), 0);
  }
  Instances(const Instances&) = delete;
  Instances& operator=(const Instances&) = delete;

  // Writes rounds x instances x severities messages from the calling thread;
  // returns the records expected of them.
  std::vector<SyslogRecord> Write(const std::string& writer, int rounds) const {
    std::vector<SyslogRecord> want;
    char tid[64];
    for (int round = 0; round < rounds; ++round) {
      for (std::size_t i = 0; i < inst_.size(); ++i) {
        const InstanceCase& c = kInstances[i];
        const bool decorated = kReentrant && (c.putWithTid || (c.option & ZOLK2_SYSLOG_OPT_WITH_TID));
        std::snprintf(tid, sizeof tid, c.tidFormat, static_cast<unsigned long>(::gettid()));
        for (int severity : kSeverities) {
          const std::string text1 = std::string(c.ident) + "/" + writer + "/" + std::to_string(round);
          const std::string text2 = "severity " + std::to_string(severity);
          const int rc =
              c.putWithTid
                  ? ZOLK2_PutToSysLogWithTidInstance(inst_[i], severity, text1.c_str(), text2.c_str())
                  : ZOLK2_PutToSysLogInstance(inst_[i], severity, text1.c_str(), text2.c_str());
          EXPECT_EQ(rc, 0) << text1;
          if ((c.mask & LOG_MASK(severity)) == 0) continue;
          want.push_back(Record(c.facility, severity, c.ident, (c.option & LOG_PID) != 0,
                                text1 + (decorated ? std::string(tid) : " ") + text2));
        }
      }
    }
    return want;
  }

 private:
  std::vector<ZOLK2_SYSLOG*> inst_;
};

TEST(SysLogRsyslog, InstancesWrittenInterleavedArriveOnceWithTheirOwnFields) {
  ZOLK_SKIP_WITHOUT_RSYSLOGD();
  InRsyslogdChild({}, [](zolk::RsyslogDaemon& daemon) {
    Instances instances;
    // The single-thread build has no lock: one writer there.
    const int writers = kReentrant ? 4 : 1;
    std::vector<std::vector<SyslogRecord>> want(writers);
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w)
      threads.emplace_back([&, w] { want[w] = instances.Write("writer" + std::to_string(w), 25); });
    for (std::thread& t : threads) t.join();
    std::vector<SyslogRecord> all;
    for (const auto& v : want) all.insert(all.end(), v.begin(), v.end());
    ExpectSameRecords(daemon.Collect(), all);
  });
}

// Forwarded, the records the collector writes are the ones the local
// daemon would: identities, facilities, severities and texts survive the
// hop. The two builds hand the daemon the same kind of datagram (the test
// above covers both), so the reentrant one suffices here.
#if ZOLK_TEST_REENTRANT
TEST(SysLogRsyslog, InstancesArriveAtTheCollectorWithTheirOwnFields) {
  ZOLK_SKIP_WITHOUT_RSYSLOGD();
  zolk::RsyslogDaemon::Options options;
  options.forward = true;
  InRsyslogdChild(options, [](zolk::RsyslogDaemon& daemon) {
    Instances instances;
    const std::vector<SyslogRecord> want = instances.Write("forwarded", 3);
    ExpectSameRecords(daemon.Collect(), want);
  });
}
#endif

// A text of n bytes, each a printable character, different along the text.
std::string Text(std::size_t n, char first = 'a') {
  std::string s(n, ' ');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(first + i % 26);
  return s;
}

TEST(SysLogRsyslog, LongTextsAndIdentitiesArriveAsTheLibraryCutsThem) {
  ZOLK_SKIP_WITHOUT_RSYSLOGD();
  const std::string t1023 = Text(1023), t600 = Text(600), t2000 = Text(2000, 'A');
  struct Case {
    const char* what;
    std::string ident, text1, text2;
    std::string program, text;  // as they arrive
  } cases[] = {
      {"1023 bytes arrive whole", "zolk-len", t1023, "", "zolk-len", t1023},
      {"1024 bytes are cut", "zolk-len", t1023 + "Z", "", "zolk-len", t1023},
      {"two texts cut at 1023", "zolk-len", t600, t600, "zolk-len", t600 + " " + t600.substr(0, 422)},
      {"2000 bytes are cut", "zolk-len", t2000, "tail", "zolk-len", t2000.substr(0, 1023)},
      {"a 16-byte identity is kept", "zolk-ident-16byt", "kept", "", "zolk-ident-16byt", "kept"},
      {"a longer identity is cut", "zolk-ident-cut-here", "cut", "", "zolk-ident-cut-h", "cut"},
  };
  InRsyslogdChild({}, [&](zolk::RsyslogDaemon& daemon) {
    ZOLK2_SYSLOG* inst = nullptr;
    ASSERT_EQ(ZOLK2_CreateSysLogInstance(&inst), 0);
    for (const Case& c : cases) {
      ZOLK2_OpenSysLogInstance(inst, c.ident.c_str(), LOG_PID, LOG_LOCAL2);
      ZOLK2_PutToSysLogInstance(inst, LOG_NOTICE, c.text1.c_str(), c.text2.c_str());
      const std::vector<SyslogRecord> got = daemon.Collect();
      ASSERT_EQ(got.size(), 1u) << c.what;
      SyslogRecord head = got[0], want = Record(LOG_LOCAL2, LOG_NOTICE, c.program, true, c.text);
      head.text = want.text = "";
      EXPECT_EQ(Line(head), Line(want)) << c.what;
      const auto differ =
          std::mismatch(got[0].text.begin(), got[0].text.end(), c.text.begin(), c.text.end());
      EXPECT_TRUE(got[0].text == c.text)
          << c.what << ": " << got[0].text.size() << " bytes arrived, " << c.text.size()
          << " expected, first difference at byte " << (differ.first - got[0].text.begin());
    }
    ZOLK2_DeleteSysLogInstance(inst);
  });
}

// The default instance has an empty identity until it is opened: the C
// library then writes no name before the process id, and the daemon's
// program name is empty.
TEST(SysLogRsyslog, DefaultInstanceBeforeAndAfterOpening) {
  ZOLK_SKIP_WITHOUT_RSYSLOGD();
  struct Step {
    const char* what;
    const char* ident;  // opened with it first; null: as it is; empty: closed first
    int option, facility, importance;
    const char* text;
    SyslogRecord want;
  };
  InRsyslogdChild({}, [](zolk::RsyslogDaemon& daemon) {
    const Step steps[] = {
        {"not opened", nullptr, 0, 0, LOG_WARNING, "before opening",
         Record(LOG_USER, LOG_WARNING, "", true, "before opening")},
        {"opened", "zolk-default", LOG_PID, LOG_LOCAL5, LOG_INFO, "opened",
         Record(LOG_LOCAL5, LOG_INFO, "zolk-default", true, "opened")},
        {"without LOG_PID", "zolk-default", 0, LOG_DAEMON, LOG_ALERT, "no pid",
         Record(LOG_DAEMON, LOG_ALERT, "zolk-default", false, "no pid")},
        {"closed again", "", 0, 0, LOG_ERR, "closed", Record(LOG_USER, LOG_ERR, "", true, "closed")},
    };
    for (const Step& s : steps) {
      if (s.ident != nullptr && *s.ident != '\0') ZOLK2_OpenSysLog(s.ident, s.option, s.facility);
      if (s.ident != nullptr && *s.ident == '\0') ZOLK2_CloseSysLog();
      EXPECT_EQ(ZOLK2_PutToSysLog(s.importance, s.text), 0) << s.what;
      const std::vector<SyslogRecord> got = daemon.Collect();
      ASSERT_EQ(got.size(), 1u) << s.what;
      EXPECT_EQ(Line(got[0]), Line(s.want)) << s.what;
    }
  });
}

// After fork() the child's messages carry the child's process id, and its
// thread id: the child is a new thread to the library.
TEST(SysLogRsyslog, ChildAfterForkWritesWithItsOwnIds) {
  ZOLK_SKIP_WITHOUT_RSYSLOGD();
  InRsyslogdChild({}, [](zolk::RsyslogDaemon& daemon) {
    if (kReentrant)
      ::pthread_atfork(ZOLK2_SysLogPreForkHandler, ZOLK2_SysLogPostForkHandlerForParent,
                       ZOLK2_SysLogPostForkHandlerForChild);
    ZOLK2_SYSLOG* inst = nullptr;
    ASSERT_EQ(ZOLK2_CreateSysLogInstance(&inst), 0);
    ZOLK2_OpenSysLogInstance(inst, "zolk-fork", LOG_PID | ZOLK2_SYSLOG_OPT_WITH_TID, LOG_LOCAL1);
    ZOLK2_SetSysLogTidFormatInstance(inst, ZOLK2_SYSLOG_TID_DECIMAL, "#", " ");
    auto text = [](const char* who, pid_t tid) {
      return std::string(who) + (kReentrant ? "#" + std::to_string(tid) + " " : " ") + "writes";
    };
    std::vector<SyslogRecord> want;
    ZOLK2_PutToSysLogInstance(inst, LOG_INFO, "parent", "writes");
    want.push_back(Record(LOG_LOCAL1, LOG_INFO, "zolk-fork", true, text("parent", ::gettid())));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ZOLK2_PutToSysLogInstance(inst, LOG_INFO, "child", "writes");
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    want.push_back(Record(LOG_LOCAL1, LOG_INFO, "zolk-fork", true, text("child", child), child));
    ZOLK2_PutToSysLogInstance(inst, LOG_INFO, "parent", "writes");
    want.push_back(want.front());
    ExpectSameRecords(daemon.Collect(), want);
    ZOLK2_DeleteSysLogInstance(inst);
  });
}

}  // namespace
}  // namespace zolktest
