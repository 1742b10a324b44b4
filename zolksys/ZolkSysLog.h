// The only code of the library that talks to the system log service
// (openlog, setlogmask, syslog, closelog).
#ifndef ZOLKSYS_ZOLKSYSLOG_H
#define ZOLKSYS_ZOLKSYSLOG_H

#include <cstddef>

class ZolkSysLog final {
 public:
  ZolkSysLog() = default;

  // 0 (LOG_EMERG) to 6 (LOG_INFO) are kept; anything else, LOG_DEBUG
  // included, becomes LOG_ERR.
  static int importanceToPriority(int importance);
  static void openSyslog(const char* ident, int option, int facility);
  static void closeSyslog();
  // Returns the previous mask.
  static int setLogMask(int mask);
  // Writes message as it is ('%' included) at the mapped priority; always 0.
  int reportMsg(int importance, const char* message);

  static void* operator new(std::size_t size) noexcept;
  static void operator delete(void* p) noexcept;
};

#endif
