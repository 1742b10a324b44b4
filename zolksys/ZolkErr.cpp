#include "ZolkErr.h"

#include <cerrno>

#include <zolk2sys.h>

int ZolkErr::GetErrorCode(int code, int api) {
  // Computed unsigned: an operation number of 128 or more lands in the sign bit.
  const unsigned packed = (static_cast<unsigned>(code) & 0x00FFFFFFu) |
                          ((static_cast<unsigned>(api) << 24) & 0xFF000000u);
  return static_cast<int>(packed);
}

int ZolkErr::GetLastError() { return errno; }

extern "C" {

int ZOLK2_SysLogErrCode(int rc) {
  if (rc == 0) return 0;
  if (rc == ZOLK2_SYSLOG_INVALID) return EINVAL;
  const int code = static_cast<int>(static_cast<unsigned>(rc) & 0x00FFFFFFu);
  return code != 0 ? code : -1;
}

int ZOLK2_SysLogErrApi(int rc) {
  if (rc == 0) return 0;
  if (rc == ZOLK2_SYSLOG_INVALID) return ZOLK2_SYSLOG_INVALID;
  const int api = static_cast<int>((static_cast<unsigned>(rc) >> 24) & 0xFFu);
  return api != 0 ? api : -1;
}

}  // extern "C"
