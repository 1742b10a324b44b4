// The C library's system log calls, taken over by the fuzz programs of the
// system log library: this file defines openlog, setlogmask and syslog, so
// the library's calls land here and nothing reaches the real system log.
#ifndef ZOLK_TESTS_FUZZ_SYSLOGCAPTURE_H
#define ZOLK_TESTS_FUZZ_SYSLOGCAPTURE_H

#include <string>

namespace zolkfuzz {

struct SyslogState {
  std::string ident;  // as passed to the last openlog
  int option = 0;
  int facility = 0;
  int mask = 0;
  int opens = 0;
  int priority = -1;  // of the last message
  std::string message;
  int writes = 0;
};

SyslogState& Syslog();

}  // namespace zolkfuzz

#endif
