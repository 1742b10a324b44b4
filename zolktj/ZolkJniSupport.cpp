// Conversions, thread identifiers and error objects shared by the natives
// of the Java trace bridge. Every copy is bounded by its caller's buffer and
// ends with NUL on every path.
#include "ZolkJniSupport.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "ZolkJniCache.h"
#include "ZolkJniScoped.h"

using zolkjni::CachedClass;
using zolkjni::ClearedPendingException;
using zolkjni::LocalRef;
using zolkjni::UtfChars;

extern "C" {
const char ZOLK_jnilib_version_string[] =
    "@(#)Quorvex Bexa Trace Library 2. 03-16-/A.  Last Update: Jan  9 2008";
}

namespace {

constexpr char kZolklib2ErrCode[] = "pelvar/zolklib2/ZolkErrCode";
// The thread name is hashed over at most this many bytes.
constexpr int kThreadNameMax = 256;

// Thread.currentThread() and Thread.getName(), found once.
constexpr zolkjni::MethodSig kThreadMethods[] = {
    {"currentThread", "()Ljava/lang/Thread;", true},
    {"getName", "()Ljava/lang/String;", false},
};
CachedClass<2> cs_thread("java/lang/Thread", kThreadMethods);

// The length of an array, 0 for a null one.
jsize lengthOf(JNIEnv* env, jbyteArray array) {
  return array != nullptr ? env->GetArrayLength(array) : 0;
}

// Copies n bytes of the array into dst and stores NUL at dst[n]; false
// (dst empty, the exception cleared) if the copy raised.
bool copyRegion(JNIEnv* env, jbyteArray array, char* dst, jsize n) {
  if (n > 0) {
    env->GetByteArrayRegion(array, 0, n, reinterpret_cast<jbyte*>(dst));
    if (ClearedPendingException(env)) {
      dst[0] = '\0';
      return false;
    }
  }
  dst[n] = '\0';
  return true;
}

// The first max bytes of the modified UTF-8 of s (not null) into dst, NUL
// up to and including dst[max]; false (exception cleared) when the
// characters could not be had. A character makes one to three bytes and
// never a zero byte, so a string of at most max / 3 characters fits without
// being measured, and one of at most max characters is measured without
// its byte count wrapping around; a string that fits is converted straight
// into dst, a longer one through the characters the virtual machine copies
// out.
bool utfPrefix(JNIEnv* env, jstring s, char* dst, int max) {
  const jsize length = env->GetStringLength(s);
  if (length <= max / 3 || (length <= max && env->GetStringUTFLength(s) <= max)) {
    std::memset(dst, 0, static_cast<std::size_t>(max) + 1);
    // The whole string is in range, so this cannot raise; the check is the
    // one every call that may raise is owed.
    env->GetStringUTFRegion(s, 0, length, dst);
    return !ClearedPendingException(env);
  }
  UtfChars chars(env, s);
  if (ClearedPendingException(env) || chars.get() == nullptr) return false;
  const std::size_t n = ::strnlen(chars.get(), static_cast<std::size_t>(max));
  std::memcpy(dst, chars.get(), n);
  std::memset(dst + n, 0, static_cast<std::size_t>(max) - n + 1);
  return true;
}

}  // namespace

int jbyteArrayToCString(JNIEnv* env, jbyteArray array, char* dst, int size) {
  if (size <= 0) return 0;
  const jsize length = lengthOf(env, array);
  const jsize n = length < size ? length : size - 1;
  return copyRegion(env, array, dst, n) && n == length ? 1 : 0;
}

jobject ZOLK_jbyteArrayToCString(JNIEnv* env, jbyteArray array, char* dst, int size) {
  if (size <= 0) return nullptr;
  const jsize length = lengthOf(env, array);
  if (copyRegion(env, array, dst, length < size ? length : size - 1)) return nullptr;
  return zolktj::zolklib2::JniStepFailed(env);
}

int ZOLK_jbyteArrayToStringZero(JNIEnv* env, char* dst, jbyteArray array, int max) {
  if (max < 0) return 0;
  const jsize length = lengthOf(env, array);
  copyRegion(env, array, dst, length < max ? length : max);
  return 0;
}

int ZOLK_jstringToStringZero(JNIEnv* env, char* dst, jstring s, int max) {
  if (s == nullptr || max < 0) return -1;
  // Fixed-width field semantics: the bytes kept, then NUL up to index max.
  return utfPrefix(env, s, dst, max) ? 0 : -1;
}

int ZOLK_jstringToStringZeroMultiByte(JNIEnv* env, jmethodID getBytes, char* dst, jstring s,
                                      int max) {
  if (s == nullptr) return -1;
  LocalRef<jobject> bytes(env, env->CallObjectMethod(s, getBytes));
  if (ClearedPendingException(env) || !bytes) return -1;
  return ZOLK_jbyteArrayToStringZero(env, dst, static_cast<jbyteArray>(bytes.get()), max);
}

void ZOLK_IntToStrHex(JNIEnv*, char* dst, int value, int count) {
  static const char kDigits[] = "0123456789ABCDEF";
  for (int i = count - 1; i >= 0; --i) {
    dst[i] = kDigits[value & 0xF];
    value >>= 4;  // arithmetic: the sign fills from the left
  }
}

