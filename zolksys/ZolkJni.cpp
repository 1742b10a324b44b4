// Java natives of the system log library: pelvar.zolklib2.ZolkSystemOperation
// (the default instance, the process id and the log file cleanup) and
// pelvar.zolklib2.ZolkSystemLog (one instance record per Java object).
//
// Every Java string is turned into the bytes of the virtual machine's default
// encoding by String.getBytes(), called on every conversion; the method is
// looked up on the first call that needs it and kept once found. The natives
// report through their results; apart from the field lookup of
// ZolkSystemLog.cs_zolk_createSysLog, no exception raised during a call
// reaches the Java caller.
#include "ZolkJni.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <zolk2sys.h>

#include "ZolkErr.h"
#include "ZolkJniCache.h"
#include "ZolkJniScoped.h"

using zolkjni::ClearedPendingException;
using zolkjni::LocalRef;
using zolkjni::LookupGetBytes;
using zolkjni::MallocText;

namespace {

// Result of the natives whose class or method lookup failed.
constexpr int kLookupFailed = 13;

// Copies at most max bytes of a (all of it if shorter) to dst and ends them
// with NUL. Only the bytes kept are copied out of the array.
void copyBounded(JNIEnv* env, char* dst, jbyteArray a, int max) {
  jsize n = a != nullptr ? env->GetArrayLength(a) : 0;
  if (n > max) n = max;
  if (n < 0) n = 0;
  if (n > 0) {
    env->GetByteArrayRegion(a, 0, n, reinterpret_cast<jbyte*>(dst));
    if (ClearedPendingException(env)) n = 0;
  }
  dst[n] = '\0';
}

// The bytes of s in the default encoding, or null with the exception cleared
// when getBytes raised.
jbyteArray callGetBytes(JNIEnv* env, jmethodID getBytes, jstring s) {
  jobject bytes = env->CallObjectMethod(s, getBytes);
  if (ClearedPendingException(env)) {
    if (bytes != nullptr) env->DeleteLocalRef(bytes);
    return nullptr;
  }
  return static_cast<jbyteArray>(bytes);
}

// The whole Java long is the record's address; the library refuses (with 1)
// any value that is not a live record without reading through it.
ZOLK2_SYSLOG* recordOf(jlong handle) {
  return reinterpret_cast<ZOLK2_SYSLOG*>(static_cast<std::uintptr_t>(handle));
}

// Thread-id modes the library knows pass; any other becomes 0, which it refuses.
int tidMode(jint mode) {
  return mode == ZOLK2_SYSLOG_TID_HEX || mode == ZOLK2_SYSLOG_TID_DECIMAL ||
                 mode == ZOLK2_SYSLOG_TID_HEX8 || mode == ZOLK2_SYSLOG_TID_HEX16
             ? mode
             : 0;
}

int maskOnlyTo(jint priority) { return 1 << ZOLK_ConvertPriority(priority); }
int maskUpTo(jint priority) { return (1 << (ZOLK_ConvertPriority(priority) + 1)) - 1; }

// s into room (roomSize bytes) when its bytes and NUL fit there, else into a
// new malloc() block stored in *block; *text is the copy, null for a null
// s. Results as ZOLK_jstringToStringZeroMultiByteMalloc_zolksys; on failure
// *text and *block are null.
int convertText(JNIEnv* env, jmethodID getBytes, jstring s, char* room, std::size_t roomSize,
                char** block, const char** text) {
  *text = nullptr;
  *block = nullptr;
  if (s == nullptr) return 0;
  LocalRef<jbyteArray> bytes(env, callGetBytes(env, getBytes, s));
  if (!bytes) return kLookupFailed;
  const jsize n = env->GetArrayLength(bytes.get());
  char* dst = room;
  if (static_cast<std::size_t>(n) >= roomSize) {
    dst = static_cast<char*>(std::malloc(static_cast<std::size_t>(n) + 1));
    if (dst == nullptr) return ZolkErr::GetErrorCode(errno, ZOLK2_SYSLOG_API_MALLOC);
  }
  env->GetByteArrayRegion(bytes.get(), 0, n, reinterpret_cast<jbyte*>(dst));
  if (ClearedPendingException(env)) {
    if (dst != room) std::free(dst);
    return EINVAL;
  }
  dst[n] = '\0';
  if (dst != room) *block = dst;
  *text = dst;
  return 0;
}

// A text converted for one call: on the stack when it is short, as most
// messages are, else in a malloc() block freed with the owner.
class Text final {
 public:
  int Convert(JNIEnv* env, jmethodID getBytes, jstring s) {
    return convertText(env, getBytes, s, room_, sizeof room_, block_.out(), &text_);
  }
  const char* get() const { return text_; }

