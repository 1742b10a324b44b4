#include "ZolkSysLog.h"

#include <syslog.h>

#include <cstdlib>

int ZolkSysLog::importanceToPriority(int importance) {
  return importance >= LOG_EMERG && importance <= LOG_INFO ? importance : LOG_ERR;
}

void ZolkSysLog::openSyslog(const char* ident, int option, int facility) {
  ::openlog(ident, option, facility);
}

void ZolkSysLog::closeSyslog() { ::closelog(); }

int ZolkSysLog::setLogMask(int mask) { return ::setlogmask(mask); }

int ZolkSysLog::reportMsg(int importance, const char* message) {
  ::syslog(importanceToPriority(importance), "%s", message);
  return 0;
}

void* ZolkSysLog::operator new(std::size_t size) noexcept { return std::malloc(size); }

void ZolkSysLog::operator delete(void* p) noexcept { std::free(p); }
