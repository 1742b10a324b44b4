// Natives of pelvar.zolklib2.ZolkJniTrace2: one core trace instance per Java
// object, its handle kept in the object's long field m_jniInstance.
//
// Texts arrive as byte arrays, already encoded, and are copied as they are,
// cut silently to their bounds; a null array reaches the core as null.
// Java exceptions never leave these natives: each is cleared, and a native
// answers null, an int, or an error object of pelvar.zolklib2.ZolkErrCode.
#include <jni.h>

#include "ZolkJniScoped.h"
#include "ZolkJniSupport.h"

using zolkjni::ClearedPendingException;
using zolkjni::LocalRef;
using zolktj::Bounded;
using zolktj::HandleOf;
using namespace zolktj::zolklib2;

namespace {

// No instance has this handle, so deleting it and storing it after a
// creating call that wrote none does no harm.
constexpr ZOLK2_TraceHandle kNoInstance = 0;

// An optional array into buf: *text is null for a null array, else buf.
// A failed copy answers its error object (buf then empty).
template <int N>
jobject copy(JNIEnv* env, jbyteArray array, Bounded<N>* buf, const char** text) {
  *text = nullptr;
  if (array == nullptr) return nullptr;
  *text = buf->text;
  return ZOLK_jbyteArrayToCString(env, array, buf->text, N + 1);
}

// The natives that take one optional path.
template <typename Call>
jobject withPath(JNIEnv* env, jbyteArray path, Call call) {
  Bounded<kPathMax> buf;
  const char* text;
  if (jobject err = copy(env, path, &buf, &text)) return err;
  return ResultOf(env, call(text));
}

}  // namespace

extern "C" {

JNIEXPORT jobject JNICALL Java_pelvar_zolklib2_ZolkJniTrace2_jni_1startTrace(
    JNIEnv* env, jobject self, jbyteArray name, jbyteArray path, jint size, jint count,
    jint flags) {
  if (name == nullptr) return JniStepFailed(env);
  Bounded<kNameMax> nameBuf;
  const char* nameText;
  if (jobject err = copy(env, name, &nameBuf, &nameText)) return err;

  Bounded<kPathMax> pathBuf;
  jobject pathErr = nullptr;
  ZOLK2_TraceOption block;
  const ZOLK2_TraceOption* option =
      zolktj::OptionBlock(&block, path != nullptr, size, count, [&]() -> const char* {
        const char* text;
        pathErr = copy(env, path, &pathBuf, &text);
        return pathErr != nullptr ? nullptr : text;
      });
  if (pathErr != nullptr) return pathErr;

  LocalRef<jclass> cls(env, env->GetObjectClass(self));
  const jfieldID field = env->GetFieldID(cls.get(), "m_jniInstance", "J");
  if (ClearedPendingException(env) || field == nullptr) return JniStepFailed(env);

  ZOLK2_TraceHandle handle = kNoInstance;
  const int r = ZOLK2_CreateInstance(&handle, option, nameText);
  // Every failure here is the same: 3 too, unlike in the other two classes.
  if (zolktj::JudgeCreate(r, option != nullptr, flags, zolktj::Outcome::kFailure,
                          zolktj::Outcome::kFailure) == zolktj::Outcome::kSuccess) {
    env->SetLongField(self, field, zolktj::JavaHandle(handle));
    return nullptr;
  }
  jobject err = ErrorFromCore(env);
  ZOLK2_DeleteInstance(handle);
  env->SetLongField(self, field, zolktj::JavaHandle(handle));
  return err;
}

JNIEXPORT jobject JNICALL Java_pelvar_zolklib2_ZolkJniTrace2_jni_1endTrace(JNIEnv* env, jobject,
                                                                         jlong handle) {
  return ResultOf(env, ZOLK2_DeleteInstance(HandleOf(handle)));
}

JNIEXPORT jobject JNICALL Java_pelvar_zolklib2_ZolkJniTrace2_jni_1putMsg(
    JNIEnv* env, jobject, jlong handle, jint level, jbyteArray id, jbyteArray text,
    jbyteArray type, jbyteArray message) {
  Bounded<kIdMax> idBuf;
  Bounded<kTextMax> textBuf;
  Bounded<kTypeMax> typeBuf;
  Bounded<kMessageMax> messageBuf;
  const char *idText, *textText, *typeText, *messageText;
  if (jobject err = copy(env, id, &idBuf, &idText)) return err;
  if (jobject err = copy(env, text, &textBuf, &textText)) return err;
  if (jobject err = copy(env, type, &typeBuf, &typeText)) return err;
  if (jobject err = copy(env, message, &messageBuf, &messageText)) return err;
  const ZOLK2_TraceHandle h = HandleOf(handle);
  return ResultOf(env, type != nullptr
                           ? ZOLK2_PutInstanceWithMsgType(h, level, idText, textText, typeText,
                                                          messageText)
                           : ZOLK2_PutInstanceWithIdEx(h, level, idText, textText, messageText));
}

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkJniTrace2_jni_1setLogLevel(JNIEnv*, jobject,
                                                                         jlong handle,
                                                                         jint level) {
  return ZOLK2_SetInstanceLogLevel(HandleOf(handle), level);
}

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkJniTrace2_jni_1setFileThreshold(
    JNIEnv*, jobject, jlong handle, jint threshold) {
  return ZOLK2_SetInstanceFileThreshold(HandleOf(handle), threshold);
}

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkJniTrace2_jni_1setShmThreshold(
    JNIEnv*, jobject, jlong handle, jint threshold) {
  return ZOLK2_SetInstanceShmThreshold(HandleOf(handle), threshold);
}

JNIEXPORT jobject JNICALL Java_pelvar_zolklib2_ZolkJniTrace2_jni_1logFileClearByNum(
    JNIEnv* env, jclass, jbyteArray path, jint number) {
  return withPath(env, path, zolktj::ClearLogsByNum(number));
}

JNIEXPORT jobject JNICALL Java_pelvar_zolklib2_ZolkJniTrace2_jni_1logFileClearByTime(
    JNIEnv* env, jclass, jbyteArray path, jint age) {
  return withPath(env, path, zolktj::ClearLogsByTime(age));
}

JNIEXPORT jobject JNICALL Java_pelvar_zolklib2_ZolkJniTrace2_jni_1traceBackup(JNIEnv* env,
                                                                            jobject,
                                                                            jlong handle,
                                                                            jbyteArray path) {
  return withPath(env, path, [handle](const char* p) {
    return ZOLK2_InstanceTraceBackup(HandleOf(handle), p);
  });
}

JNIEXPORT jobject JNICALL Java_pelvar_zolklib2_ZolkJniTrace2_jni_1chFileAttr(JNIEnv* env,
                                                                           jobject,
                                                                           jlong handle,
                                                                           jint attribute) {
  return ResultOf(env, ZOLK2_ChInstanceFileAttr(HandleOf(handle), attribute));
}

}  // extern "C"
