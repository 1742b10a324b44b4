// What reaches syslog: message layouts with and without the thread id, the
// cuts at 1023 bytes and 16-byte identities, thread-id modes and affixes,
// priority mapping, and when the connection is re-configured.

#include <syslog.h>

#include <string>
#include <vector>

#include "zolksys/SysLogTest.h"

namespace zolktest {
namespace {

TEST_F(SysLogTest, LayoutWithoutThreadId) {
  struct Case {
    const char* name;
    const char* text1;
    const char* text2;
    const char* expected;
  };
  const Case cases[] = {
      {"both", "app", "started", "app started"},
      {"null text1", nullptr, "started", "started"},
      {"empty text1", "", "started", " started"},
      {"empty text2", "app", "", "app"},
      {"null text2", "app", nullptr, "app"},
      {"both null", nullptr, nullptr, ""},
      {"percent signs", "100%", "%s%n", "100% %s%n"},
  };
  Instance log;
  for (const Case& c : cases) {
    SyslogRecorder::Clear();
    EXPECT_EQ(ZOLK2_PutToSysLogInstance(log, LOG_ERR, c.text1, c.text2), 0) << c.name;
    EXPECT_EQ(OnlyWrite().message, c.expected) << c.name;
  }
}

TEST_F(SysLogTest, SingleTextGoesOutWhole) {
  // The one-text function hands the text over as it is: no 1023-byte cut.
  const std::string text = std::string(3000, 'x') + "%d";
  EXPECT_EQ(ZOLK2_PutToSysLog(LOG_ERR, text.c_str()), 0);
  EXPECT_EQ(ZOLK2_PutToSysLog(LOG_ERR, nullptr), 0);
  EXPECT_EQ(Messages(), (std::vector<std::string>{text, ""}));
}

TEST_F(SysLogTest, TwoTextMessagesAreCutAt1023Bytes) {
  const std::string a1023(1023, 'a'), a1022(1022, 'a'), a1021(1021, 'a');
  struct Case {
    const char* name;
    std::string text1;
    const char* text2;
    std::string expected;
  };
  const Case cases[] = {
      {"text1 of 1023", a1023, "tail", a1023},
      {"text1 of 5000", std::string(5000, 'a'), "tail", a1023},
      {"text1 of 1022: the blank fills the buffer", a1022, "tail", a1022 + " "},
      {"text1 of 1021: one byte of text2", a1021, "tail", a1021 + " t"},
      {"text1 of 1020", std::string(1020, 'a'), "tail", std::string(1020, 'a') + " ta"},
  };
  Instance log;
  for (const Case& c : cases) {
    SyslogRecorder::Clear();
    ZOLK2_PutToSysLogInstance(log, LOG_ERR, c.text1.c_str(), c.text2);
    const std::string got = OnlyWrite().message;
    EXPECT_EQ(got.size(), c.expected.size()) << c.name;
    EXPECT_EQ(got, c.expected) << c.name;
  }
}

TEST_F(SysLogTest, PriorityMapping) {
  struct Case {
    int importance, priority;
  };
  const Case cases[] = {{0, LOG_EMERG},   {1, LOG_ALERT},  {2, LOG_CRIT},  {3, LOG_ERR},
                        {4, LOG_WARNING}, {5, LOG_NOTICE}, {6, LOG_INFO},  {7, LOG_ERR},
                        {-1, LOG_ERR},    {8, LOG_ERR},    {1000, LOG_ERR}};
  Instance log;
  for (const Case& c : cases) {
    SyslogRecorder::Clear();
    ZOLK2_PutToSysLogInstance(log, c.importance, "p", nullptr);
    EXPECT_EQ(OnlyWrite().priority, c.priority) << "importance " << c.importance;
    SyslogRecorder::Clear();
    ZOLK2_PutToSysLog(c.importance, "p");
    EXPECT_EQ(OnlyWrite().priority, c.priority) << "default instance, importance " << c.importance;
  }
}

TEST_F(SysLogTest, IdentityIsCutTo16Bytes) {
  struct Case {
    const char* ident;
    const char* expected;
  };
  const Case cases[] = {
      {"twenty-bytes-ident!!", "twenty-bytes-ide"},
      {"exactly16bytes!!", "exactly16bytes!!"},
      {"fifteen-bytes!!", "fifteen-bytes!!"},
      {"", ""},
      {nullptr, ""},
  };
  Instance log;
  for (const Case& c : cases) {
    ASSERT_EQ(ZOLK2_OpenSysLogInstance(log, c.ident, LOG_PID, LOG_USER), 0);
    SyslogRecorder::Clear();
    ZOLK2_PutToSysLogInstance(log, LOG_ERR, "m", nullptr);
    std::vector<SyslogCall> opens = SyslogRecorder::Calls(SyslogCall::kOpen);
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].ident, c.expected) << (c.ident ? c.ident : "(null)");
    EXPECT_FALSE(opens[0].identNull);
  }
}

