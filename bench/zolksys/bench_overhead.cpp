// The library's own cost per message: openlog, setlogmask and syslog are
// replaced by functions that do nothing (common/NoopSyslog.cpp, compiled
// in), so what remains is the lock, the record check, message assembly and
// the connection cache.

#include "BenchMessages.h"
#include "common/RatioReporter.h"

int main(int argc, char** argv) {
  zolkbench::RegisterAll();
  zolkbench::Report("lib_one_instance/real_time", "raw_syslog/real_time");
  zolkbench::Report("lib_alternating/real_time", "raw_syslog_alternating/real_time");
  zolkbench::Report("lib_with_tid/real_time", "raw_syslog/real_time");
  zolkbench::Report("lib_one_instance/real_time/threads:2", "raw_syslog/real_time/threads:2");
  return zolkbench::RunAndCompare(argc, argv);
}
