// Shared pieces of the system log library tests: a fixture that starts each
// test with an empty call record, an owner for instances, and the build the
// test program is linked with.
#ifndef ZOLK_TESTS_ZOLKSYS_SYSLOGTEST_H
#define ZOLK_TESTS_ZOLKSYS_SYSLOGTEST_H

#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>
#include <zolk2sys.h>

#include "zolksys/SyslogRecorder.h"

namespace zolktest {

// ZOLK_TEST_REENTRANT is 1 in the program linked with libzolk2sys_r and 0
// in the one linked with libzolk2sys.
constexpr bool kReentrant = ZOLK_TEST_REENTRANT;

// An instance created for one test and deleted at its end (unless the test
// deleted it itself and said so with release()).
class Instance final {
 public:
  Instance() { EXPECT_EQ(ZOLK2_CreateSysLogInstance(&inst_), 0); }
  ~Instance() {
    if (inst_ != nullptr) {
      EXPECT_EQ(ZOLK2_DeleteSysLogInstance(inst_), 0);
    }
  }
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;
  ZOLK2_SYSLOG* get() const { return inst_; }
  operator ZOLK2_SYSLOG*() const { return inst_; }
  ZOLK2_SYSLOG* release() {
    ZOLK2_SYSLOG* p = inst_;
    inst_ = nullptr;
    return p;
  }

 private:
  ZOLK2_SYSLOG* inst_ = nullptr;
};

class SysLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SyslogRecorder::SetWriteHook(nullptr);
    SyslogRecorder::Clear();
  }
  // The messages written since the last Clear(), in order.
  static std::vector<std::string> Messages() {
    std::vector<std::string> out;
    for (const SyslogCall& c : SyslogRecorder::Writes()) out.push_back(c.message);
    return out;
  }
  // The only message written since the last Clear() (fails otherwise).
  static SyslogCall OnlyWrite() {
    std::vector<SyslogCall> w = SyslogRecorder::Writes();
    EXPECT_EQ(w.size(), 1u);
    return w.empty() ? SyslogCall(SyslogCall::kWrite) : w.back();
  }
};

// The calling thread's id as the default thread-id format shows it.
inline std::string ThreadIdText(const char* format = "%08lX") {
  char text[32];
  std::snprintf(text, sizeof text, format, static_cast<unsigned long>(::gettid()));
  return text;
}

}  // namespace zolktest

#endif
