// Instance records: creation defaults, validity (null, deleted and foreign
// pointers), option and mask rules, the default instance, result decoding.

#include <sys/resource.h>
#include <syslog.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "common/Process.h"
#include "zolksys/SysLogTest.h"

namespace zolktest {
namespace {

TEST_F(SysLogTest, NeverOpenedInstanceWritesWithDefaults) {
  Instance log;
  SyslogRecorder::Clear();
  ASSERT_EQ(ZOLK2_PutToSysLogInstance(log, LOG_NOTICE, "hello", "world"), 0);

  std::vector<SyslogCall> calls = SyslogRecorder::Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].kind, SyslogCall::kOpen);
  EXPECT_EQ(calls[0].ident, "");
  EXPECT_FALSE(calls[0].identNull);
  EXPECT_EQ(calls[0].option, LOG_PID | LOG_CONS);
  EXPECT_EQ(calls[0].facility, LOG_USER);
  EXPECT_EQ(calls[1].kind, SyslogCall::kMask);
  EXPECT_EQ(calls[1].mask, 0x7F);
  EXPECT_EQ(calls[2].kind, SyslogCall::kWrite);
  EXPECT_EQ(calls[2].priority, LOG_NOTICE);
  EXPECT_EQ(calls[2].message, "hello world");
}

TEST_F(SysLogTest, CreateRefusesNullOut) { EXPECT_EQ(ZOLK2_CreateSysLogInstance(nullptr), 1); }

// Every function that checks its record, called with a record it must
// refuse, and what it returns then.
struct Refusal {
  const char* name;
  int expected;
  std::function<int(ZOLK2_SYSLOG*)> call;
};

std::vector<Refusal> Refusals() {
  return {
      {"Delete", 1, [](ZOLK2_SYSLOG* p) { return ZOLK2_DeleteSysLogInstance(p); }},
      {"Open", 1, [](ZOLK2_SYSLOG* p) { return ZOLK2_OpenSysLogInstance(p, "x", 0, LOG_USER); }},
      {"Close", 1, [](ZOLK2_SYSLOG* p) { return ZOLK2_CloseSysLogInstance(p); }},
      {"Put", 1, [](ZOLK2_SYSLOG* p) { return ZOLK2_PutToSysLogInstance(p, 3, "a", "b"); }},
      {"PutWithTid", 1,
       [](ZOLK2_SYSLOG* p) { return ZOLK2_PutToSysLogWithTidInstance(p, 3, "a", "b"); }},
      {"SetMask", 1, [](ZOLK2_SYSLOG* p) { return ZOLK2_SetLogMaskInstance(p, 0x0F); }},
      // Makes no check at all.
      {"SetEventSrcName", 0, [](ZOLK2_SYSLOG* p) { return ZOLK2_SetEventSrcNameInstance(p, "n"); }},
      // The single-thread build ignores thread-id settings altogether.
      {"SetTidFormat", kReentrant ? 1 : 0,
       [](ZOLK2_SYSLOG* p) { return ZOLK2_SetSysLogTidFormatInstance(p, 2, "<", ">"); }},
  };
}

TEST_F(SysLogTest, NullDeletedAndForeignRecordsAreRefused) {
  // A deleted record: with AddressSanitizer, any read of its freed memory
  // would abort the test.
  ZOLK2_SYSLOG* deleted = nullptr;
  ASSERT_EQ(ZOLK2_CreateSysLogInstance(&deleted), 0);
  ASSERT_EQ(ZOLK2_DeleteSysLogInstance(deleted), 0);

  // Memory that carries the valid mark but was never created by the library.
  alignas(16) unsigned char foreign[256] = {'Z', 'O', 'L', 'K', '\0'};
  auto* forged = reinterpret_cast<ZOLK2_SYSLOG*>(foreign);

  struct Target {
    const char* name;
    ZOLK2_SYSLOG* inst;
  };
  for (const Target& t : {Target{"null", nullptr}, Target{"deleted", deleted},
                          Target{"foreign", forged}}) {
    for (const Refusal& r : Refusals()) {
      SyslogRecorder::Clear();
      EXPECT_EQ(r.call(t.inst), r.expected) << r.name << " on a " << t.name << " record";
      EXPECT_TRUE(SyslogRecorder::Calls().empty()) << r.name << " on a " << t.name << " record";
    }
  }
  // The forged record was neither freed nor rewritten.
  EXPECT_EQ(std::memcmp(foreign, "ZOLK", 5), 0);
}

TEST_F(SysLogTest, SecondDeleteIsRefused) {
  ZOLK2_SYSLOG* p = nullptr;
  ASSERT_EQ(ZOLK2_CreateSysLogInstance(&p), 0);
  EXPECT_EQ(ZOLK2_DeleteSysLogInstance(p), 0);
  EXPECT_EQ(ZOLK2_DeleteSysLogInstance(p), 1);
}