#if ZOLK_TEST_REENTRANT

TEST_F(SysLogTest, LayoutWithThreadId) {
  struct Case {
    const char* name;
    int mode;
    const char* prefix;
    const char* suffix;
    const char* format;
    const char* before;  // expected text around the thread id
    const char* after;
  };
  const Case cases[] = {
      {"defaults", ZOLK2_SYSLOG_TID_HEX8, nullptr, nullptr, "%08lX", "app[", "] started"},
      {"decimal", ZOLK2_SYSLOG_TID_DECIMAL, "<", "> ", "%lu", "app<", "> started"},
      {"hex", ZOLK2_SYSLOG_TID_HEX, "", "", "%lX", "app", "started"},
      {"hex16", ZOLK2_SYSLOG_TID_HEX16, "tid=", ":", "%016lX", "apptid=", ":started"},
      {"seven-byte affixes", ZOLK2_SYSLOG_TID_HEX8, "1234567", "7654321", "%08lX", "app1234567",
       "7654321started"},
  };
  Instance log;
  for (const Case& c : cases) {
    ASSERT_EQ(ZOLK2_SetSysLogTidFormatInstance(log, c.mode, c.prefix, c.suffix), 0) << c.name;
    SyslogRecorder::Clear();
    ZOLK2_PutToSysLogWithTidInstance(log, LOG_ERR, "app", "started");
    EXPECT_EQ(OnlyWrite().message, c.before + ThreadIdText(c.format) + c.after) << c.name;
    // The default instance formats the same way.
    ASSERT_EQ(ZOLK2_SetSysLogTidFormat(c.mode, c.prefix, c.suffix), 0) << c.name;
    SyslogRecorder::Clear();
    EXPECT_EQ(ZOLK2_PutToSysLogWithTid(LOG_ERR, "app", "started"), 0);
    EXPECT_EQ(OnlyWrite().message, c.before + ThreadIdText(c.format) + c.after) << c.name;
  }
}

TEST_F(SysLogTest, ThreadIdFormatRefusalsChangeNothing) {
  struct Case {
    const char* name;
    int mode;
    const char* prefix;
    const char* suffix;
  };
  const Case cases[] = {
      {"mode 3", 3, nullptr, nullptr},       {"mode 0", 0, nullptr, nullptr},
      {"mode 5", 5, nullptr, nullptr},       {"mode 16", 16, nullptr, nullptr},
      {"mode -1", -1, nullptr, nullptr},     {"prefix of 8", 4, "12345678", nullptr},
      {"suffix of 8", 4, nullptr, "12345678"},
  };
  Instance log;
  ASSERT_EQ(ZOLK2_SetSysLogTidFormatInstance(log, ZOLK2_SYSLOG_TID_DECIMAL, "<", ">"), 0);
  for (const Case& c : cases) {
    EXPECT_EQ(ZOLK2_SetSysLogTidFormatInstance(log, c.mode, c.prefix, c.suffix), 1) << c.name;
    EXPECT_EQ(ZOLK2_SetSysLogTidFormat(c.mode, c.prefix, c.suffix), 1) << c.name;
    SyslogRecorder::Clear();
    ZOLK2_PutToSysLogWithTidInstance(log, LOG_ERR, "a", "b");
    EXPECT_EQ(OnlyWrite().message, "a<" + ThreadIdText("%lu") + ">b") << c.name;
  }
}

