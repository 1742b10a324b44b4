// Natives of pelvar.zolklibM.ZolkJniTrace: the multi-instance trace, one
// core instance per Java object, its handle in the long field m_jniInstance.
//
// Arguments are checked before the core is called: a null required array
// answers errorBeforeJNI(1, position), a path that does not fit its buffer
// errorBeforeJNI(13, position), where position is bits 23..0 of the core's
// last error word as the call found it. A failed core call answers
// errorAfterJNI(), success null. Exceptions of the lookups stay pending for
// the Java caller; a missing error class becomes a ClassNotFoundException.
#include <jni.h>

#include "ZolkJniScoped.h"
#include "ZolkJniSupport.h"

using zolkjni::LocalRef;
using zolktj::Bounded;
using zolktj::HandleOf;
using zolktj::Outcome;

namespace {

constexpr char kErrCodeClass[] = "pelvar/zolklibM/ZolkErrCode";
constexpr char kErrCodeMissing[] = "pelvar.zolklibM.ZolkErrCode class was not found.";

constexpr jint kNullArgument = 1;
constexpr jint kTooLong = 13;

// Bounds of the copies, in bytes (each buffer one more, for the NUL).
constexpr int kNameMax = 255;
constexpr int kPathMax = 8191;
constexpr int kFirstMax = 255;
constexpr int kSecondMax = 63;
constexpr int kTypeMax = 31;
constexpr int kMessageMax = 8191;

constexpr ZOLK2_TraceHandle kNoInstance = 0;

// Where the core's last error arose, read before any lookup of the call.
jint position() { return ZOLK2_TRACE_ERROR_POSITION(ZOLK2_GetLastError(nullptr)); }

jobject errorBeforeJNI(JNIEnv* env, jint code, jint pos) {
  return zolktj::ZolklibMError(env, kErrCodeClass, kErrCodeMissing, "errorBeforeJNI", false, code,
                               pos);
}

jobject errorAfterJNI(JNIEnv* env) {
  return zolktj::ZolklibMError(env, kErrCodeClass, kErrCodeMissing, "errorAfterJNI", true, 0, 0);
}

jobject resultOf(JNIEnv* env, int rc) { return rc == 0 ? nullptr : errorAfterJNI(env); }

// The natives whose only argument to check is a required path: null
// answers code 1, one that does not fit its buffer 13.
template <typename Call>
jobject withPath(JNIEnv* env, jbyteArray path, Call call) {
  if (path == nullptr) return errorBeforeJNI(env, kNullArgument, position());
  Bounded<kPathMax> buf;
  if (jbyteArrayToCString(env, path, buf.text, kPathMax + 1) == 0)
    return errorBeforeJNI(env, kTooLong, position());
  return resultOf(env, call(buf.text));
}

// A time the lock setters take: one that fits a signed 32-bit int.
bool fitsInt(jlong time) { return static_cast<jlong>(static_cast<jint>(time)) == time; }

// After a failed start whose instance is deleted again: the error object
// gets the position of the core's last error after the delete.
jobject failWithDelete(JNIEnv* env, ZOLK2_TraceHandle handle) {
  jobject err = errorAfterJNI(env);
  ZOLK2_DeleteInstance(handle);
  if (err == nullptr || env->ExceptionCheck()) return nullptr;
  LocalRef<jclass> cls(env, env->GetObjectClass(err));
  const jmethodID set = env->GetMethodID(cls.get(), "setErrPosInfoByIndex", "(I)V");
  if (env->ExceptionCheck() || set == nullptr) return nullptr;
  env->CallVoidMethod(err, set, position());
  return env->ExceptionCheck() ? nullptr : err;
}

}  // namespace