TEST_F(SysLogTest, ManyLiveInstancesStayDistinctAndValid) {
  // Enough records to make the live-record table grow several times, with
  // every other one deleted on the way.
  std::vector<ZOLK2_SYSLOG*> live;
  for (int i = 0; i < 3000; ++i) {
    ZOLK2_SYSLOG* p = nullptr;
    ASSERT_EQ(ZOLK2_CreateSysLogInstance(&p), 0);
    if (i % 2 == 1) {
      ASSERT_EQ(ZOLK2_DeleteSysLogInstance(p), 0);
    } else {
      live.push_back(p);
    }
  }
  for (ZOLK2_SYSLOG* p : live) ASSERT_EQ(ZOLK2_SetLogMaskInstance(p, 0x3F), 0x7F);
  for (ZOLK2_SYSLOG* p : live) ASSERT_EQ(ZOLK2_DeleteSysLogInstance(p), 0);
  for (ZOLK2_SYSLOG* p : live) ASSERT_EQ(ZOLK2_DeleteSysLogInstance(p), 1);
}

TEST_F(SysLogTest, OpenOptionRules) {
  struct Case {
    int option;
    int result;
    int storedOption;  // what openlog receives afterwards
    bool withTid;
  };
  const Case cases[] = {
      {LOG_PID | LOG_NDELAY, 0, LOG_PID | LOG_NDELAY, false},
      {0x10001, 0, 0x1, true},
      {0x01000003, 0, 0x01000003, false},         // bits 24 to 31 reach openlog as given
      {static_cast<int>(0xFF010000u), 0, static_cast<int>(0xFF000000u), true},
      {0x20000, 1, 0, false},                      // refused: earlier settings stay
      {0x00800001, 1, 0, false},
      {0x00FE0000, 1, 0, false},
  };
  for (const Case& c : cases) {
    Instance log;
    ASSERT_EQ(ZOLK2_OpenSysLogInstance(log, "before", LOG_CONS, LOG_LOCAL1), 0);
    EXPECT_EQ(ZOLK2_OpenSysLogInstance(log, "after", c.option, LOG_LOCAL2), c.result)
        << std::hex << c.option;
    SyslogRecorder::Clear();
    ZOLK2_PutToSysLogInstance(log, LOG_ERR, "t1", "t2");
    std::vector<SyslogCall> opens = SyslogRecorder::Calls(SyslogCall::kOpen);
    ASSERT_EQ(opens.size(), 1u);
    if (c.result == 0) {
      EXPECT_EQ(opens[0].ident, "after") << std::hex << c.option;
      EXPECT_EQ(opens[0].option, c.storedOption) << std::hex << c.option;
      EXPECT_EQ(opens[0].facility, LOG_LOCAL2) << std::hex << c.option;
    } else {
      EXPECT_EQ(opens[0].ident, "before") << std::hex << c.option;
      EXPECT_EQ(opens[0].option, LOG_CONS) << std::hex << c.option;
      EXPECT_EQ(opens[0].facility, LOG_LOCAL1) << std::hex << c.option;
    }
    // The with-tid choice shows in the layout (reentrant build only).
    const std::string expected =
        kReentrant && c.withTid ? "t1[" + ThreadIdText() + "] t2" : "t1 t2";
    EXPECT_EQ(OnlyWrite().message, expected) << std::hex << c.option;
  }
}

TEST_F(SysLogTest, CloseRestoresDefaultsButKeepsMask) {
  Instance log;
  ASSERT_EQ(ZOLK2_OpenSysLogInstance(log, "custom", LOG_NDELAY | ZOLK2_SYSLOG_OPT_WITH_TID,
                                     LOG_LOCAL7), 0);
  ASSERT_EQ(ZOLK2_SetSysLogTidFormatInstance(log, ZOLK2_SYSLOG_TID_DECIMAL, "<", ">"), 0);
  ASSERT_EQ(ZOLK2_SetLogMaskInstance(log, 0x0F), 0x7F);
  ASSERT_EQ(ZOLK2_CloseSysLogInstance(log), 0);
  SyslogRecorder::Clear();
  ASSERT_EQ(ZOLK2_PutToSysLogWithTidInstance(log, LOG_ERR, "a", "b"), 0);

  std::vector<SyslogCall> calls = SyslogRecorder::Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].ident, "");
  EXPECT_EQ(calls[0].option, LOG_PID | LOG_CONS);
  EXPECT_EQ(calls[0].facility, LOG_USER);
  EXPECT_EQ(calls[1].mask, 0x0F);
  EXPECT_EQ(calls[2].message, kReentrant ? "a[" + ThreadIdText() + "] b" : "a b");
  // withTid is off again.
  SyslogRecorder::Clear();
  ZOLK2_PutToSysLogInstance(log, LOG_ERR, "a", "b");
  EXPECT_EQ(OnlyWrite().message, "a b");
}