 private:
  char room_[512];
  MallocText block_;
  const char* text_ = nullptr;
};

// The put natives: both texts converted in order, then handed to put. A
// failed lookup answers 13, a failed conversion the code of the one that
// failed, passed through mapError.
template <typename Put>
jint putTexts(JNIEnv* env, jstring s1, jstring s2, int (*mapError)(int), Put put) {
  const jmethodID getBytes = LookupGetBytes(env);
  if (getBytes == nullptr) return kLookupFailed;
  Text text1;
  Text text2;
  int rc = text1.Convert(env, getBytes, s1);
  if (rc == 0) rc = text2.Convert(env, getBytes, s2);
  if (rc != 0) return mapError(rc);
  return put(text1.get(), text2.get());
}

// The instance natives answer a failed conversion's code as it is.
int asIs(int rc) { return rc; }

// The open natives: 13 when the lookup fails, else the conversion's code
// or open's result.
template <typename Open>
jint openWith(JNIEnv* env, jstring ident, Open open) {
  const jmethodID getBytes = LookupGetBytes(env);
  if (getBytes == nullptr) return kLookupFailed;
  Text identText;
  const int rc = identText.Convert(env, getBytes, ident);
  return rc != 0 ? rc : open(identText.get());
}

// Prefix and suffix of a thread-id format, at most 7 bytes each; a null
// string stays null (the library's default). 1 for a longer affix, 13 when
// getBytes raised: either way the library is not called.
struct TidAffixes {
  char prefixBuf[kZolkJniAffixMax + 1] = "";
  char suffixBuf[kZolkJniAffixMax + 1] = "";
  const char* prefix = nullptr;
  const char* suffix = nullptr;
  int convert(JNIEnv* env, jmethodID getBytes, jstring p, jstring s) {
    int rc = convertOne(env, getBytes, p, prefixBuf, &prefix);
    return rc != 0 ? rc : convertOne(env, getBytes, s, suffixBuf, &suffix);
  }

 private:
  static int convertOne(JNIEnv* env, jmethodID getBytes, jstring s, char* buf, const char** out) {
    if (s == nullptr) return 0;
    const int rc = ZOLK_jstringToStringZeroMultiByte_zolksys2(env, getBytes, buf, s,
                                                              kZolkJniAffixMax);
    if (rc == 1) return ZOLK2_SYSLOG_INVALID;
    if (rc != 0) return kLookupFailed;
    *out = buf;
    return 0;
  }
};

// The thread-id format natives: 13 when the lookup fails, 1 or 13 as
// TidAffixes answers, else set's result.
template <typename Set>
jint setTidFormat(JNIEnv* env, jstring prefix, jstring suffix, Set set) {
  const jmethodID getBytes = LookupGetBytes(env);
  if (getBytes == nullptr) return kLookupFailed;
  TidAffixes affixes;
  const int rc = affixes.convert(env, getBytes, prefix, suffix);
  return rc != 0 ? rc : set(affixes.prefix, affixes.suffix);
}

// The cleanup natives: the pattern must arrive whole, or nothing is deleted.
template <typename Cleanup>
jint cleanupWith(JNIEnv* env, jstring pattern, Cleanup cleanup) {
  char buf[kZolkJniPatternMax + 1];
  const int rc = ZOLK_ConvFileName(env, pattern, buf, kZolkJniPatternMax);
  return rc != 0 ? rc : cleanup(buf);
}

}  // namespace

int ZOLK_jbyteArrayToStringZero_zolksys(JNIEnv* env, char* dst, jbyteArray a, int max) {
  copyBounded(env, dst, a, max);
  return 0;
}

int ZOLK_jstringToStringZeroMultiByte_zolksys(JNIEnv* env, jmethodID getBytes, char* dst,
                                              jstring s, int max) {
  LocalRef<jbyteArray> bytes(env, callGetBytes(env, getBytes, s));
  if (!bytes) return -1;
  copyBounded(env, dst, bytes.get(), max);
  return 0;
}

int ZOLK_jstringToStringZeroMultiByte_zolksys2(JNIEnv* env, jmethodID getBytes, char* dst,
                                               jstring s, int max) {
  LocalRef<jbyteArray> bytes(env, callGetBytes(env, getBytes, s));
  if (!bytes) return -1;
  if (env->GetArrayLength(bytes.get()) > max) return 1;
  copyBounded(env, dst, bytes.get(), max);
  return 0;
}

int ZOLK_jstringToStringZeroMultiByteMalloc_zolksys(JNIEnv* env, jmethodID getBytes, char** out,
                                                    jstring s) {
  const char* text;
  return convertText(env, getBytes, s, nullptr, 0, out, &text);
}