extern "C" {

JNIEXPORT jobject JNICALL Java_pelvar_zolklibM_ZolkJniTrace_jni_1startTrace(
    JNIEnv* env, jobject self, jbyteArray name, jbyteArray path, jint count, jint size,
    jint extra, jint flags) {
  if (name == nullptr) return errorBeforeJNI(env, kNullArgument, position());
  Bounded<kNameMax> nameBuf;
  jbyteArrayToCString(env, name, nameBuf.text, kNameMax + 1);
  Bounded<kPathMax> pathBuf;
  if (path != nullptr && jbyteArrayToCString(env, path, pathBuf.text, kPathMax + 1) == 0)
    return errorBeforeJNI(env, kTooLong, position());

  LocalRef<jclass> cls(env, env->GetObjectClass(self));
  const jfieldID field = env->GetFieldID(cls.get(), "m_jniInstance", "J");
  if (field == nullptr || env->ExceptionCheck()) return nullptr;

  // The file set goes to the core as given, without a range test.
  ZOLK2_TraceOption block = {size, count, pathBuf.text};
  const ZOLK2_TraceOption* option = path != nullptr ? &block : nullptr;
  ZOLK2_TraceHandle handle = kNoInstance;
  const int r = ZOLK2_CreateInstanceM(&handle, option, nameBuf.text, extra);
  switch (zolktj::JudgeCreate(r, option != nullptr, flags, Outcome::kSuccess, Outcome::kFailure)) {
    case Outcome::kSuccess:
      env->SetLongField(self, field, zolktj::JavaHandle(handle));
      return nullptr;
    case Outcome::kFailure:
      return errorAfterJNI(env);
    case Outcome::kFailureWithCleanup:
      break;
  }
  return failWithDelete(env, handle);
}

JNIEXPORT jobject JNICALL Java_pelvar_zolklibM_ZolkJniTrace_jni_1endTrace(JNIEnv* env, jobject,
                                                                        jlong handle) {
  return resultOf(env, ZOLK2_DeleteInstance(HandleOf(handle)));
}

JNIEXPORT jobject JNICALL Java_pelvar_zolklibM_ZolkJniTrace_jni_1putMsg(
    JNIEnv* env, jobject, jlong handle, jint level, jbyteArray first, jbyteArray second,
    jbyteArray type, jbyteArray message) {
  if (first == nullptr || second == nullptr || message == nullptr)
    return errorBeforeJNI(env, kNullArgument, position());
  Bounded<kFirstMax> firstBuf;
  Bounded<kSecondMax> secondBuf;
  Bounded<kTypeMax> typeBuf;
  Bounded<kMessageMax> messageBuf;
  jbyteArrayToCString(env, first, firstBuf.text, kFirstMax + 1);
  jbyteArrayToCString(env, second, secondBuf.text, kSecondMax + 1);
  if (type != nullptr) jbyteArrayToCString(env, type, typeBuf.text, kTypeMax + 1);
  jbyteArrayToCString(env, message, messageBuf.text, kMessageMax + 1);
  const ZOLK2_TraceHandle h = HandleOf(handle);
  return resultOf(env, type != nullptr
                           ? ZOLK2_PutInstanceWithMsgType(h, level, firstBuf.text, secondBuf.text,
                                                          typeBuf.text, messageBuf.text)
                           : ZOLK2_PutInstanceWithIdEx(h, level, firstBuf.text, secondBuf.text,
                                                       messageBuf.text));
}

JNIEXPORT jobject JNICALL Java_pelvar_zolklibM_ZolkJniTrace_jni_1flushBuffer(JNIEnv* env, jobject,
                                                                           jlong handle) {
  return resultOf(env, ZOLK2_InstanceFileBufferFlush(HandleOf(handle)));
}

JNIEXPORT jobject JNICALL Java_pelvar_zolklibM_ZolkJniTrace_jni_1traceBackup(
    JNIEnv* env, jobject, jlong handle, jbyteArray path, jint value) {
  return withPath(env, path, [handle, value](const char* p) {
    return ZOLK2_InstanceTraceBackupM(HandleOf(handle), p, value);
  });
}

JNIEXPORT jobject JNICALL Java_pelvar_zolklibM_ZolkJniTrace_jni_1chFileAttr(JNIEnv* env, jobject,
                                                                          jlong handle,
                                                                          jint attribute) {
  return resultOf(env, ZOLK2_ChInstanceFileAttr(HandleOf(handle), attribute));
}

JNIEXPORT jobject JNICALL Java_pelvar_zolklibM_ZolkJniTrace_jni_1logFileClearByNum(
    JNIEnv* env, jclass, jbyteArray path, jint number) {
  return withPath(env, path, zolktj::ClearLogsByNum(number));
}

JNIEXPORT jobject JNICALL Java_pelvar_zolklibM_ZolkJniTrace_jni_1logFileClearByTime(
    JNIEnv* env, jclass, jbyteArray path, jint age) {
  return withPath(env, path, zolktj::ClearLogsByTime(age));
}

JNIEXPORT jint JNICALL Java_pelvar_zolklibM_ZolkJniTrace_jni_1setLogLevel(JNIEnv*, jobject,
                                                                        jlong handle, jint level) {
  return ZOLK2_SetInstanceLogLevel(HandleOf(handle), level);
}

JNIEXPORT jint JNICALL Java_pelvar_zolklibM_ZolkJniTrace_jni_1setFileThreshold(
    JNIEnv*, jobject, jlong handle, jint threshold) {
  return ZOLK2_SetInstanceFileThreshold(HandleOf(handle), threshold);
}

JNIEXPORT jint JNICALL Java_pelvar_zolklibM_ZolkJniTrace_jni_1setShmThreshold(
    JNIEnv*, jobject, jlong handle, jint threshold) {
  return ZOLK2_SetInstanceShmThreshold(HandleOf(handle), threshold);
}

JNIEXPORT jint JNICALL Java_pelvar_zolklibM_ZolkJniTrace_jni_1setLockRetryTimes(
    JNIEnv*, jobject, jlong handle, jint times) {
  return ZOLK2_SetInstanceLockRetryTimes(HandleOf(handle), times);
}

JNIEXPORT jint JNICALL Java_pelvar_zolklibM_ZolkJniTrace_jni_1setLockSleepTime(JNIEnv*, jobject,
                                                                             jlong handle,
                                                                             jlong time) {
  if (!fitsInt(time)) return -1;
  return ZOLK2_SetInstanceLockWaitTime(HandleOf(handle), static_cast<jint>(time));
}

JNIEXPORT jint JNICALL Java_pelvar_zolklibM_ZolkJniTrace_jni_1setLockBlockTime(JNIEnv*, jobject,
                                                                             jlong, jlong time) {
  // The core has no such setting: a time in range is accepted and ignored.
  return fitsInt(time) ? 0 : -1;
}

JNIEXPORT jint JNICALL Java_pelvar_zolklibM_ZolkJniTrace_jni_1getLastErrorPos(JNIEnv*, jclass) {
  const int word = ZOLK2_GetLastError(nullptr);
  return word == ZOLK2_TRACE_NO_ERROR ? -1 : ZOLK2_TRACE_ERROR_POSITION(word);
}

}  // extern "C"
