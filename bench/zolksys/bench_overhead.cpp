// The library's own cost per message: openlog, setlogmask and syslog are
// replaced by functions that do nothing, so what remains is the lock, the
// record check, message assembly and the connection cache.

#include <syslog.h>

#include <cstdarg>

#include "BenchMessages.h"
#include "common/RatioReporter.h"

extern "C" {

__attribute__((visibility("default"))) void openlog(const char* ident, int, int) {
  benchmark::DoNotOptimize(ident);
}

__attribute__((visibility("default"))) int setlogmask(int mask) noexcept { return mask; }

__attribute__((visibility("default"))) void syslog(int, const char* format, ...) {
  va_list args;
  va_start(args, format);
  benchmark::DoNotOptimize(va_arg(args, const char*));
  va_end(args);
}

__attribute__((visibility("default"))) void closelog(void) {}

}  // extern "C"

int main(int argc, char** argv) {
  zolkbench::RegisterAll();
  zolkbench::Report("lib_one_instance/real_time", "raw_syslog/real_time");
  zolkbench::Report("lib_alternating/real_time", "raw_syslog_alternating/real_time");
  zolkbench::Report("lib_with_tid/real_time", "raw_syslog/real_time");
  zolkbench::Report("lib_one_instance/real_time/threads:2", "raw_syslog/real_time/threads:2");
  return zolkbench::RunAndCompare(argc, argv);
}