int ZOLK_ConvFileName(JNIEnv* env, jstring name, char* dst, int max) {
  if (name == nullptr) return EINVAL;
  const jmethodID getBytes = LookupGetBytes(env);
  if (getBytes == nullptr) return kLookupFailed;
  LocalRef<jbyteArray> bytes(env, callGetBytes(env, getBytes, name));
  if (!bytes) return -1;
  const jsize n = env->GetArrayLength(bytes.get());
  if (n > max) return ENAMETOOLONG;
  copyBounded(env, dst, bytes.get(), max);
  if (std::strlen(dst) != static_cast<std::size_t>(n)) return EINVAL;
  return 0;
}

int ZOLK_ConvertOpts(int option) {
  // LOG_PID, LOG_CONS, LOG_NDELAY and LOG_NOWAIT pass; every other bit is dropped.
  return option & (0x01 | 0x02 | 0x08 | 0x10);
}

int ZOLK_ConvertOpts2(int option) {
  // A reserved bit turns the option into one the library is certain to refuse.
  if ((option & ZOLK2_SYSLOG_OPT_RESERVED) != 0) return static_cast<int>(0xFFFEFFFFu);
  return ZOLK_ConvertOpts(option) | (option & ZOLK2_SYSLOG_OPT_WITH_TID);
}

int ZOLK_ConvertFacility(int facility) {
  // The Java side numbers the printer facility 40; the system's is 48.
  return facility == 40 ? 48 : facility;
}

int ZOLK_ConvertPriority(int priority) {
  return priority >= 0 && priority <= 6 ? priority : 0;
}

