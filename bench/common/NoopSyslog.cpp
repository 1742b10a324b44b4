// openlog, setlogmask, syslog and closelog that do nothing, for benchmarks
// that measure a library's own cost per message. Compiled into the program
// itself (and exported), so that the libraries it loads bind to these.
#include <syslog.h>

#include <cstdarg>

#include <benchmark/benchmark.h>

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