TEST_F(SysLogTest, ThreadIdPiecesAreDroppedAfterTheCut) {
  const std::string a1023(1023, 'a'), a1022(1022, 'a'), a1014(1014, 'a');
  const std::string tid = ThreadIdText();
  struct Case {
    const char* name;
    std::string text1;
    std::string expected;
  };
  const Case cases[] = {
      {"text1 of 1023: nothing else", a1023, a1023},
      {"text1 of 1022: the prefix only", a1022, a1022 + "["},
      // 1014 + "[" + 8 digits = 1023: the thread id fills the buffer.
      {"thread id fills the buffer", a1014, a1014 + "[" + tid},
      {"suffix cut", std::string(1013, 'a'), std::string(1013, 'a') + "[" + tid + "]"},
  };
  Instance log;
  for (const Case& c : cases) {
    SyslogRecorder::Clear();
    ZOLK2_PutToSysLogWithTidInstance(log, LOG_ERR, c.text1.c_str(), "text2");
    EXPECT_EQ(OnlyWrite().message, c.expected) << c.name;
  }
}

#else  // single-thread build

TEST_F(SysLogTest, SingleThreadBuildHasNoThreadIds) {
  Instance log;
  ASSERT_EQ(ZOLK2_OpenSysLogInstance(log, "st", ZOLK2_SYSLOG_OPT_WITH_TID, LOG_USER), 0);
  // Thread-id settings are accepted and ignored, whatever they are.
  EXPECT_EQ(ZOLK2_SetSysLogTidFormat(3, nullptr, nullptr), 0);
  EXPECT_EQ(ZOLK2_SetSysLogTidFormat(4, "123456789", nullptr), 0);
  EXPECT_EQ(ZOLK2_SetSysLogTidFormatInstance(log, 3, nullptr, nullptr), 0);
  SyslogRecorder::Clear();
  EXPECT_EQ(ZOLK2_PutToSysLogWithTid(LOG_ERR, "text1", "text2"), 0);
  EXPECT_EQ(ZOLK2_PutToSysLogWithTidInstance(log, LOG_ERR, "text1", "text2"), 0);
  EXPECT_EQ(ZOLK2_PutToSysLogInstance(log, LOG_ERR, "text1", "text2"), 0);
  EXPECT_EQ(Messages(), (std::vector<std::string>(3, "text1 text2")));
}

#endif

