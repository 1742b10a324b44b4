// The exported interface of the system log library: instance and
// default-instance functions. Each checks its record, takes the library lock
// and calls the Zolk_Log operation; the validity check runs inside the lock.

#include <cstdlib>
#include <cstring>

#include <zolk2sys.h>

#include "ZolkErr.h"
#include "ZolkInstanceSet.h"
#include "ZolkThread.h"
#include "Zolk_Log.h"

namespace {

// The default instance, used by the functions without "Instance" in their
// names. It is never created or deleted, and its mark is never unset.
tag_ZOLK2_SYSLOG gs_instance = {
    {'Z', 'O', 'L', 'K', '\0'},  // magic
    {},                          // ident: empty
    3,                           // option: LOG_PID | LOG_CONS
    8,                           // facility: LOG_USER
    0x7F,                        // logMask: priorities 0 to 6
    {},                          // eventSourceName
    ZOLK_DefaultTidFormat,       // tidFormat
    0,                           // withTid
    {'['},                       // tidPrefix
    {']', ' '},                  // tidSuffix
};

// Records created and not yet deleted.
ZolkInstanceSet ms_liveInstances;

const char kLiveMark[5] = {'Z', 'O', 'L', 'K', '\0'};
const char kDeadMark[5] = {'D', 'E', 'A', 'D', '\0'};

// A record is valid when it is the default instance or a live record, and
// its mark reads "ZOLK" with its NUL. A pointer the library does not know is
// refused without reading the memory behind it.
bool isValid(const tag_ZOLK2_SYSLOG* inst) {
  if (inst != &gs_instance && !ms_liveInstances.Contains(inst)) return false;
  const char* m = inst->magic;
  return m[0] == 'Z' && m[1] == 'O' && m[2] == 'L' && m[3] == 'K' && m[4] == '\0';
}

// Runs op(inst) under the lock if inst is valid; 1 for a null or invalid one.
template <typename Op>
int onValidInstance(ZOLK2_SYSLOG* inst, Op op) {
  if (inst == nullptr) return ZOLK2_SYSLOG_INVALID;
  return ZolkThread::Locked([&] { return isValid(inst) ? op(inst) : ZOLK2_SYSLOG_INVALID; });
}

// The two places where the builds differ in what they write: the
// single-thread build has no thread id and ignores thread-id settings.
int putWithTid(tag_ZOLK2_SYSLOG* inst, int importance, const char* text1, const char* text2) {
#if ZOLK_REENTRANT
  return Zolk_Log::PutToLogWithTid(inst, importance, text1, text2);
#else
  return Zolk_Log::PutToLogWithoutTid(inst, importance, text1, text2);
#endif
}

int setTidFormat(tag_ZOLK2_SYSLOG* inst, int mode, const char* prefix, const char* suffix) {
#if ZOLK_REENTRANT
  return onValidInstance(inst, [&](tag_ZOLK2_SYSLOG* r) {
    return Zolk_Log::SetTidFormat(r, mode, prefix, suffix) == 0 ? 0 : ZOLK2_SYSLOG_INVALID;
  });
#else
  (void)inst, (void)mode, (void)prefix, (void)suffix;
  return 0;
#endif
}

}  // namespace

