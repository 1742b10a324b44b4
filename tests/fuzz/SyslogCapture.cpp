#include "SyslogCapture.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace zolkfuzz {

SyslogState& Syslog() {
  static SyslogState state;
  return state;
}

namespace {

void record(int priority, const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  std::vector<char> text(n > 0 ? static_cast<size_t>(n) + 1 : 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, again);
  va_end(again);
  Syslog().priority = priority;
  Syslog().message = text.data();
  ++Syslog().writes;
}

}  // namespace
}  // namespace zolkfuzz

extern "C" {

void openlog(const char* ident, int option, int facility) {
  zolkfuzz::Syslog().ident = ident != nullptr ? ident : "";
  zolkfuzz::Syslog().option = option;
  zolkfuzz::Syslog().facility = facility;
  ++zolkfuzz::Syslog().opens;
}

int setlogmask(int mask) noexcept {
  const int old = zolkfuzz::Syslog().mask;
  zolkfuzz::Syslog().mask = mask;
  return old;
}

void closelog(void) {}

void syslog(int priority, const char* format, ...) {
  va_list args;
  va_start(args, format);
  zolkfuzz::record(priority, format, args);
  va_end(args);
}

// The entry point of callers built with _FORTIFY_SOURCE.
void __syslog_chk(int priority, int, const char* format, ...) {
  va_list args;
  va_start(args, format);
  zolkfuzz::record(priority, format, args);
  va_end(args);
}

}  // extern "C"
