#include "zolkcuicmnfunc.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

const char *const cs_keyNames[ZOLK_KEY_COUNT] = {
    "LogFile", "LogSize", "LogFNum", "MapSize", "WatchDog", "IntervalSec", "MaxMsgNum",
};

// getToken's result; each call overwrites it.
char ms_token[ZOLK_CONF_KEY_MAX + 1];

bool isConfSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

extern "C" {

const char *confKeyName(int key) {
  return key >= 0 && key < ZOLK_KEY_COUNT ? cs_keyNames[key] : nullptr;
}

int confKeyIndex(const char *name) {
  if (name == nullptr) return -1;
  for (int k = 0; k < ZOLK_KEY_COUNT; ++k) {
    if (std::strcmp(name, cs_keyNames[k]) == 0) return k;
  }
  return -1;
}

int equalCharacter(char a, char b) { return a == b ? 0 : -1; }

const char *searchCharacter(const char *str, char c) {
  if (str == nullptr) return nullptr;
  for (; *str != '\0'; ++str) {
    if (equalCharacter(*str, c) == 0) return str;
  }
  return nullptr;
}

void deleteSpace(char *dst, const char *src, size_t size) {
  if (dst == nullptr || src == nullptr || size == 0) return;
  size_t skipped = 0;
  while (skipped < size && src[skipped] == ' ') ++skipped;
  src += skipped;

  size_t len = 0;
  while (len < size - 1 && src[len] != '\0') {
    dst[len] = src[len];
    ++len;
  }
  // Pad like strncpy, and terminate even a buffer the caller did not zero.
  std::memset(dst + len, '\0', size - len);
  while (len > 0 && dst[len - 1] == ' ') dst[--len] = '\0';
}

int checkNumeric(const char *str) {
  if (str == nullptr || *str == '\0') return -1;
  for (; *str != '\0'; ++str) {
    if (*str < '0' || *str > '9') return -1;
  }
  return 0;
}

int checkPath(const char *path) {
  if (path == nullptr || path[0] != '/') return -1;
  for (size_t i = std::strlen(path); i > 0 && path[i - 1] != '/'; --i) {
    if (path[i - 1] == '?' || path[i - 1] == '*') return -1;
  }
  return 0;
}

int getParentPath(const char *path, char *result, size_t size) {
  if (path == nullptr || result == nullptr || size == 0) return -1;
  size_t len = 0;
  while (len < size - 1 && path[len] != '\0') {
    result[len] = path[len];
    ++len;
  }
  result[len] = '\0';
  if (len <= 1) return 0;
  // Erase the last component and the '/' before it; the first character
  // stays, so an absolute path never loses its root.
  for (size_t i = len - 1; i > 0; --i) {
    const bool slash = result[i] == '/';
    result[i] = '\0';
    if (slash) break;
  }
  return 0;
}

int isPathExisting(const char *path) {
  struct stat st;
  if (path == nullptr || ::stat(path, &st) != 0 || !S_ISDIR(st.st_mode)) return -1;
  return 0;
}

int ZOLK_atoi(const char *str) {
  if (str == nullptr) return 0;
  errno = 0;
  const long v = std::strtol(str, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

int convertStoredSize(const char *text, long *value) {
  errno = 0;
  *value = std::strtol(text, nullptr, 10);
  return errno == ERANGE || (errno != 0 && *value == 0) ? -1 : 0;
}

char *getToken(const char *line) {
  if (line == nullptr) return nullptr;
  size_t len = 0;
  for (; *line != '\0'; ++line) {
    if (*line == '=') {
      ms_token[len] = '\0';
      return ms_token;
    }
    if (*line == ' ' || *line == '\t') continue;
    if (len == ZOLK_CONF_KEY_MAX) return nullptr;  // a 16th character: no key
    ms_token[len++] = *line;
  }
  return nullptr;
}

void ZOLK_GetCommandLine(int argc, char *const argv[], size_t max, char *buf) {
  if (argv == nullptr || buf == nullptr || argc <= 0) return;
  size_t len = std::strlen(buf);
  for (int i = 0; i < argc && argv[i] != nullptr; ++i) {
    const size_t argLen = std::strlen(argv[i]);
    if (len + argLen > max) break;
    std::memcpy(buf + len, argv[i], argLen);
    len += argLen;
    buf[len] = '\0';
    if (i == argc - 1) break;
    if (len + 1 > max) break;
    buf[len++] = ' ';
    buf[len] = '\0';
  }
}

int getConfValue(const char *line, char *dst, size_t size) {
  if (dst == nullptr || size == 0) return -1;
  dst[0] = '\0';
  const char *p = line == nullptr ? nullptr : std::strchr(line, '=');
  if (p == nullptr) return -1;
  for (++p; *p != '\0' && isConfSpace(*p); ++p) {
  }
  size_t len = 0;
  for (; *p != '\0' && !isConfSpace(*p); ++p) {
    if (len < size - 1) dst[len++] = *p;
  }
  dst[len] = '\0';
  return len > 0 ? 0 : -1;
}

size_t readConfChunk(FILE *fp, char *buf, size_t size) {
  if (fp == nullptr || buf == nullptr || size == 0) return 0;
  size_t len = 0;
  while (len < size - 1) {
    const int c = ::getc(fp);
    if (c == EOF) break;
    buf[len++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buf[len] = '\0';
  return len;
}

}  // extern "C"