// Which writes configure the connection: a script of steps on instances A
// and B (and the default instance D), and for each write whether openlog and
// setlogmask ran before it.
TEST_F(SysLogTest, ConnectionCache) {
  enum Op { kWrite, kSetMask, kOpen, kClose, kTidFormat, kCreateOther, kDeleteOther };
  struct Step {
    char who;  // 'A', 'B' or 'D'
    Op op;
    bool reconfigures = false;  // for kWrite: openlog + setlogmask before the message
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"one instance configures once",
       {{'A', kWrite, true}, {'A', kWrite, false}, {'A', kWrite, false}}},
      {"alternating instances re-open every time",
       {{'A', kWrite, true}, {'B', kWrite, true}, {'A', kWrite, true}, {'B', kWrite, true}}},
      {"a mask change on A, a write on B, then A again",
       {{'A', kWrite, true}, {'A', kSetMask}, {'B', kWrite, true}, {'A', kWrite, true}}},
      {"a settings change on another instance invalidates",
       {{'A', kWrite, true}, {'B', kSetMask}, {'A', kWrite, true},
        {'B', kOpen}, {'A', kWrite, true},
        {'B', kClose}, {'A', kWrite, true}}},
      {"creating an instance invalidates, deleting one does not",
       {{'A', kWrite, true}, {'A', kCreateOther}, {'A', kWrite, true},
        {'A', kDeleteOther}, {'A', kWrite, false}}},
      {"the default instance shares the connection",
       {{'D', kWrite, true}, {'D', kWrite, false}, {'A', kWrite, true}, {'D', kWrite, true},
        {'D', kSetMask}, {'D', kWrite, true}}},
#if ZOLK_TEST_REENTRANT
      {"a thread-id format change invalidates",
       {{'A', kWrite, true}, {'B', kTidFormat}, {'A', kWrite, true}}},
#endif
  };
  for (const Case& c : cases) {
    Instance a, b;
    ZOLK2_SYSLOG* other = nullptr;
    for (size_t i = 0; i < c.steps.size(); ++i) {
      const Step& s = c.steps[i];
      ZOLK2_SYSLOG* inst = s.who == 'A' ? a.get() : s.who == 'B' ? b.get() : nullptr;
      SyslogRecorder::Clear();
      switch (s.op) {
        case kWrite:
          if (inst != nullptr) {
            ZOLK2_PutToSysLogInstance(inst, LOG_ERR, "w", nullptr);
          } else {
            ZOLK2_PutToSysLog(LOG_ERR, "w");
          }
          break;
        case kSetMask:
          if (inst != nullptr) {
            ZOLK2_SetLogMaskInstance(inst, 0x3F);
          } else {
            ZOLK2_SetLogMask(0x3F);
          }
          break;
        case kOpen: ZOLK2_OpenSysLogInstance(inst, "b", LOG_PID, LOG_USER); break;
        case kClose: ZOLK2_CloseSysLogInstance(inst); break;
        case kTidFormat: ZOLK2_SetSysLogTidFormatInstance(inst, 2, nullptr, nullptr); break;
        case kCreateOther: ZOLK2_CreateSysLogInstance(&other); break;
        case kDeleteOther: ZOLK2_DeleteSysLogInstance(other); break;
      }
      std::vector<SyslogCall> calls = SyslogRecorder::Calls();
      if (s.op != kWrite) {
        EXPECT_TRUE(calls.empty()) << c.name << ", step " << i << ": settings only are stored";
        continue;
      }
      const size_t expected = s.reconfigures ? 3 : 1;
      ASSERT_EQ(calls.size(), expected) << c.name << ", step " << i;
      if (s.reconfigures) {
        EXPECT_EQ(calls[0].kind, SyslogCall::kOpen) << c.name << ", step " << i;
        EXPECT_EQ(calls[1].kind, SyslogCall::kMask) << c.name << ", step " << i;
      }
      EXPECT_EQ(calls.back().kind, SyslogCall::kWrite) << c.name << ", step " << i;
    }
    ZOLK2_SetLogMask(0x7F);
  }
}

TEST_F(SysLogTest, ConnectionIdentityOutlivesTheRecord) {
  // openlog keeps the pointer it is given, and syslog reads it again for
  // every message - also for messages the library does not write itself.
  ZOLK2_SYSLOG* a = nullptr;
  ASSERT_EQ(ZOLK2_CreateSysLogInstance(&a), 0);
  ASSERT_EQ(ZOLK2_OpenSysLogInstance(a, "alpha", LOG_PID, LOG_USER), 0);
  ASSERT_EQ(ZOLK2_PutToSysLogInstance(a, LOG_ERR, "first", nullptr), 0);

  // Re-opening the record does not change the identity in use...
  ASSERT_EQ(ZOLK2_OpenSysLogInstance(a, "beta", LOG_PID, LOG_USER), 0);
  SyslogRecorder::Clear();
  ::syslog(LOG_ERR, "%s", "raw after re-open");
  EXPECT_EQ(OnlyWrite().ident, "alpha");

  // ...until the library writes for it again.
  SyslogRecorder::Clear();
  ASSERT_EQ(ZOLK2_PutToSysLogInstance(a, LOG_ERR, "second", nullptr), 0);
  EXPECT_EQ(OnlyWrite().ident, "beta");

  // Deleting the record leaves the identity readable (AddressSanitizer
  // would report a read of the freed record here).
  ASSERT_EQ(ZOLK2_DeleteSysLogInstance(a), 0);
  for (int i = 0; i < 4; ++i) {
    ZOLK2_SYSLOG* filler = nullptr;  // reuse the freed memory if malloc will
    ASSERT_EQ(ZOLK2_CreateSysLogInstance(&filler), 0);
    ASSERT_EQ(ZOLK2_OpenSysLogInstance(filler, "filler", 0, LOG_USER), 0);
    ASSERT_EQ(ZOLK2_DeleteSysLogInstance(filler), 0);
  }
  SyslogRecorder::Clear();
  ::syslog(LOG_ERR, "%s", "raw after delete");
  EXPECT_EQ(OnlyWrite().ident, "beta");
}

}  // namespace
}  // namespace zolktest