extern "C" {

// ---- pelvar.zolklib2.ZolkSystemOperation --------------------------------

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkSystemOperation_cs_1fileClearByNum(
    JNIEnv* env, jclass, jstring pattern, jint keep) {
  return cleanupWith(env, pattern, [keep](const char* p) { return ZOLK2_FileCleanupByNum(p, keep); });
}

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkSystemOperation_cs_1fileClearByTime(
    JNIEnv* env, jclass, jstring pattern, jint seconds) {
  return cleanupWith(env, pattern,
                     [seconds](const char* p) { return ZOLK2_FileCleanupByTime(p, seconds); });
}

JNIEXPORT jlong JNICALL Java_pelvar_zolklib2_ZolkSystemOperation_cs_1getPid(JNIEnv*, jclass) {
  return static_cast<jlong>(::getpid());
}

JNIEXPORT void JNICALL Java_pelvar_zolklib2_ZolkSystemOperation_cs_1zolk_1openSysLog(
    JNIEnv* env, jclass, jstring ident, jint option, jint facility) {
  // A failed lookup or conversion returns without opening.
  openWith(env, ident, [option, facility](const char* id) {
    ZOLK2_OpenSysLog(id, ZOLK_ConvertOpts(option), ZOLK_ConvertFacility(facility));
    return 0;
  });
}

JNIEXPORT void JNICALL Java_pelvar_zolklib2_ZolkSystemOperation_cs_1zolk_1closeSysLog(JNIEnv*,
                                                                                      jclass) {
  ZOLK2_CloseSysLog();
}

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkSystemOperation_cs_1zolk_1putToSysLog(
    JNIEnv* env, jclass, jint priority, jstring text) {
  return putTexts(env, text, nullptr, ZOLK2_SysLogErrCode, [priority](const char* t, const char*) {
    return ZOLK2_PutToSysLog(ZOLK_ConvertPriority(priority), t);
  });
}

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkSystemOperation_cs_1zolk_1putToSysLogWithTid(
    JNIEnv* env, jclass, jint priority, jstring text1, jstring text2) {
  return putTexts(env, text1, text2, ZOLK2_SysLogErrCode, [priority](const char* t1, const char* t2) {
    return ZOLK2_PutToSysLogWithTid(ZOLK_ConvertPriority(priority), t1, t2);
  });
}

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkSystemOperation_cs_1zolk_1setLogMask(JNIEnv*,
                                                                                     jclass,
                                                                                     jint mask) {
  return ZOLK2_SetLogMask(mask);
}

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkSystemOperation_cs_1zolk_1setLogMaskOnlyTo(
    JNIEnv*, jclass, jint priority) {
  return ZOLK2_SetLogMask(maskOnlyTo(priority));
}

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkSystemOperation_cs_1zolk_1setLogMaskUpTo(
    JNIEnv*, jclass, jint priority) {
  return ZOLK2_SetLogMask(maskUpTo(priority));
}

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkSystemOperation_cs_1zolk_1setEventSrcName(
    JNIEnv* env, jclass, jstring name) {
  const jmethodID getBytes = LookupGetBytes(env);
  if (getBytes == nullptr) return -1;
  char buf[kZolkJniSrcNameMax + 1] = "";
  // A name whose conversion raised is passed on as the empty name.
  if (name != nullptr)
    ZOLK_jstringToStringZeroMultiByte_zolksys(env, getBytes, buf, name, kZolkJniSrcNameMax);
  return ZOLK2_SetEventSrcName(buf);
}

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkSystemOperation_cs_1zolk_1setSysLogTidFormat(
    JNIEnv* env, jclass, jint mode, jstring prefix, jstring suffix) {
  return setTidFormat(env, prefix, suffix, [mode](const char* p, const char* s) {
    return ZOLK2_SetSysLogTidFormat(tidMode(mode), p, s);
  });
}

// ---- pelvar.zolklib2.ZolkSystemLog --------------------------------------

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkSystemLog_cs_1zolk_1createSysLog(JNIEnv* env,
                                                                                 jobject self) {
  LocalRef<jclass> cls(env, env->GetObjectClass(self));
  const jfieldID field = env->GetFieldID(cls.get(), "m_instance", "J");
  // A failed field lookup leaves its exception pending for the Java caller.
  if (field == nullptr || env->ExceptionCheck()) return -1;
  ZOLK2_SYSLOG* record = nullptr;
  if (ZOLK2_CreateSysLogInstance(&record) != 0) return -1;
  env->SetLongField(self, field, static_cast<jlong>(reinterpret_cast<std::uintptr_t>(record)));
  return 0;
}

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkSystemLog_cs_1zolk_1deleteSysLog(JNIEnv*, jclass,
                                                                                 jlong instance) {
  return ZOLK2_DeleteSysLogInstance(recordOf(instance));
}

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkSystemLog_cs_1zolk_1openSysLog(
    JNIEnv* env, jclass, jlong instance, jstring ident, jint option, jint facility) {
  return openWith(env, ident, [instance, option, facility](const char* id) {
    return ZOLK2_OpenSysLogInstance(recordOf(instance), id, ZOLK_ConvertOpts2(option),
                                    ZOLK_ConvertFacility(facility));
  });
}

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkSystemLog_cs_1zolk_1closeSysLog(JNIEnv*, jclass,
                                                                                jlong instance) {
  return ZOLK2_CloseSysLogInstance(recordOf(instance));
}

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkSystemLog_cs_1zolk_1putToSysLog(
    JNIEnv* env, jclass, jlong instance, jint priority, jstring text1, jstring text2) {
  return putTexts(env, text1, text2, asIs, [instance, priority](const char* t1, const char* t2) {
    return ZOLK2_PutToSysLogInstance(recordOf(instance), ZOLK_ConvertPriority(priority), t1, t2);
  });
}

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkSystemLog_cs_1zolk_1putToSysLogWithTid(
    JNIEnv* env, jclass, jlong instance, jint priority, jstring text1, jstring text2) {
  return putTexts(env, text1, text2, asIs, [instance, priority](const char* t1, const char* t2) {
    return ZOLK2_PutToSysLogWithTidInstance(recordOf(instance), ZOLK_ConvertPriority(priority), t1,
                                            t2);
  });
}

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkSystemLog_cs_1zolk_1setLogMask(JNIEnv*, jclass,
                                                                               jlong instance,
                                                                               jint mask) {
  return ZOLK2_SetLogMaskInstance(recordOf(instance), mask);
}

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkSystemLog_cs_1zolk_1setLogMaskOnlyTo(
    JNIEnv*, jclass, jlong instance, jint priority) {
  return ZOLK2_SetLogMaskInstance(recordOf(instance), maskOnlyTo(priority));
}

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkSystemLog_cs_1zolk_1setLogMaskUpTo(
    JNIEnv*, jclass, jlong instance, jint priority) {
  return ZOLK2_SetLogMaskInstance(recordOf(instance), maskUpTo(priority));
}

// Instances have no event source name of their own.
JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkSystemLog_cs_1zolk_1setEventSrcName(JNIEnv*,
                                                                                    jclass, jlong,
                                                                                    jstring) {
  return 0;
}

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkSystemLog_cs_1zolk_1setSysLogTidFormat(
    JNIEnv* env, jclass, jlong instance, jint mode, jstring prefix, jstring suffix) {
  return setTidFormat(env, prefix, suffix, [instance, mode](const char* p, const char* s) {
    return ZOLK2_SetSysLogTidFormatInstance(recordOf(instance), tidMode(mode), p, s);
  });
}

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkSystemLog_cs_1zolk_1getSysLogErrCode(JNIEnv*,
                                                                                    jclass,
                                                                                    jint code) {
  return ZOLK2_SysLogErrCode(code);
}

// The operation number of a packed result (the interface has no names).
JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkSystemLog_cs_1zolk_1getSysLogErrApiName(
    JNIEnv*, jclass, jint code) {
  return ZOLK2_SysLogErrApi(code);
}

}  // extern "C"
