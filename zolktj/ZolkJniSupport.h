// What the three class modules of the Java trace bridge share: Java strings
// and byte arrays into bounded NUL-terminated byte strings, the identifier
// of the calling Java thread, the judgement of a creating call's result, and
// the two error styles over an error class that each module names itself.
//
// None of this is exported from libzolk2sj; only the natives and the
// what-string are.
#ifndef ZOLK_ZOLKTJ_ZOLKJNISUPPORT_H
#define ZOLK_ZOLKTJ_ZOLKJNISUPPORT_H

#include <jni.h>

#include "zolk2t.h"

extern "C" {
__attribute__((visibility("default"))) extern const char ZOLK_jnilib_version_string[];
}

// Copies at most size - 1 bytes of the array and a NUL into dst: 1 if the
// whole array fitted, 0 if it was cut (or could not be read: dst is then
// empty).
int jbyteArrayToCString(JNIEnv* env, jbyteArray array, char* dst, int size);
// The same copy; null on success, else the (8, 18) error object of package
// zolklib2 (or null if that cannot be made). dst is terminated either way.
jobject ZOLK_jbyteArrayToCString(JNIEnv* env, jbyteArray array, char* dst, int size);
// At most max bytes of the array and a NUL into dst (max + 1 bytes); 0.
int ZOLK_jbyteArrayToStringZero(JNIEnv* env, char* dst, jbyteArray array, int max);
// At most max bytes of the string's modified UTF-8, the rest of dst up to
// and including index max filled with NUL; 0, or -1 (dst untouched, the
// exception cleared) when the characters could not be had.
int ZOLK_jstringToStringZero(JNIEnv* env, char* dst, jstring s, int max);
// At most max bytes of s.getBytes() (the default character set) and a NUL;
// 0, or -1 (dst untouched, the exception cleared) when getBytes raised.
int ZOLK_jstringToStringZeroMultiByte(JNIEnv* env, jmethodID getBytes, char* dst, jstring s,
                                      int max);
// The count low hexadecimal digits of value, upper case, most significant
// first, without a terminator; nothing for count <= 0.
void ZOLK_IntToStrHex(JNIEnv* env, char* dst, int value, int count);
// "J" and seven hexadecimal digits of a hash of the current Java thread's
// name, NUL-terminated (9 bytes); -1 (exception cleared) on any failure.
int ZOLK_getJavaThreadID(JNIEnv* env, char* dst);

namespace zolktj {

// What a caller passes when the thread identifier cannot be had; 10 bytes.
constexpr char kNoThreadId[] = "J------- ";
constexpr int kThreadIdSize = sizeof kNoThreadId;

// The code and position of the error object for a failed JNI step.
constexpr jint kJniStepFailed = 8;
constexpr jint kJniStepPosition = 18;

// A text buffer of at most N bytes and its NUL, empty until written, so
// that a conversion that fails leaves a terminated empty string.
template <int N>
struct Bounded {
  static constexpr int kMax = N;
  char text[N + 1];
  Bounded() { text[0] = '\0'; }
};

// The core sees the low 32 bits of a Java handle; Java gets the handle back
// zero-extended.
inline ZOLK2_TraceHandle HandleOf(jlong handle) { return static_cast<ZOLK2_TraceHandle>(handle); }
inline jlong JavaHandle(ZOLK2_TraceHandle handle) { return static_cast<jlong>(handle); }

// An option block is passed only if path, size and count all pass, tested
// in this order; the path is converted by `convert` (which answers the
// converted text, possibly empty) only once the numbers have passed.
template <typename Convert>
const ZOLK2_TraceOption* OptionBlock(ZOLK2_TraceOption* block, bool hasPath, jint size,
                                     jint count, Convert convert) {
  if (!hasPath || size < 4096 || count < 1 || count > 16) return nullptr;
  const char* path = convert();
  if (path == nullptr || path[0] == '\0') return nullptr;
  *block = {size, count, path};
  return block;
}

// What the two classes of package zolklib2 share: the bounds of their
// copies in bytes (each buffer one more, for the NUL), and their answers
// over pelvar.zolklib2.ZolkErrCode.
namespace zolklib2 {
constexpr int kNameMax = 24;
constexpr int kPathMax = 1024;
constexpr int kIdMax = 24;
constexpr int kTextMax = 31;
constexpr int kTypeMax = 5;
constexpr int kMessageMax = 4096;

// errorBeforeJNI(8, 18), the answer to a failed JNI step.
jobject JniStepFailed(JNIEnv* env);
// The error object of the core's last failure.
jobject ErrorFromCore(JNIEnv* env);
// Null for a core result of 0, else the error object.
inline jobject ResultOf(JNIEnv* env, int rc) { return rc == 0 ? nullptr : ErrorFromCore(env); }
}  // namespace zolklib2

// The core's log file clean-up by number and by age, as calls on a path.
inline auto ClearLogsByNum(jint number) {
  return [number](const char* p) { return ZOLK2_LogFileClear(p, ZOLK2_LOGCLEAR_BY_NUM, number); };
}
inline auto ClearLogsByTime(jint age) {
  return [age](const char* p) { return ZOLK2_LogFileClear(p, ZOLK2_LOGCLEAR_BY_TIME, age); };
}

// How a creating call's result r is taken: 0 succeeds; 1 succeeds without
// an option block, 2 with bit 0 of flags, else both fail with clean-up;
// -1 fails plainly; 3 and any other result as the class decides.
enum class Outcome { kSuccess, kFailure, kFailureWithCleanup };
Outcome JudgeCreate(int r, bool blockPassed, jint flags, Outcome three, Outcome other);

// The zolklib2 error style over the error class cls: every exception is
// cleared, and null answers where the object cannot be made.
// cls.errorBeforeJNI(code, position):
jobject Zolklib2ErrorBeforeJNI(JNIEnv* env, const char* cls, jint code, jint position);
// new cls(word, detail) from ZOLK2_GetLastError, read before any JNI call:
jobject Zolklib2ErrorFromCore(JNIEnv* env, const char* cls);

// The zolklibM error style over the error class cls: cls.method(a, b),
// where fromCore takes (word, detail) from ZOLK2_GetLastError just before
// the call. A lookup's exception stays pending; a missing class becomes a
// java.lang.ClassNotFoundException with `missing` as its message.
jobject ZolklibMError(JNIEnv* env, const char* cls, const char* missing, const char* method,
                      bool fromCore, jint a, jint b);

}  // namespace zolktj

#endif
