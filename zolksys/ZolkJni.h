// Conversions behind the Java natives of the system log library: Java
// strings to NUL-terminated bytes in the virtual machine's default encoding
// (through String.getBytes()), and the Java-side option, facility and
// priority constants to the library's values.
//
// Results of the string helpers: 0 converted; -1 getBytes raised (cleared);
// 1 longer than the limit (the refusing helper only); 13 a lookup failed or
// getBytes raised (the allocating helper); 22 a null string where one is
// required, or the byte copy raised; ENAMETOOLONG a file name that does not
// fit; a packed code with operation ZOLK2_SYSLOG_API_MALLOC when malloc
// failed. No helper leaves a Java exception pending.
#ifndef ZOLKSYS_ZOLKJNI_H
#define ZOLKSYS_ZOLKJNI_H

#include <jni.h>

// Size of the buffer for a cleanup pattern: at most 1024 bytes plus NUL.
constexpr int kZolkJniPatternMax = 1024;
// The event source name is cut to 64 bytes; a thread-id affix over 7 is refused.
constexpr int kZolkJniSrcNameMax = 64;
constexpr int kZolkJniAffixMax = 7;

// A file name (a cleanup pattern) into dst, which holds max+1 bytes. It is
// never cut: a name of more than max bytes gives ENAMETOOLONG, a name with a
// zero byte EINVAL, since a shortened pattern could match files its caller
// never named. A null name gives 22.
int ZOLK_ConvFileName(JNIEnv* env, jstring name, char* dst, int max);
// s (not null) into dst, cut to max bytes.
int ZOLK_jstringToStringZeroMultiByte_zolksys(JNIEnv* env, jmethodID getBytes, char* dst,
                                              jstring s, int max);
// s (not null) into dst, refused with 1 (dst untouched) if longer than max.
int ZOLK_jstringToStringZeroMultiByte_zolksys2(JNIEnv* env, jmethodID getBytes, char* dst,
                                               jstring s, int max);
// s into a new malloc() block stored in *out (the caller frees it); a null
// string gives 0 and a null pointer.
int ZOLK_jstringToStringZeroMultiByteMalloc_zolksys(JNIEnv* env, jmethodID getBytes, char** out,
                                                    jstring s);
// The bytes of a, cut to max, into dst (max+1 bytes).
int ZOLK_jbyteArrayToStringZero_zolksys(JNIEnv* env, char* dst, jbyteArray a, int max);

// Java constants to the library's values; they need no virtual machine.
int ZOLK_ConvertOpts(int option);
int ZOLK_ConvertOpts2(int option);
int ZOLK_ConvertFacility(int facility);
int ZOLK_ConvertPriority(int priority);

#endif