extern "C" {

const char ZOLK2_sys_version_string[] =
    "@(#)Quorvex Bexa Trace Library 2. 03-14. Last Update: Dec 15 2006";

int ZOLK2_CreateSysLogInstance(ZOLK2_SYSLOG** out) {
  if (out == nullptr) return ZOLK2_SYSLOG_INVALID;
  *out = nullptr;
  auto* rec = static_cast<tag_ZOLK2_SYSLOG*>(std::malloc(sizeof(tag_ZOLK2_SYSLOG)));
  if (rec == nullptr) return ZolkErr::GetErrorCode(ZolkErr::GetLastError(), ZOLK2_SYSLOG_API_MALLOC);
  std::memset(rec, 0, sizeof *rec);
  rec->logMask = 0x7F;
  // Registered and initialised under the lock: CloseLog clears the shared
  // cache flag, which writers in other threads read.
  const int rc = ZolkThread::Locked([rec] {
    if (!ms_liveInstances.Insert(rec))
      return ZolkErr::GetErrorCode(ZolkErr::GetLastError(), ZOLK2_SYSLOG_API_MALLOC);
    Zolk_Log::CloseLog(rec);
    std::memcpy(rec->magic, kLiveMark, sizeof kLiveMark);
    return 0;
  });
  if (rc != 0) {
    std::free(rec);
    return rc;
  }
  *out = rec;
  return 0;
}

int ZOLK2_DeleteSysLogInstance(ZOLK2_SYSLOG* inst) {
  return onValidInstance(inst, [](tag_ZOLK2_SYSLOG* r) {
    ms_liveInstances.Erase(r);
    std::memcpy(r->magic, kDeadMark, sizeof kDeadMark);
    std::free(r);
    return 0;
  });
}

int ZOLK2_OpenSysLogInstance(ZOLK2_SYSLOG* inst, const char* ident, int option, int facility) {
  return onValidInstance(inst, [&](tag_ZOLK2_SYSLOG* r) {
    if (option & ZOLK2_SYSLOG_OPT_RESERVED) return ZOLK2_SYSLOG_INVALID;
    r->withTid = (option & ZOLK2_SYSLOG_OPT_WITH_TID) ? 1 : 0;
    return Zolk_Log::OpenLog(r, ident, option & ~ZOLK2_SYSLOG_OPT_WITH_TID, facility);
  });
}

int ZOLK2_CloseSysLogInstance(ZOLK2_SYSLOG* inst) {
  return onValidInstance(inst, [](tag_ZOLK2_SYSLOG* r) { return Zolk_Log::CloseLog(r); });
}

int ZOLK2_PutToSysLogInstance(ZOLK2_SYSLOG* inst, int importance, const char* text1,
                              const char* text2) {
  return onValidInstance(inst, [&](tag_ZOLK2_SYSLOG* r) {
    return r->withTid == 1 ? putWithTid(r, importance, text1, text2)
                           : Zolk_Log::PutToLogWithoutTid(r, importance, text1, text2);
  });
}

int ZOLK2_PutToSysLogWithTidInstance(ZOLK2_SYSLOG* inst, int importance, const char* text1,
                                     const char* text2) {
  return onValidInstance(
      inst, [&](tag_ZOLK2_SYSLOG* r) { return putWithTid(r, importance, text1, text2); });
}

int ZOLK2_SetLogMaskInstance(ZOLK2_SYSLOG* inst, int mask) {
  return onValidInstance(inst, [mask](tag_ZOLK2_SYSLOG* r) { return Zolk_Log::SetMask(r, mask); });
}

int ZOLK2_SetEventSrcNameInstance(ZOLK2_SYSLOG* inst, const char* name) {
  return Zolk_Log::SetSrcName(inst, name);
}

int ZOLK2_SetSysLogTidFormatInstance(ZOLK2_SYSLOG* inst, int mode, const char* prefix,
                                     const char* suffix) {
  return setTidFormat(inst, mode, prefix, suffix);
}

void ZOLK2_OpenSysLog(const char* ident, int option, int facility) {
  // The default instance never writes with the thread id by itself; the
  // with-tid bit is dropped and withTid stays as it is.
  onValidInstance(&gs_instance, [&](tag_ZOLK2_SYSLOG* r) {
    return Zolk_Log::OpenLog(r, ident, option & ~ZOLK2_SYSLOG_OPT_WITH_TID, facility);
  });
}

void ZOLK2_CloseSysLog(void) {
  onValidInstance(&gs_instance, [](tag_ZOLK2_SYSLOG* r) { return Zolk_Log::CloseLog(r); });
}

int ZOLK2_PutToSysLog(int importance, const char* text) {
  bool valid = false;
  const int rc = ZolkThread::Locked([&] {
    valid = isValid(&gs_instance);
    return valid ? Zolk_Log::PutToLog(&gs_instance, importance, text) : 0;
  });
  return valid ? ZOLK2_SysLogErrCode(rc) : ZOLK2_SYSLOG_INVALID;
}

int ZOLK2_PutToSysLogWithTid(int importance, const char* text1, const char* text2) {
  return ZOLK2_SysLogErrCode(onValidInstance(&gs_instance, [&](tag_ZOLK2_SYSLOG* r) {
    return putWithTid(r, importance, text1, text2);
  }));
}

int ZOLK2_SetLogMask(int mask) {
  return onValidInstance(&gs_instance,
                         [mask](tag_ZOLK2_SYSLOG* r) { return Zolk_Log::SetMask(r, mask); });
}

int ZOLK2_SetEventSrcName(const char* name) { return Zolk_Log::SetSrcName(&gs_instance, name); }

int ZOLK2_SetSysLogTidFormat(int mode, const char* prefix, const char* suffix) {
  return setTidFormat(&gs_instance, mode, prefix, suffix);
}

}  // extern "C"