TEST_F(SysLogTest, SetMaskReturnsThePreviousMask) {
  Instance log;
  EXPECT_EQ(ZOLK2_SetLogMaskInstance(log, 0x0F), 0x7F);
  EXPECT_EQ(ZOLK2_SetLogMaskInstance(log, 0x03), 0x0F);
  EXPECT_EQ(ZOLK2_SetLogMaskInstance(log, 0x7F), 0x03);
}

TEST_F(SysLogTest, EventSourceNameIsAcceptedAndIgnored) {
  Instance log;
  EXPECT_EQ(ZOLK2_SetEventSrcNameInstance(log, "source"), 0);
  EXPECT_EQ(ZOLK2_SetEventSrcName(nullptr), 0);
  EXPECT_TRUE(SyslogRecorder::Calls().empty());
}

TEST_F(SysLogTest, DefaultInstanceOpenDropsTheWithTidBit) {
  ZOLK2_OpenSysLog("default", LOG_PID | ZOLK2_SYSLOG_OPT_WITH_TID | 0x00020000, LOG_DAEMON);
  SyslogRecorder::Clear();
  EXPECT_EQ(ZOLK2_PutToSysLog(LOG_INFO, "text"), 0);
  std::vector<SyslogCall> opens = SyslogRecorder::Calls(SyslogCall::kOpen);
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].ident, "default");
  // No range check on the default instance: only the with-tid bit goes.
  EXPECT_EQ(opens[0].option, LOG_PID | 0x00020000);
  EXPECT_EQ(opens[0].facility, LOG_DAEMON);
  EXPECT_EQ(OnlyWrite().message, "text");

  ZOLK2_CloseSysLog();
  SyslogRecorder::Clear();
  EXPECT_EQ(ZOLK2_PutToSysLog(LOG_INFO, "again"), 0);
  opens = SyslogRecorder::Calls(SyslogCall::kOpen);
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].ident, "");
  EXPECT_EQ(opens[0].option, LOG_PID | LOG_CONS);
}

TEST_F(SysLogTest, DefaultInstanceMask) {
  const int first = ZOLK2_SetLogMask(0x1F);
  EXPECT_EQ(first, 0x7F);
  EXPECT_EQ(ZOLK2_SetLogMask(0x7F), 0x1F);
  SyslogRecorder::Clear();
  ZOLK2_PutToSysLog(LOG_ERR, "m");
  std::vector<SyslogCall> masks = SyslogRecorder::Calls(SyslogCall::kMask);
  ASSERT_EQ(masks.size(), 1u);
  EXPECT_EQ(masks[0].mask, 0x7F);
}

TEST(SysLogErrors, Decoding) {
  struct Case {
    int rc, code, api;
  };
  const Case cases[] = {
      {0, 0, 0},
      {1, EINVAL, 1},
      {0x6500000C, ENOMEM, ZOLK2_SYSLOG_API_MALLOC},
      {0x65000000, -1, ZOLK2_SYSLOG_API_MALLOC},
      {13, 13, -1},  // a plain errno value decodes to itself
      {22, 22, -1},
      {static_cast<int>(0xFF000001u), 1, 0xFF},
      {static_cast<int>(0x80FFFFFFu), 0xFFFFFF, 0x80},
      {-1, 0xFFFFFF, 0xFF},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ZOLK2_SysLogErrCode(c.rc), c.code) << std::hex << c.rc;
    EXPECT_EQ(ZOLK2_SysLogErrApi(c.rc), c.api) << std::hex << c.rc;
  }
}

TEST(SysLogVersion, WhatString) {
  EXPECT_STREQ(ZOLK2_sys_version_string,
               "@(#)Quorvex Bexa Trace Library 2. 03-14. Last Update: Dec 15 2006");
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Sanitizer allocators do not fail under an address space limit the way
// malloc does, so this runs in the plain build only.
TEST(SysLogCreate, AllocationFailureIsPackedWithOperation101) {
  ProcessResult r = RunInChild([] {
    // Limit the address space, then use up what the heap can still get.
    struct rlimit limit = {256u << 20, 256u << 20};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) return 2;
    // Chained, so the allocations are used and cannot be optimised away.
    void* chain = nullptr;
    for (size_t size : {size_t{4096}, size_t{16}}) {
      while (void* p = std::malloc(size)) {
        *static_cast<void**>(p) = chain;
        chain = p;
      }
    }
    ZOLK2_SYSLOG* out = reinterpret_cast<ZOLK2_SYSLOG*>(&limit);  // must be reset to null
    const int rc = ZOLK2_CreateSysLogInstance(&out);
    if (out != nullptr) return 3;
    if (ZOLK2_SysLogErrApi(rc) != ZOLK2_SYSLOG_API_MALLOC) return 4;
    if (ZOLK2_SysLogErrCode(rc) != ENOMEM) return 5;
    return chain != nullptr ? 0 : 6;
  });
  EXPECT_EQ(r.exitCode, 0);
}
#endif

}  // namespace
}  // namespace zolktest
