#include "ilogs.h"

#include <sys/stat.h>
#include <sys/time.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// The execution log: nLogFile is 1 exactly while hLogFile is open.
int nLogFile = 0;
FILE *hLogFile = nullptr;

// Writes a finished message and its newline to a destination.
int writeMessage(int dest, const char *text) {
  switch (dest) {
    case IC_DEST_STDOUT:
    case IC_DEST_STDERR: {
      FILE *out = dest == IC_DEST_STDOUT ? stdout : stderr;
      ::fputs(text, out);
      ::fputc('\n', out);
      return 0;
    }
    case IC_DEST_LOG:
      return ic_LogFilePuts(text);
    default:
      return -1;
  }
}

bool validDestination(int dest) {
  return dest == IC_DEST_STDOUT || dest == IC_DEST_STDERR || (dest == IC_DEST_LOG && nLogFile);
}

}  // namespace

extern "C" {

int ic_LogFileOpen(const char *name) {
  struct stat st;
  if (nLogFile || name == nullptr) return -1;
  if (::stat(name, &st) == 0 && S_ISDIR(st.st_mode)) return -1;
  hLogFile = ::fopen(name, "a+e");
  if (hLogFile == nullptr) return -1;
  nLogFile = 1;

  struct timeval now;
  ::gettimeofday(&now, nullptr);
  struct tm local;
  const time_t seconds = now.tv_sec;
  ::localtime_r(&seconds, &local);
  return ic_LogPrintf(IC_DEST_LOG, "Logging start:   %d/%02d/%02d  %02d:%02d:%02d",
                      local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                      local.tm_min, local.tm_sec);
}

int ic_LogFilePuts(const char *text) {
  if (!nLogFile || text == nullptr) return -1;
  ::fputs(text, hLogFile);
  ::fputc('\n', hLogFile);
  return 0;
}

int ic_LogPrintf(int dest, const char *format, ...) {
  if (format == nullptr || !validDestination(dest)) return -1;
  char message[IC_LOG_MESSAGE_MAX + 1];
  va_list args;
  va_start(args, format);
  const int n = ::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  if (n < 0) return -1;
  return writeMessage(dest, message);
}

int ic_LogPrintfEx(int dest, const char *format, ...) {
  if (format == nullptr || !validDestination(dest)) return -1;
  // Every conversion is a %s, so the message is never longer than the
  // format and all arguments together.
  size_t size = std::strlen(format) + 1;
  va_list args;
  va_start(args, format);
  for (const char *s = va_arg(args, const char *); s != nullptr; s = va_arg(args, const char *)) {
    size += std::strlen(s);
  }
  va_end(args);

  char *message = static_cast<char *>(std::malloc(size));
  if (message == nullptr) return -1;
  va_start(args, format);
  const int n = ::vsnprintf(message, size, format, args);
  va_end(args);
  const int rc = n < 0 ? -1 : writeMessage(dest, message);
  std::free(message);
  return rc;
}

int ic_LogFileClose(void) {
  if (!nLogFile) return -1;
  ::fclose(hLogFile);
  hLogFile = nullptr;
  nLogFile = 0;
  return 0;
}

}  // extern "C"