int ZOLK_getJavaThreadID(JNIEnv* env, char* dst) {
  if (!cs_thread.Resolve(env)) return -1;
  LocalRef<jobject> thread(env, env->CallStaticObjectMethod(cs_thread.Class(), cs_thread.Method(0)));
  if (ClearedPendingException(env) || !thread) return -1;
  // The name is read afresh on every call: a thread may be renamed.
  LocalRef<jstring> name(
      env, static_cast<jstring>(env->CallObjectMethod(thread.get(), cs_thread.Method(1))));
  if (ClearedPendingException(env) || !name) return -1;

  char work[kThreadNameMax + 1];
  if (!utfPrefix(env, name.get(), work, kThreadNameMax)) return -1;
  // Each byte counts as signed, so that names outside ASCII hash as the
  // identifiers already written by other programs of the toolkit.
  std::uint32_t h = 0;
  for (const char* p = work; *p != '\0'; ++p)
    h = h * 16u + static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(*p)));
  ZOLK_IntToStrHex(env, dst, static_cast<int>(h), 8);
  dst[0] = 'J';
  dst[8] = '\0';
  return 0;
}

namespace zolktj {

jobject zolklib2::JniStepFailed(JNIEnv* env) {
  return Zolklib2ErrorBeforeJNI(env, kZolklib2ErrCode, kJniStepFailed, kJniStepPosition);
}

jobject zolklib2::ErrorFromCore(JNIEnv* env) { return Zolklib2ErrorFromCore(env, kZolklib2ErrCode); }

Outcome JudgeCreate(int r, bool blockPassed, jint flags, Outcome three, Outcome other) {
  switch (r) {
    case 0:
      return Outcome::kSuccess;
    case 1:
      return blockPassed ? Outcome::kFailureWithCleanup : Outcome::kSuccess;
    case 2:
      return (flags & 1) != 0 ? Outcome::kSuccess : Outcome::kFailureWithCleanup;
    case 3:
      return three;
    case -1:
      return Outcome::kFailure;
    default:
      return other;
  }
}

jobject Zolklib2ErrorBeforeJNI(JNIEnv* env, const char* cls, jint code, jint position) {
  LocalRef<jclass> errClass(env, env->FindClass(cls));
  if (ClearedPendingException(env) || !errClass) return nullptr;
  std::string sig = std::string("(II)L") + cls + ";";
  const jmethodID make = env->GetStaticMethodID(errClass.get(), "errorBeforeJNI", sig.c_str());
  if (ClearedPendingException(env) || make == nullptr) return nullptr;
  jobject err = env->CallStaticObjectMethod(errClass.get(), make, code, position);
  if (ClearedPendingException(env)) {
    if (err != nullptr) env->DeleteLocalRef(err);
    return nullptr;
  }
  return err;
}

jobject Zolklib2ErrorFromCore(JNIEnv* env, const char* cls) {
  int detail = 0;
  const int word = ZOLK2_GetLastError(&detail);
  LocalRef<jclass> errClass(env, env->FindClass(cls));
  if (ClearedPendingException(env) || !errClass) return nullptr;
  const jmethodID init = env->GetMethodID(errClass.get(), "<init>", "(II)V");
  if (ClearedPendingException(env) || init == nullptr) return nullptr;
  jobject err = env->NewObject(errClass.get(), init, word, detail);
  ClearedPendingException(env);
  return err;
}

namespace {

// True, with the exception cleared, when the pending exception is the
// NoClassDefFoundError that FindClass raises for cls itself; any other
// exception stays pending.
bool PendingIsMissing(JNIEnv* env, const char* cls) {
  LocalRef<jthrowable> pending(env, env->ExceptionOccurred());
  env->ExceptionClear();
  bool missing = false;
  {
    LocalRef<jclass> ncdfe(env, env->FindClass("java/lang/NoClassDefFoundError"));
    if (ncdfe && env->IsInstanceOf(pending.get(), ncdfe.get())) {
      LocalRef<jclass> throwable(env, env->GetObjectClass(pending.get()));
      const jmethodID getMessage =
          env->GetMethodID(throwable.get(), "getMessage", "()Ljava/lang/String;");
      if (getMessage != nullptr) {
        LocalRef<jstring> message(
            env, static_cast<jstring>(env->CallObjectMethod(pending.get(), getMessage)));
        if (!env->ExceptionCheck() && message) {
          UtfChars chars(env, message.get());
          missing = chars.get() != nullptr && std::strcmp(chars.get(), cls) == 0;
        }
      }
    }
    env->ExceptionClear();
  }
  if (!missing) env->Throw(pending.get());
  return missing;
}

void ThrowClassNotFound(JNIEnv* env, const char* message) {
  LocalRef<jclass> cnfe(env, env->FindClass("java/lang/ClassNotFoundException"));
  if (cnfe) env->ThrowNew(cnfe.get(), message);
}

}  // namespace

jobject ZolklibMError(JNIEnv* env, const char* cls, const char* missing, const char* method,
                      bool fromCore, jint a, jint b) {
  LocalRef<jclass> errClass(env, env->FindClass(cls));
  if (env->ExceptionCheck()) {
    if (PendingIsMissing(env, cls)) ThrowClassNotFound(env, missing);
    return nullptr;
  }
  if (!errClass) {
    ThrowClassNotFound(env, missing);
    return nullptr;
  }
  std::string sig = std::string("(II)L") + cls + ";";
  const jmethodID make = env->GetStaticMethodID(errClass.get(), method, sig.c_str());
  if (env->ExceptionCheck() || make == nullptr) return nullptr;
  if (fromCore) {
    b = 0;
    a = ZOLK2_GetLastError(&b);
  }
  jobject err = env->CallStaticObjectMethod(errClass.get(), make, a, b);
  if (env->ExceptionCheck()) {
    if (err != nullptr) env->DeleteLocalRef(err);
    return nullptr;
  }
  return err;
}

}  // namespace zolktj
