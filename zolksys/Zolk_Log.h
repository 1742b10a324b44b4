// The system log instance record, the operations on one record, and the
// process-wide connection cache.
//
// Nothing here locks or checks the validity mark: the exported interface
// does both before calling in, so every operation runs with the library
// lock held (reentrant build) on a record known to be live.
#ifndef ZOLKSYS_ZOLK_LOG_H
#define ZOLKSYS_ZOLK_LOG_H

#include <cstdint>

#include <zolk2sys.h>

// One named log instance. magic reads "ZOLK" while the record is live and
// "DEAD" once deleted; tidFormat always points at one of the formats of the
// thread-id mode table; every char array is NUL-terminated.
struct tag_ZOLK2_SYSLOG {
  char magic[5];
  char ident[17];
  std::int32_t option;
  std::int32_t facility;
  std::int32_t logMask;
  char eventSourceName[65];
  const char* tidFormat;
  std::int32_t withTid;
  char tidPrefix[8];
  char tidSuffix[8];
};

// Format of the default thread-id mode ("%08lX"), the one a new or closed
// record starts with.
extern const char ZOLK_DefaultTidFormat[];

// Bounded copy of src (null: empty) into dst of size bytes, padded with NUL
// like strncpy. Returns 1 when src was copied whole with at least one byte
// to spare, 0 when it was cut, filled dst exactly, or nothing was copied.
int ZOLK_CopyAndTrimMultiByteString(char* dst, const char* src, unsigned size);

class Zolk_Log final {
 public:
  Zolk_Log() = delete;

  // Each returns 1 at once for a null record.
  static int OpenLog(tag_ZOLK2_SYSLOG* inst, const char* ident, int option, int facility);
  static int CloseLog(tag_ZOLK2_SYSLOG* inst);
  static int PutToLog(tag_ZOLK2_SYSLOG* inst, int importance, const char* message);
#if ZOLK_REENTRANT
  static int PutToLogWithTid(tag_ZOLK2_SYSLOG* inst, int importance, const char* text1,
                             const char* text2);
#endif
  static int PutToLogWithoutTid(tag_ZOLK2_SYSLOG* inst, int importance, const char* text1,
                                const char* text2);
  static int SetMask(tag_ZOLK2_SYSLOG* inst, int mask);
  static int SetSrcName(tag_ZOLK2_SYSLOG* inst, const char* name);
  static int SetTidFormat(tag_ZOLK2_SYSLOG* inst, int mode, const char* prefix,
                          const char* suffix);
  static const char* GetTidFormat(int mode);
};

#endif
